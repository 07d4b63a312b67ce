// The add-in's entry in Apps & features, where users find how to remove it and deployment tools
// read which version is installed (DisplayVersion).
#pragma once

#include <string>

#include "install_set.h"

namespace install {

// Writes the entry for the PC (HKEY_LOCAL_MACHINE, where Windows keeps a 32-bit program's
// entries) or for the account (HKEY_CURRENT_USER), which runs the remover beside Setup, and notes
// in the log that it did, or why not: there is no remover beside Setup, or the registry refused it
// (no entry is left then, rather than half of one).
void ListInAppsAndFeatures(const InstallSet& set, bool forThePc);

}  // namespace install
