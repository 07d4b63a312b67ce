// File steps shared by both programs: files placed in Excel's folders carry no protective
// attributes, and a step that meets a short-lived lock is tried again before it counts as failed.
#pragma once

#include <windows.h>

#include <string>

// The attributes that make a file refuse writes or hide it from the existence test.
inline constexpr DWORD kProtectiveAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Clears the read-only, hidden and system attributes of the file at `path`, keeping the others.
// Gives the attributes it had (INVALID_FILE_ATTRIBUTES when there is no such file), so that a
// caller can put them back.
DWORD MakePlainFile(const std::wstring& path);

// Another program has the file open: a sharing or lock violation.
inline bool IsInUse(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Virus scanners open a file that was just written for a moment. `step` (a copy, move or delete
// that gives whether it succeeded and sets the last error when not) is tried again while it
// meets a sharing or lock violation, for about two seconds; a longer lock fails as before.
template <typename Step>
bool RetryWhileLocked(Step step) {
    constexpr DWORD kPatience = 2000, kPause = 50;
    for (DWORD waited = 0;; waited += kPause) {
        if (step()) return true;
        const DWORD error = GetLastError();
        if (!IsInUse(error) || waited >= kPatience) {
            SetLastError(error);
            return false;
        }
        Sleep(kPause);
    }
}
