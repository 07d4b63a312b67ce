// The programs' exit codes, as deployment tools read them from the Windows Installer's: the one
// list of them. The usage texts are made from it; the README and the administrator's note
// (package/README.txt.in) list them for the administrators, and a test holds them to this list.
#pragma once

namespace exit_code {

inline constexpr int kDone = 0;  // installed; removed
// The remover with /allusers, without administrator rights: nothing was changed.
inline constexpr int kElevationRequired = 740;  // ERROR_ELEVATION_REQUIRED
// The user stopped it (Cancel, the close command, also while Excel is asked): nothing was changed.
inline constexpr int kCancelled = 1602;  // ERROR_INSTALL_USEREXIT
// The remover: something remains, and its notice says what. Setup: run as the system account (or
// a service's) without /allusers, it installs nothing, since such an installation reaches nobody.
// Either program: its window could not be made, and nothing was done.
inline constexpr int kSomethingRemains = 1603;  // ERROR_INSTALL_FAILURE
// Either program: another installation or removal runs; nothing was changed.
inline constexpr int kAnotherRuns = 1618;  // ERROR_INSTALL_ALREADY_RUNNING
// Either program: done, but the log asked for (/log) could not be written.
inline constexpr int kLogFailed = 1622;  // ERROR_INSTALL_LOG_FAILURE
// Either program: a command line that cannot be run (an unknown switch, /log without a file name
// or given twice, /? beside other switches); nothing was changed.
inline constexpr int kInvalidCommandLine = 1639;  // ERROR_INVALID_COMMAND_LINE
// Any other code of Setup is the error number of the report it showed (installer/errors.h).

enum Program { kSetup = 1, kRemover = 2, kBoth = kSetup | kRemover };

// What each code means, as the usage says it.
struct Meaning {
    int code;
    Program program;
    const wchar_t* text;
};
inline constexpr Meaning kMeanings[] = {
    {kDone, kSetup, L"安装完成"},
    {kDone, kRemover, L"全部移除"},
    {kElevationRequired, kRemover, L"/allusers 需要管理员权限"},
    {kCancelled, kBoth, L"用户取消"},
    {kSomethingRemains, kSetup, L"以系统账户运行而未加 /allusers，或无法显示窗口，未安装"},
    {kSomethingRemains, kRemover, L"仍有内容未能移除（或无法显示窗口）"},
    {kAnotherRuns, kBoth, L"另一个安装或卸载程序正在运行"},
    {kLogFailed, kSetup, L"安装完成，但日志无法写入"},
    {kLogFailed, kRemover, L"全部移除，但日志无法写入"},
    {kInvalidCommandLine, kBoth, L"命令行无效"},
};

}  // namespace exit_code
