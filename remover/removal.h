// The removal: the add-in out of Excel's start-up folder and the per-user settings section away.
// Each step is attempted on its own; a failing step is abandoned and the next one runs.
#pragma once

#include <windows.h>

#include <string>

#include "host.h"
#include "scoped.h"

namespace removal {

// The per-user settings section "Vorn" of application "Halvorsk".
inline constexpr wchar_t kSettingsKey[] = L"Software\\VB and VBA Program Settings\\Halvorsk\\Vorn";

// What is left after the attempt.
struct Outcome {
    bool hostReached = false;     // Excel answered where its start-up folder is
    bool addInLocated = false;    // and the answer is a complete folder path
    bool addInRemains = false;    // the add-in is still in that folder
    bool addInInUse = false;      // because a program (Excel) has it open
    bool settingsRemain = false;  // the settings section is still there
    bool hostBusy = false;        // Excel rejected the calls until the busy wait ran out
};

// Deletes the settings section, then asks the host for its start-up folder (keeping the host
// application object in `host`) and deletes the add-in there. A busy host is waited for on
// `clock`; a host that ends meanwhile counts as not reached.
Outcome RemoveAll(ComPtr<IDispatch>& host, host::Clock& clock = host::SystemClock());

// What the notice says: that the system has been removed, or what is left and what to do.
std::wstring NoticeText(const Outcome& outcome);

}  // namespace removal
