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
    L"/log 文件\t把移除的经过写入该文件（UTF-8 文本）。\n"
    L"/?\t显示本说明，不移除。\n\n"
    L"退出代码：0 全部移除；740 /allusers 需要管理员权限；1602 用户取消；1603 "
    L"仍有内容未能移除；1618 另一个安装或卸载程序正在运行；"
    L"1622 全部移除，但日志无法写入；1639 命令行无效。";

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showCommand) {
    HardenDllSearch();
    const CommandLine line = ParseCommandLine(__argc - 1, __wargv + 1);
    if (!line.logFile.empty()) logbook::Open(line.logFile, L"remover", commandLine);
    if (line.action != CommandLine::kRun)
        return logbook::Ending(ExplainUsage(line, kUsage, L"提示"));
    ComApartment com;
    return MainMode::Main(instance, showCommand, line.quiet,
                          {.allUsers = line.allUsers, .administrator = HasAdministratorRights()});
}
