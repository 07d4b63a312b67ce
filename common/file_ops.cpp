#include <windows.h>

#include "file_ops.h"

DWORD MakePlainFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (attributes & kProtectiveAttributes)) {
        const DWORD plain = attributes & ~kProtectiveAttributes;
        SetFileAttributesW(path.c_str(), plain ? plain : FILE_ATTRIBUTE_NORMAL);
    }
    return attributes;
}
