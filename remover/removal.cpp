#include <windows.h>

#include "file_ops.h"
#include "host.h"
#include "removal.h"

namespace removal {
namespace {

bool SettingsExist() {
    UniqueHkey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, key.put()) !=
           ERROR_FILE_NOT_FOUND;
}

}  // namespace

Outcome RemoveAll(ComPtr<IDispatch>& host, host::Clock& clock) {
    Outcome outcome;
    const HRESULT connected = host::Connect(host, clock);

    // The section with every value and subkey in it; a missing one is nothing to do.
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
    outcome.settingsRemain = SettingsExist();

    // Nothing is deleted where the host's answer is not a complete folder path: the add-in
    // could not be located.
    std::wstring startupFolder;
    const HRESULT read = FAILED(connected)
                             ? connected
                             : host::ReadText(host.Get(), L"StartupPath", startupFolder, clock);
    outcome.hostBusy = host::IsBusy(read);
    outcome.hostReached = SUCCEEDED(read);
    if (outcome.hostReached && host::IsFolderPath(startupFolder)) {
        outcome.addInLocated = true;
        const std::wstring addIn = startupFolder + host::kAddInName;
        // A read-only add-in (copied from a CD by an earlier installer) is removed all the same.
        const DWORD attributes = MakePlainFile(addIn);
        if (!RetryWhileLocked([&] { return DeleteFileW(addIn.c_str()); })) {
            const DWORD error = GetLastError();
            outcome.addInInUse = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
            if (attributes != INVALID_FILE_ATTRIBUTES) {
                SetFileAttributesW(addIn.c_str(), attributes);  // it stays as it was
            }
        }
        outcome.addInRemains = GetFileAttributesW(addIn.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    return outcome;
}

std::wstring NoticeText(const Outcome& outcome) {
    if (outcome.addInLocated && !outcome.addInRemains && !outcome.settingsRemain) {
        return L"Morvane\r\n\r\n已从你的系统中移除!";
    }
    // At most three lines: the label holds no more at its size.
    std::wstring text;
    if (outcome.hostBusy) {
        text = L"Excel 一直忙碌，无应答，\r\n加载项可能仍安装着。";
    } else if (!outcome.hostReached) {
        text = L"无法连接 Excel，\r\n加载项可能仍安装着。";
    } else if (!outcome.addInLocated) {
        text = L"无法确定加载项的位置，\r\n加载项可能仍安装着。";
    } else if (outcome.addInRemains && outcome.addInInUse) {
        text = L"加载项未能移除，请关闭\r\nExcel 后再运行本程序。";
    } else if (outcome.addInRemains) {
        text = L"加载项未能移除：没有\r\n删除它的权限。";
    }
    if (outcome.settingsRemain) {
        text += text.empty() ? L"加载项已移除，\r\n但设置未能删除。" : L"\r\n设置也未能删除。";
    }
    return text;
}

}  // namespace removal
