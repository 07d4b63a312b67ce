#include <windows.h>

#include <string>

#include "file_ops.h"
#include "layout.h"
#include "logbook.h"
#include "scoped.h"
#include "text.h"
#include "uninstall_entry.h"
#include "version.h"

namespace install {
namespace {

// What the install set holds, in KB: the add-in's templates, databases and picture are used
// from there.
DWORD KilobytesIn(const std::wstring& folder) {
    ULONGLONG bytes = 0;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                bytes += ULONGLONG{KilobytesIn(folder + L"\\" + name)} * 1024;
            }
        } else {
            bytes += (ULONGLONG{found.nFileSizeHigh} << 32) + found.nFileSizeLow;
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return static_cast<DWORD>((bytes + 1023) / 1024);
}

}  // namespace

void ListInAppsAndFeatures(const InstallSet& set, bool forThePc) {
    if (LookUp(set.remover).found != Lookup::kFile) {
        return logbook::Note(
            L"安装文件所在文件夹中没有 remover.exe，“应用和功能”中不列出本加载项：" + set.remover);
    }
    const std::wstring remover = L"\"" + set.remover + L"\"" + (forThePc ? L" /allusers" : L"");
    SYSTEMTIME today;
    GetLocalTime(&today);
    wchar_t date[16];
    wsprintfW(date, L"%04u%02u%02u", today.wYear, today.wMonth, today.wDay);
    const struct {
        const wchar_t* name;
        std::wstring text;
    } texts[] = {
        {L"DisplayName", L"Morvane Qorvel 实验室数据系统 Excel 加载项"},
        {L"DisplayVersion", TEXT(QORVEL_VERSION_TEXT)},
        {L"Publisher", TEXT(QORVEL_COMPANY_NAME)},
        {L"InstallLocation", set.folder},
        {L"UninstallString", remover},
        {L"QuietUninstallString", remover + L" /quiet"},
        {L"DisplayIcon", set.remover + L",0"},
        {L"InstallDate", date},
    };
    const struct {
        const wchar_t* name;
        DWORD number;
    } numbers[] = {{L"NoModify", 1}, {L"NoRepair", 1}, {L"EstimatedSize", KilobytesIn(set.folder)}};

    const HKEY root = forThePc ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    UniqueHkey key;
    LSTATUS status = RegCreateKeyExW(root, layout::kUninstallKey, 0, nullptr, 0, KEY_SET_VALUE,
                                     nullptr, key.put(), nullptr);
    for (const auto& [name, text] : texts) {
        if (status != ERROR_SUCCESS) break;
        status =
            RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    for (const auto& [name, number] : numbers) {
        if (status != ERROR_SUCCESS) break;
        status = RegSetValueExW(key.get(), name, 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&number), sizeof number);
    }
    const std::wstring entry = (forThePc ? L"HKEY_LOCAL_MACHINE\\" : L"HKEY_CURRENT_USER\\") +
                               std::wstring(layout::kUninstallKey);
    if (status == ERROR_SUCCESS) return logbook::Note(L"写入“应用和功能”中的条目：" + entry);
    key.reset();
    RegDeleteTreeW(root, layout::kUninstallKey);  // no entry rather than half of one
    logbook::Note(L"无法写入“应用和功能”中的条目（系统错误 " +
                  Decimal(static_cast<unsigned long>(status)) + L"）：" + entry);
}

}  // namespace install
