// The programs' exit codes, as deployment tools read them from the Windows Installer's. The README
// and the administrator's note (package/README.txt.in) list them for the administrators.
#pragma once

namespace exit_code {

inline constexpr int kDone = 0;  // installed; removed
// Setup: the user stopped it (Cancel, the close command, also while Excel is asked).
inline constexpr int kCancelled = 1602;  // ERROR_INSTALL_USEREXIT
// The remover: something remains, and its notice says what. Setup: run as the system account (or
// a service's) without /allusers, it installs nothing, since such an installation reaches nobody.
inline constexpr int kSomethingRemains = 1603;  // ERROR_INSTALL_FAILURE
// The remover with /allusers, without administrator rights: nothing was changed.
inline constexpr int kElevationRequired = 740;  // ERROR_ELEVATION_REQUIRED
// Either program: another installation or removal runs; nothing was changed.
inline constexpr int kAnotherRuns = 1618;  // ERROR_INSTALL_ALREADY_RUNNING
// Either program: done, but the log asked for (/log) could not be written.
inline constexpr int kLogFailed = 1622;  // ERROR_INSTALL_LOG_FAILURE
// Either program: a command line that cannot be run (an unknown switch, /log without a file name
// or given twice, /? beside other switches); nothing was changed.
inline constexpr int kInvalidCommandLine = 1639;  // ERROR_INVALID_COMMAND_LINE
// Any other code of Setup is the error number of the report it showed (53, 61, 70, ...).

}  // namespace exit_code
