#include <windows.h>

#include <cwchar>

#include "account_copies.h"
#include "file_ops.h"
#include "layout.h"
#include "logbook.h"
#include "scoped.h"
#include "text.h"

namespace install {
namespace {

constexpr wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// The profile folder of every account that has one on this PC, from the list in the 64-bit view
// (the only one on 32-bit Windows).
std::vector<std::wstring> ProfileFolders() {
    std::vector<std::wstring> folders;
    UniqueHkey list;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileList, 0,
                      KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                      list.put()) != ERROR_SUCCESS) {
        return folders;
    }
    wchar_t sid[256];
    for (DWORD i = 0, size = 256; RegEnumKeyExW(list.get(), i, sid, &size, nullptr, nullptr,
                                                nullptr, nullptr) == ERROR_SUCCESS;
         ++i, size = 256) {
        wchar_t folder[MAX_PATH] = {};
        DWORD bytes = sizeof folder;
        if (RegGetValueW(list.get(), sid, L"ProfileImagePath", RRF_RT_REG_SZ, nullptr, folder,
                         &bytes) == ERROR_SUCCESS &&
            *folder) {
            folders.emplace_back(folder);
        }
    }
    return folders;
}

}  // namespace

AccountCopies RemoveAccountCopies() {
    AccountCopies copies;
    for (const std::wstring& profile : ProfileFolders()) {
        const std::wstring startup = profile + layout::kAccountStartup;
        const std::wstring addIn = startup + layout::kAddInName;
        std::vector<std::wstring> paths = AddInLeftovers(startup);
        paths.insert(paths.begin(), addIn);
        for (const std::wstring& path : paths) {
            const Deletion done = DeleteFileThere(path);
            if (done.result == Deletion::kDeleted) {
                logbook::Note(L"删除账户自己的副本：" + path);
                copies.removed.push_back(path);
            } else if (done.result != Deletion::kNotThere) {
                const std::wstring why =
                    done.result == Deletion::kFolder ? L"（是一个文件夹）"
                    : done.result == Deletion::kUnknown
                        ? L"（无法查看，系统错误 " + Decimal(done.error) + L"）"
                        : L"（无法删除，系统错误 " + Decimal(done.error) + L"）";
                logbook::Note(L"未能删除账户自己的副本：" + path + why);
                copies.left.push_back(path + why);
                if (done.result == Deletion::kUnknown) break;  // the folder itself is out of reach
            }
        }
    }
    return copies;
}

}  // namespace install
