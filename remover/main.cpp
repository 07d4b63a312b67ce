#include <windows.h>

#include <cstdlib>

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

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showCommand) {
    HardenDllSearch();
    const CommandLine line = ParseCommandLine(__argc - 1, __wargv + 1);
    if (!line.logFile.empty()) logbook::Open(line.logFile, L"remover", commandLine);
    if (line.action != CommandLine::kRun)
        return logbook::Ending(
            ExplainUsage(line, kUsage + ExitCodesText(exit_code::kRemover), L"提示"));
    ComApartment com;
    return MainMode::Main(instance, showCommand, line.quiet,
                          {.allUsers = line.allUsers, .administrator = HasAdministratorRights()});
}
