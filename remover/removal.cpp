#include <windows.h>

#include "exit_codes.h"
#include "file_ops.h"
#include "layout.h"
#include "logbook.h"
#include "removal.h"
#include "scoped.h"

namespace removal {
namespace {

using Excel = Outcome::Excel;
using AddIn = Outcome::AddIn;

std::wstring Hex(HRESULT hr) {
    wchar_t text[16];
    wsprintfW(text, L"0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

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
    const Lookup before = LookUp(path);
    if (before.found == Lookup::kNothing) return AddIn::kGone;
    if (before.found == Lookup::kFolder) return AddIn::kFolder;
    if (before.found == Lookup::kUnknown) return AddIn::kMayRemain;
    WithPlainFile(path, [&] { return DeleteFileW(path.c_str()) != FALSE; });
    const DWORD error = GetLastError();
    const Lookup after = LookUp(path);
    if (after.found == Lookup::kNothing) {
        logbook::Note(L"删除：" + path);
        return AddIn::kGone;
    }
    wchar_t cause[32];
    wsprintfW(cause, L"（系统错误 %lu）", error);
    logbook::Note(L"未能删除：" + path + cause);
    if (after.found == Lookup::kUnknown) return AddIn::kMayRemain;
    return IsInUse(error) ? AddIn::kInUse : AddIn::kNoRight;
}

}  // namespace

Outcome RemoveAll(host::Excel& excel, InstallationLock& lock) {
    Outcome outcome;
    std::wstring startupFolder;
    HRESULT read = excel.Connect();
    if (SUCCEEDED(read)) read = excel.ReadText(L"StartupPath", startupFolder);
    if (SUCCEEDED(read)) logbook::Begin({startupFolder + layout::kAddInName}, {startupFolder});
    outcome.excel = ExcelOf(read, startupFolder);
    logbook::Note(SUCCEEDED(read) ? L"Excel StartupPath：" + startupFolder
                                  : L"Excel 未回答（错误代码 " + Hex(read) + L"）");
    if (!lock.StillAlone()) return {.anotherRuns = true};

    // The section with every value and subkey in it; a missing one is nothing to do.
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
    outcome.settingsRemain = SettingsExist();
    logbook::Note((outcome.settingsRemain ? L"未能删除设置：HKCU\\" : L"设置已删除：HKCU\\") +
                  std::wstring(kSettingsKey));
    // Nothing is deleted where Excel did not say where its start-up folder is.
    outcome.addIn = AddIn::kMayRemain;
    if (outcome.excel == Excel::kAnswered) {
        outcome.addIn = Remove(startupFolder + layout::kAddInName);
        const AddIn leftover = Remove(startupFolder + layout::kEarlierStagedAddIn);
        if (outcome.addIn == AddIn::kGone) outcome.addIn = leftover;
    }
    return outcome;
}

std::wstring NoticeText(const Outcome& outcome) {
    if (outcome.anotherRuns) {
        return L"另一个安装或卸载程序正\r\n在运行，未做任何更改。\r\n请等它结束后再运行。";
    }
    // What is left, by how Excel answered and what became of the add-in; at most three lines
    // with what the settings add: the label holds no more at its size.
    struct Said {
        Excel excel;
        AddIn addIn;
        const wchar_t* text;
    };
    static constexpr Said kSaid[] = {
        {Excel::kUnresponsive, AddIn::kMayRemain,
         L"Excel 一直忙碌，无应答，\r\n加载项可能仍安装着。"},
        {Excel::kUnreachable, AddIn::kMayRemain, L"无法连接 Excel，\r\n加载项可能仍安装着。"},
        {Excel::kNotAPath, AddIn::kMayRemain, L"无法确定加载项的位置，\r\n加载项可能仍安装着。"},
        {Excel::kAnswered, AddIn::kInUse, L"加载项未能移除，请关闭\r\nExcel 后再运行本程序。"},
        {Excel::kAnswered, AddIn::kNoRight, L"加载项未能移除：没有\r\n删除它的权限。"},
        {Excel::kAnswered, AddIn::kFolder, L"加载项的位置上是一个\r\n文件夹，未能移除。"},
        {Excel::kAnswered, AddIn::kMayRemain,
         L"无法查看启动文件夹，加载项\r\n可能仍在，请检查后再运行。"},
    };
    std::wstring text;
    for (const Said& said : kSaid) {
        if (said.excel == outcome.excel && said.addIn == outcome.addIn) text = said.text;
    }
    if (outcome.settingsRemain) {
        text += text.empty() ? L"加载项已移除，\r\n但设置未能删除。" : L"\r\n设置也未能删除。";
    }
    return text.empty() ? L"Morvane\r\n\r\n已从你的系统中移除!" : text;
}

int ExitCodeOf(const Outcome& outcome) {
    if (outcome.anotherRuns) return exit_code::kAnotherRuns;
    const bool removed = outcome.excel == Excel::kAnswered && outcome.addIn == AddIn::kGone &&
                         !outcome.settingsRemain;
    return removed ? exit_code::kDone : exit_code::kSomethingRemains;
}

}  // namespace removal
