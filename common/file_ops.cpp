#include <windows.h>

#include <optional>

#include "file_ops.h"
#include "layout.h"
#include "scoped.h"

namespace {

// The folder above `folder` (a complete path), without a trailing backslash; empty at the root of
// a drive or share, which has none.
std::wstring Above(std::wstring folder) {
    while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    const size_t last = folder.find_last_of(L'\\');
    if (last == std::wstring::npos) return {};
    std::wstring above = folder.substr(0, last);
    return layout::IsFolderPath(above + L"\\") ? above : std::wstring{};
}

// A folder as the file system has it: its path after links, junctions and mounted folders, and
// its volume's serial number; nothing when it cannot be opened.
struct RealFolder {
    std::wstring path;
    DWORD volume = 0;
};
std::optional<RealFolder> RealFolderAt(const std::wstring& folder) {
    const UniqueHandle handle = OwnFileHandle(
        CreateFileW((folder.substr(0, folder.find_last_not_of(L'\\') + 1) + L"\\").c_str(),
                    FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    std::wstring path(32768, L'\0');
    if (!handle || !GetFileInformationByHandle(handle.get(), &info)) return std::nullopt;
    path.resize(GetFinalPathNameByHandleW(handle.get(), path.data(), 32768, 0));
    // "\\?\C:\..." and "\\?\UNC\server\share\...", as the user writes them.
    if (path.starts_with(L"\\\\?\\UNC\\")) path.replace(0, 8, L"\\\\");
    if (path.starts_with(L"\\\\?\\")) path.erase(0, 4);
    return RealFolder{path, info.dwVolumeSerialNumber};
}

}  // namespace

Lookup LookUp(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        return {attributes & FILE_ATTRIBUTE_DIRECTORY ? Lookup::kFolder : Lookup::kFile, attributes,
                ERROR_SUCCESS};
    }
    const DWORD error = GetLastError();
    const bool absent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return {absent ? Lookup::kNothing : Lookup::kUnknown, 0, error};
}

DWORD MakePlainFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !(attributes & kProtectiveAttributes)) {
        return 0;
    }
    const DWORD plain = attributes & ~kProtectiveAttributes;
    SetFileAttributesW(path.c_str(), plain ? plain : FILE_ATTRIBUTE_NORMAL);
    return attributes;
}

Deletion DeleteFileThere(const std::wstring& path) {
    const Lookup before = LookUp(path);
    if (before.found == Lookup::kNothing) return {Deletion::kNotThere, ERROR_SUCCESS};
    if (before.found == Lookup::kFolder) return {Deletion::kFolder, ERROR_SUCCESS};
    if (before.found == Lookup::kUnknown) return {Deletion::kUnknown, before.error};
    WithPlainFile(path, [&] { return DeleteFileW(path.c_str()) != FALSE; });
    const DWORD error = GetLastError();
    const Lookup after = LookUp(path);
    if (after.found == Lookup::kNothing) return {Deletion::kDeleted, ERROR_SUCCESS};
    return {after.found == Lookup::kUnknown ? Deletion::kUnknown : Deletion::kStays, error};
}

std::wstring StagingFolderFor(const std::wstring& startupFolder, bool* onAnotherDrive) {
    const auto startup = RealFolderAt(startupFolder);
    for (const std::wstring& folder : {startupFolder, startup ? startup->path : L""}) {
        const std::wstring above = Above(folder);
        if (above.empty()) continue;
        const auto real = RealFolderAt(above);
        if (!startup || !real || real->volume == startup->volume) return above;
        if (onAnotherDrive) *onAnotherDrive = true;
    }
    return {};
}

std::vector<std::wstring> AddInLeftovers(const std::wstring& startupFolder) {
    std::vector<std::wstring> leftovers;
    for (const std::wstring& folder : {startupFolder, StagingFolderFor(startupFolder)}) {
        if (folder.empty()) continue;
        leftovers.push_back(folder + layout::kAddInName + layout::kStagedEnding);
        leftovers.push_back(folder + layout::kAddInName + layout::kBackupEnding);
    }
    return leftovers;
}
