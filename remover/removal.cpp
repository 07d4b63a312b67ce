#include <windows.h>

#include <vector>

#include "exit_codes.h"
#include "file_ops.h"
#include "layout.h"
#include "logbook.h"
#include "registered_host.h"
#include "removal.h"
#include "scoped.h"
#include "text.h"

namespace removal {
namespace {

using Excel = Outcome::Excel;
using AddIn = Outcome::AddIn;

bool SettingsExist() {
    UniqueHkey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, key.put()) !=
           ERROR_FILE_NOT_FOUND;
}

Excel ExcelOf(HRESULT read, const std::wstring& startupFolder) {
    switch (host::FaultOf(read)) {
        case host::Fault::kBusy:
        case host::Fault::kNoAnswer:
            return Excel::kUnresponsive;
        default:
            if (FAILED(read)) return Excel::kUnreachable;
            return layout::IsFolderPath(startupFolder) ? Excel::kAnswered : Excel::kNotAPath;
    }
}

// Deletes the file at `path`, read-only or not. It counts as gone only when the file system says
// that it, or its folder, does not exist.
AddIn Remove(const std::wstring& path) {
    const Deletion done = DeleteFileThere(path);
    if (done.result == Deletion::kDeleted) logbook::Note(L"删除：" + path);
    if (done.result == Deletion::kStays || done.result == Deletion::kUnknown) {
        logbook::Note(L"未能删除：" + path + L"（系统错误 " + Decimal(done.error) + L"）");
    }
    switch (done.result) {
        case Deletion::kNotThere:
        case Deletion::kDeleted:
            return AddIn::kGone;
        case Deletion::kFolder:
            return AddIn::kFolder;
        case Deletion::kUnknown:
            return AddIn::kMayRemain;
        case Deletion::kStays:
            break;
    }
    return IsInUse(done.error) ? AddIn::kInUse : AddIn::kNoRight;
}

// Asks Excel for its program folder (Path) and start-up folder; gives how it answered.
Excel AskExcel(host::Excel& excel, std::wstring& folder, std::wstring& startupFolder,
               HRESULT& read) {
    read = excel.Connect();
    if (SUCCEEDED(read)) read = excel.ReadText(L"Path", folder);
    if (SUCCEEDED(read)) read = excel.ReadText(L"StartupPath", startupFolder);
    logbook::Note(SUCCEEDED(read) ? L"Excel Path：" + folder + L"，StartupPath：" + startupFolder
                                  : L"Excel 未回答（错误代码 " + Hex(read) + L"）");
    return ExcelOf(read, startupFolder);
}

// For every account: Excel's program folder from its registration, and the start-up folder there.
Excel FindExcel(std::wstring& folder, std::wstring& startupFolder) {
    host::Registration found;
    if (!host::FindRegistered(found)) {
        logbook::Note(L"没有找到 Microsoft Excel，查找的位置：" + found.lookedAt);
        return Excel::kNotFound;
    }
    logbook::Note(L"Excel（注册信息）：" + found.program);
    folder = found.folder;
    startupFolder = folder + layout::kAllUsersStartup;
    return Excel::kAnswered;
}

// The add-in in `startupFolder`, and what an earlier or interrupted Setup could leave: its staged
// and backup copies beside it and in the folder above, and those of the host profile in `folder`.
AddIn RemoveAddIn(const std::wstring& startupFolder, const std::wstring& folder) {
    const std::wstring addIn = startupFolder + layout::kAddInName;
    std::vector<std::wstring> leftovers = AddInLeftovers(startupFolder);
    // Excel's program folder only where it answered a complete path: another would be taken from
    // the current folder.
    if (layout::IsFolderPath(folder)) {
        const std::wstring profile = folder + layout::kHostProfileName;
        leftovers.push_back(profile + layout::kStagedEnding);
        leftovers.push_back(profile + layout::kBackupEnding);
    }
    AddIn outcome = Remove(addIn);
    for (const std::wstring& leftover : leftovers) {
        const AddIn left = Remove(leftover);
        if (outcome == AddIn::kGone) outcome = left;
    }
    return outcome;
}

}  // namespace

