// The accounts' own copies of the add-in, which an installation for every account takes away:
// Excel opens every start-up folder, and a second Qorv.xla in an account's own one makes it say
// at every start that a workbook of that name is already open.
#pragma once

#include <string>
#include <vector>

namespace install {

struct AccountCopies {
    std::vector<std::wstring> removed;
    std::vector<std::wstring> left;  // could not be looked at or removed, with why
};

// Removes, for each profile in the PC's profile list, the add-in from the account's own start-up
// folder, and what earlier runs left beside it; nothing else there is touched.
AccountCopies RemoveAccountCopies();

}  // namespace install
