// File steps shared by both programs: what stands at a path, files placed in Excel's folders
// carry no protective attributes, and a step that meets a short-lived lock is tried again before
// it counts as failed.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The attributes that make a file refuse writes or hide it from the existence test.
inline constexpr DWORD kProtectiveAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// What stands at a path. Nothing stands there only when the file system says that the file or
// its folder does not exist; any other failure (no right to look, a share out of reach, a bad
// name) leaves it unknown: something may stand there.
struct Lookup {
    enum Found { kNothing, kFile, kFolder, kUnknown } found;
    DWORD attributes;  // of a file or folder
    DWORD error;       // why it is unknown
};
Lookup LookUp(const std::wstring& path);

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

// Clears the read-only, hidden and system attributes of the file at `path`, keeping the others.
// Gives the attributes it had when it cleared any, to be put back; otherwise 0.
DWORD MakePlainFile(const std::wstring& path);

// Runs `step` (as for RetryWhileLocked, and retried so) on the file at `path` with its read-only,
// hidden and system attributes cleared, so that a file that an earlier installer copied off a CD
// can be replaced or deleted; when the step fails, the file gets its attributes back.
template <typename Step>
bool WithPlainFile(const std::wstring& path, Step step) {
    const DWORD cleared = MakePlainFile(path);
    if (RetryWhileLocked(step)) return true;
    const DWORD error = GetLastError();
    if (cleared) SetFileAttributesW(path.c_str(), cleared);
    SetLastError(error);
    return false;
}

// What became of a file that was to be deleted.
struct Deletion {
    enum Result {
        kNotThere,  // the file system says that it, or its folder, does not exist
        kDeleted,
        kFolder,   // a folder stands at its place: left alone
        kUnknown,  // what stands there could not be looked at (no right to, a share out of reach)
        kStays,    // it could not be deleted (`error`: in use, no right to)
    } result;
    DWORD error;
};
// Deletes the file at `path`, read-only or not, retried while it is locked for a moment.
Deletion DeleteFileThere(const std::wstring& path);

// Where Setup writes the add-in before it moves it into the start-up folder `startupFolder`: on the
// same volume, as a move between volumes fails, but outside it, since Excel opens every file
// there. The folder above it; where that is on another volume (the start-up folder a link to a
// folder on another drive, as labs with restore cards have), the folder above where it really is.
// Empty where there is none on its volume: at the root of a drive or share, or where it is a
// volume mounted at a folder (`onAnotherDrive` then set).
std::wstring StagingFolderFor(const std::wstring& startupFolder, bool* onAnotherDrive = nullptr);

// What an earlier or interrupted Setup may have left of the add-in for the start-up folder
// `startupFolder`: its staged and backup copies beside the add-in and in its staging folder.
std::vector<std::wstring> AddInLeftovers(const std::wstring& startupFolder);