Outcome RemoveAll(host::Excel& excel, InstallationLock& lock, const Options& options) {
    if (options.allUsers && !options.administrator) {
        return {.addIn = AddIn::kMayRemain, .needsAdministrator = true};
    }
    Outcome outcome;
    std::wstring folder, startupFolder;
    HRESULT read = S_OK;
    outcome.excel = options.allUsers ? FindExcel(folder, startupFolder)
                                     : AskExcel(excel, folder, startupFolder, read);
    if (outcome.excel == Excel::kAnswered) {
        logbook::Begin({startupFolder + layout::kAddInName, folder + layout::kHostProfileName},
                       {startupFolder});
    }
    // The user closed the window while Excel was asked: nothing is changed.
    if (host::FaultOf(read) == host::Fault::kStopped) return {.stopped = true};
    if (!lock.StillAlone()) return {.anotherRuns = true};

    if (!options.allUsers) {
        // The section with every value and subkey in it; a missing one is nothing to do.
        RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
        outcome.settingsRemain = SettingsExist();
        logbook::Note((outcome.settingsRemain ? L"未能删除设置：HKCU\\" : L"设置已删除：HKCU\\") +
                      std::wstring(kSettingsKey));
    }
    // Nothing is deleted where Excel did not say where its folders are.
    outcome.addIn = AddIn::kMayRemain;
    if (outcome.excel == Excel::kAnswered) {
        outcome.addIn = RemoveAddIn(startupFolder, folder);
        // The copy that Excel opens for every account stays where the removal is the account's.
        const std::wstring shared = folder + layout::kAllUsersStartup;
        outcome.forEveryAccount = !options.allUsers && shared != startupFolder &&
                                  layout::IsFolderPath(folder) &&
                                  LookUp(shared + layout::kAddInName).found != Lookup::kNothing;
        if (outcome.forEveryAccount) {
            logbook::Note(L"加载项为本机所有账户安装，留在原处：" + shared + layout::kAddInName);
        }
    }
    // The entry stays while anything of the add-in does: it is how users find the removal.
    if (outcome.addIn == AddIn::kGone && !outcome.settingsRemain) {
        const HKEY root = options.allUsers ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        if (RegDeleteTreeW(root, layout::kUninstallKey) == ERROR_SUCCESS) {
            logbook::Note(std::wstring(L"“应用和功能”中的条目已删除：") +
                          (options.allUsers ? L"HKLM\\" : L"HKCU\\") + layout::kUninstallKey);
        }
    }
    return outcome;
}

namespace {

// What is left of the add-in, by how Excel answered and what became of it; empty text when nothing
// is. At most three lines: the label holds no more at its size.
const wchar_t* AddInLeft(const Outcome& outcome) {
    switch (outcome.excel) {
        case Excel::kUnresponsive:
            return L"Excel 一直忙碌，无应答，\r\n加载项可能仍安装着。";
        case Excel::kUnreachable:
            return L"无法连接 Excel，\r\n加载项可能仍安装着。";
        case Excel::kNotAPath:
            return L"无法确定加载项的位置，\r\n加载项可能仍安装着。";
        case Excel::kNotFound:
            return L"没有找到 Excel，\r\n加载项可能仍安装着。";
        case Excel::kAnswered:
            break;
    }
    switch (outcome.addIn) {
        case AddIn::kGone:
            return outcome.forEveryAccount ? L"加载项为本机所有账户安装，\r\n"
                                             L"请管理员运行 remover.exe\r\n"
                                             L"/allusers 移除。"
                                           : L"";
        case AddIn::kInUse:
            return L"加载项未能移除，请关闭\r\nExcel 后再运行本程序。";
        case AddIn::kNoRight:
            return L"加载项未能移除：没有\r\n删除它的权限。";
        case AddIn::kFolder:
            return L"加载项的位置上是一个\r\n文件夹，未能移除。";
        case AddIn::kMayRemain:
            return L"无法查看启动文件夹，加载项\r\n可能仍在，请检查后再运行。";
    }
    return L"";
}

}  // namespace

std::wstring NoticeText(const Outcome& outcome) {
    if (outcome.anotherRuns) {
        return L"另一个安装或卸载程序正\r\n在运行，未做任何更改。\r\n请等它结束后再运行。";
    }
    if (outcome.stopped) return L"移除已取消，未做任何更改。";
    if (outcome.needsAdministrator) {
        return L"移除为所有账户安装的加载项\r\n"
               L"需要管理员权限，未做任何\r\n"
               L"更改。请以管理员身份运行。";
    }
    std::wstring text = AddInLeft(outcome);
    if (outcome.settingsRemain) {
        text += text.empty() ? L"加载项已移除，\r\n但设置未能删除。" : L"\r\n设置也未能删除。";
    }
    return text.empty() ? L"Morvane\r\n\r\n已从你的系统中移除!" : text;
}

int ExitCodeOf(const Outcome& outcome) {
    if (outcome.anotherRuns) return exit_code::kAnotherRuns;
    if (outcome.stopped) return exit_code::kCancelled;
    if (outcome.needsAdministrator) return exit_code::kElevationRequired;
    const bool removed = outcome.excel == Excel::kAnswered && outcome.addIn == AddIn::kGone &&
                         !outcome.settingsRemain && !outcome.forEveryAccount;
    return removed ? exit_code::kDone : exit_code::kSomethingRemains;
}

}  // namespace removal
