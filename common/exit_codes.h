// The programs' exit codes, as deployment tools read them from the Windows Installer's.
#pragma once

namespace exit_code {

inline constexpr int kDone = 0;  // installed; removed
// Setup: the user stopped it (Cancel, the close command, also while Excel is asked).
inline constexpr int kCancelled = 1602;  // ERROR_INSTALL_USEREXIT
// The remover: something remains, and its notice says what.
inline constexpr int kSomethingRemains = 1603;  // ERROR_INSTALL_FAILURE
// Either program: another installation or removal runs; nothing was changed.
inline constexpr int kAnotherRuns = 1618;  // ERROR_INSTALL_ALREADY_RUNNING
// Any other code of Setup is the error number of the report it showed (53, 61, 70, ...).

}  // namespace exit_code
