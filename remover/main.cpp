#include <windows.h>

#include <shellapi.h>

#include <cstdlib>
#include <optional>

#include "MainMode.h"
#include "account.h"
#include "command_line.h"
#include "dll_search.h"
#include "logbook.h"
#include "scoped.h"

namespace {

constexpr wchar_t kUsage[] =
    L"用法：remover.exe [/allusers] [/quiet] [/log 文件] [/?]\n\n"
    L"/allusers\t移除为本机所有账户安装的加载项（需要管理员权限），不启动 Excel。\n"
    L"/quiet\t不显示窗口，直接移除当前用户的加载项和设置，以退出代码报告结果。\n"
    L"/log 文件\t把移除过程记录到该文件（UTF-8 文本）。\n"
    L"/?\t显示本说明，不移除。\n\n";

// Apps & features runs "remover.exe /allusers" as the user's program, without administrator rights:
// where Windows would give them once the user consents, the removal runs again with them, in a
// process of its own, and this one ends as that one did. Nothing where it could not be started
// (the user declined): this one then says that it must run as administrator.
std::optional<DWORD> RunElevated(const wchar_t* arguments) {
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    // Loaded only here, from the system folder: the remover imports nothing of the shell.
    const HMODULE shell = LoadSystemDll(L"shell32");
    const auto execute = reinterpret_cast<BOOL(WINAPI*)(SHELLEXECUTEINFOW*)>(
        reinterpret_cast<void*>(shell ? GetProcAddress(shell, "ShellExecuteExW") : nullptr));
    if (length == 0 || length >= MAX_PATH || !execute) return std::nullopt;
    SHELLEXECUTEINFOW run = {};
    run.cbSize = sizeof run;
    run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    run.lpVerb = L"runas";
    run.lpFile = self;
    run.lpParameters = arguments;
    run.nShow = SW_SHOWNORMAL;
    if (!execute(&run) || !run.hProcess) return std::nullopt;
    const UniqueHandle process(run.hProcess);
    DWORD code = exit_code::kElevationRequired;
    WaitForSingleObject(process.get(), INFINITE);
    GetExitCodeProcess(process.get(), &code);
    return code;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showCommand) {
    HardenDllSearch();
    const CommandLine line = ParseCommandLine(__argc - 1, __wargv + 1);
    if (!line.logFile.empty()) logbook::Open(line.logFile, L"remover", commandLine);
    if (line.action != CommandLine::kRun)
        return logbook::Ending(
            ExplainUsage(line, kUsage + ExitCodesText(exit_code::kRemover), L"提示"));
    const bool administrator = HasAdministratorRights();
    // The system account's windows show on no one's desktop: there, it runs as with /quiet.
    const bool quiet = line.quiet || IsServiceAccount();
    if (quiet != line.quiet)
        logbook::Note(L"以系统账户（或服务账户）运行：不显示窗口，如同 /quiet。");
    if (line.allUsers && !administrator && !quiet && CanBeElevated()) {
        if (const auto elevated = RunElevated(commandLine)) return static_cast<int>(*elevated);
    }
    ComApartment com;
    return MainMode::Main(instance, showCommand, quiet,
                          {.allUsers = line.allUsers, .administrator = administrator});
}
