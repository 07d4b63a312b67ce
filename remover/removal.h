// The removal: the add-in out of Excel's start-up folder and the per-user settings section away,
// and what the notice says of it. Each step is attempted on its own; a failing step is abandoned
// and the next one runs.
#pragma once

#include <windows.h>

#include <string>

#include "host.h"
#include "lock.h"

namespace removal {

// The per-user settings section "Vorn" of application "Halvorsk".
inline constexpr wchar_t kSettingsKey[] = L"Software\\VB and VBA Program Settings\\Halvorsk\\Vorn";

// How a removal is asked for.
struct Options {
    // The add-in installed for every account of the PC (in the start-up folder in Excel's program
    // folder), with Excel found from its registration, never started; the accounts' settings stay.
    bool allUsers = false;
    bool administrator = true;  // the program runs with administrator rights
};

// What the removal came to.
struct Outcome {
    // How Excel answered where its folders are (or, for every account, how it was found).
    enum class Excel {
        kAnswered,
        kUnreachable,   // not reached, or it ended while asked
        kUnresponsive,  // it stayed busy, or did not answer at all
        kNotAPath,      // its answer is not a complete folder path: the add-in cannot be located
        kNotFound,      // no Excel registered, or no program file where it is registered
    } excel = Excel::kAnswered;
    // What became of the add-in (and of a copy that an earlier Setup left beside it).
    enum class AddIn {
        kGone,       // the file system says that it is not there
        kInUse,      // it stays: a program (Excel) has it open
        kNoRight,    // it stays: no right to delete it
        kFolder,     // a folder stands at its place
        kMayRemain,  // it could not be looked at (no right to, a share out of reach), or Excel
                     // did not say where it is
    } addIn = AddIn::kGone;
    bool settingsRemain = false;
    // The add-in stays installed for every account (a removal for the account only).
    bool forEveryAccount = false;
    // Nothing was touched: another installation or removal runs; the user closed the window
    // while Excel was asked; a removal for every account without administrator rights.
    bool anotherRuns = false;
    bool stopped = false;
    bool needsAdministrator = false;
};

// Asks Excel for its folders (or, for every account, finds them from its registration), then,
// unless a Setup has started meanwhile (`lock`), deletes the settings section (for the account)
// and the add-in with what earlier runs left beside it, and, where nothing of it remains, its
// entry in Apps & features.
Outcome RemoveAll(host::Excel& excel, InstallationLock& lock, const Options& options = {});

// What the notice says: that the system has been removed, or what is left and what to do.
std::wstring NoticeText(const Outcome& outcome);

// The program's exit code: done when everything is removed.
int ExitCodeOf(const Outcome& outcome);

}  // namespace removal
