#include <windows.h>

#include "file_ops.h"
#include "host.h"
#include "lock.h"
#include "removal.h"

namespace removal {
namespace {

bool SettingsExist() {
    UniqueHkey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, key.put()) !=
           ERROR_FILE_NOT_FOUND;
}

bool Removed(const Outcome& outcome) {
    return outcome.addInLocated && !outcome.addInRemains && !outcome.settingsRemain;
}

}  // namespace

Outcome RemoveAll(ComPtr<IDispatch>& host, host::Clock& clock) {
    Outcome outcome;
    const InstallationLock lock;
    if (!lock.taken()) {
        outcome.setupRuns = true;
        return outcome;
    }
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
    const host::Fault fault = host::FaultOf(read);
    outcome.hostUnresponsive = fault == host::Fault::kBusy || fault == host::Fault::kNoAnswer;
    outcome.hostReached = SUCCEEDED(read);
    if (outcome.hostReached && host::IsFolderPath(startupFolder)) {
        outcome.addInLocated = true;
        const std::wstring addIn = startupFolder + host::kAddInName;
        const DWORD attributes = GetFileAttributesW(addIn.c_str());
        outcome.addInIsFolder =
            attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
        // A read-only add-in (copied from a CD by an earlier installer) is removed all the same.
        if (!outcome.addInIsFolder) MakePlainFile(addIn);
        if (!outcome.addInIsFolder &&
            !RetryWhileLocked([&] { return DeleteFileW(addIn.c_str()); })) {
            outcome.addInInUse = IsInUse(GetLastError());
            if (attributes != INVALID_FILE_ATTRIBUTES) {
                SetFileAttributesW(addIn.c_str(), attributes);  // it stays as it was
            }
        }
        outcome.addInRemains = GetFileAttributesW(addIn.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    return outcome;
}

Outcome HostStuck() {
    Outcome outcome;
    outcome.hostUnresponsive = true;
    outcome.settingsRemain = SettingsExist();
    return outcome;
}

std::wstring NoticeText(const Outcome& outcome) {
    if (outcome.setupRuns) {
        return L"安装程序正在运行，未做\r\n任何更改。请等它结束后\r\n再运行本程序。";
    }
    if (Removed(outcome)) return L"Morvane\r\n\r\n已从你的系统中移除!";
    // At most three lines: the label holds no more at its size.
    std::wstring text;
    if (outcome.hostUnresponsive) {
        text = L"Excel 一直忙碌，无应答，\r\n加载项可能仍安装着。";
    } else if (!outcome.hostReached) {
        text = L"无法连接 Excel，\r\n加载项可能仍安装着。";
    } else if (!outcome.addInLocated) {
        text = L"无法确定加载项的位置，\r\n加载项可能仍安装着。";
    } else if (outcome.addInIsFolder) {
        text = L"加载项的位置上是一个\r\n文件夹，未能移除。";
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

int ExitCodeOf(const Outcome& outcome) {
    if (outcome.setupRuns) return kAnotherInstallationRuns;
    return Removed(outcome) ? 0 : kSomethingRemains;
}

}  // namespace removal
