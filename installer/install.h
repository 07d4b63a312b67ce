// The install procedure: what Setup does when the user clicks OK. It runs without a window, so
// that it can be called directly; the window tells the user how it ended.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "account_copies.h"
#include "errors.h"
#include "host.h"
#include "install_set.h"
#include "staged_file.h"

namespace install {

// How an installation is asked for.
struct Options {
    // For every account of the PC: the add-in into the start-up folder in Excel's program folder,
    // which Excel opens for every account, with Excel found from its registration, never started.
    bool allUsers = false;
    // Run by the system account or a service's, whose own start-up folder is nobody's.
    bool serviceAccount = false;
};

// How an installation ended.
struct Outcome {
    Failure failure;               // none: the installation is complete
    bool forEveryAccount = false;  // it went to the start-up folder of every account
    AccountCopies accountCopies;   // the accounts' own copies, taken away then
};

// Installs from `set`, asking `excel` (which holds the host application object afterwards) unless
// the installation is for every account. Gives how it ended; the caller tells the user. Everything
// the host must answer is asked, and every check made, before anything on disk changes; the add-in
// and the host profile are each written whole outside their place and moved there in one step, and
// where the profile cannot be moved, the add-in before it is put back: a failure at any point
// leaves the old ones whole.
Outcome Run(const InstallSet& set, host::Excel& excel, const Options& options = {});

// What the user is told at the end: the completion message, with the accounts' own copies taken
// away or left; the error report; nothing when the user stopped it.
std::wstring FinalMessage(const Outcome& outcome);

}  // namespace install
