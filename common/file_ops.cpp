#include <windows.h>

#include "file_ops.h"

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
