#include <windows.h>

#include <cstdlib>

#include "account.h"
#include "command_line.h"
#include "dll_search.h"
#include "exit_codes.h"
#include "fLanguage.h"
#include "host.h"
#include "install.h"
#include "lock.h"
#include "logbook.h"
#include "scoped.h"
#include "window.h"

namespace {

constexpr wchar_t kTitle[] = L"Setup";
constexpr wchar_t kAlreadyRunning[] =
    L"另一个安装或卸载程序正在运行（可能在另一个用户的会话中）。请等它结束后，再运行 Setup。";
constexpr wchar_t kUsage[] =
    L"用法：Setup.exe [/allusers] [/quiet] [/log 文件] [/?]\n\n"
    L"/allusers\t为本机所有账户安装（放入 Excel 程序文件夹中的 XLSTART），不启动 Excel。\n"
    L"/quiet\t不显示窗口和任何提示，直接安装，以退出代码报告结果。\n"
    L"/log 文件\t把安装过程记录到该文件（UTF-8 文本）。\n"
    L"/?\t显示本说明，不安装。\n\n";

}  // namespace

// Installs with the window, as the user clicks, or with /quiet as a click on OK would, without a
// window or message; either way through the same install procedure, lock and bounds.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showCommand) {
    HardenDllSearch();
    const CommandLine line = ParseCommandLine(__argc - 1, __wargv + 1);
    if (!line.logFile.empty()) logbook::Open(line.logFile, L"Setup", commandLine);
    if (line.action != CommandLine::kRun)
        return logbook::Ending(
            ExplainUsage(line, kUsage + ExitCodesText(exit_code::kSetup), kTitle));
    // The system account's windows show on no one's desktop (deployment tools run installers so):
    // there, Setup runs as with /quiet rather than wait for a click that never comes.
    const bool serviceAccount = IsServiceAccount();
    const bool quiet = line.quiet || serviceAccount;
    if (quiet != line.quiet)
        logbook::Note(L"以系统账户（或服务账户）运行：不显示窗口，如同 /quiet。");
    InstallationLock lock(InstallationLock::Taker::kSetup);
    if (!lock.taken()) {
        logbook::Note(std::wstring(L"提示：") + kAlreadyRunning);
        // The Setup that runs stays in charge: it is brought to the front, or, where it cannot be
        // (it runs in another session, or is ending; a remover holds the lock), the user is told.
        if (!quiet && !fLanguage::BringRunningToFront()) {
            MessageBoxW(nullptr, kAlreadyRunning, kTitle, MB_OK | MB_ICONINFORMATION);
        }
        return logbook::Ending(exit_code::kAnotherRuns);
    }
    ComApartment com;
    host::Excel excel;  // the host application object, held until the program ends
    const install::Options options = {.allUsers = line.allUsers, .serviceAccount = serviceAccount};
    int exitCode;
    if (quiet) {
        exitCode = install::ExitCodeOf(
            install::Run(install::InstallSet::OfThisProgram(), excel, options).failure);
    } else {
        fLanguage form(excel, options);
        if (form.Show(instance, showCommand)) {
            exitCode = ui::RunMessageLoop(form.handle());
        } else {
            logbook::Note(L"无法显示安装窗口，未安装。");
            exitCode = exit_code::kSomethingRemains;
        }
    }
    exitCode = logbook::Ending(exitCode);
    lock.Release();
    excel.LetGo(exitCode);
    return exitCode;
}
