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
