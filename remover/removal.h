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
    bool setupRuns = false;         // an installation holds the lock: nothing was touched
    bool hostReached = false;       // Excel answered where its start-up folder is
    bool addInLocated = false;      // and the answer is a complete folder path
    bool addInRemains = false;      // the add-in is still in that folder
    bool addInInUse = false;        // because a program (Excel) has it open
    bool addInIsFolder = false;     // because a folder stands at its place
    bool settingsRemain = false;    // the settings section is still there
    bool hostUnresponsive = false;  // Excel stayed busy, or did not answer at all
};

// Unless an installation runs, deletes the settings section, then asks the host for its start-up
// folder (keeping the host application object in `host`) and deletes the add-in there. A busy
// host is waited for on `clock`; a host that ends meanwhile counts as not reached.
Outcome RemoveAll(ComPtr<IDispatch>& host, host::Clock& clock = host::SystemClock());

// What is left when the host neither answers nor hands back the cancelled call: the settings were
// dealt with before the host was asked, the add-in not.
Outcome HostStuck();

// What the notice says: that the system has been removed, or what is left and what to do.
std::wstring NoticeText(const Outcome& outcome);

// The program's exit code, as deployment tools read them from the Windows Installer's: 0 when
// everything is removed, 1618 while an installation runs, 1603 when something remains.
inline constexpr int kSomethingRemains = 1603;
int ExitCodeOf(const Outcome& outcome);

}  // namespace removal
