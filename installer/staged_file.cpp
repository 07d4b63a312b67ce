#include <windows.h>

#include "file_ops.h"
#include "logbook.h"
#include "scoped.h"
#include "staged_file.h"

namespace install {

Failure RemoveLeftover(const std::wstring& path) {
    const Lookup found = LookUp(path);
    if (found.found == Lookup::kNothing) return std::nullopt;
    if (found.found == Lookup::kFolder) return Fail(Cause::kFolderInTheWay, path);
    if (found.found == Lookup::kUnknown) return LookError(found.error, path);
    if (!WithPlainFile(path, [&] { return DeleteFileW(path.c_str()) != FALSE; })) {
        return WriteError(GetLastError(), path);
    }
    logbook::Note(L"删除：" + path);
    return std::nullopt;
}

namespace {

// A file that another program has open refuses to be replaced as if it were protected: it is
// told apart, as a file in use, so that it is waited for and reported as such.
void TellInUseApart(const std::wstring& path) {
    const DWORD error = GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_UNABLE_TO_REMOVE_REPLACED) return;
    const UniqueHandle open = OwnFileHandle(
        CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr));
    SetLastError(!open && IsInUse(GetLastError()) ? ERROR_SHARING_VIOLATION : error);
}

// The file's bytes on the disk before its name is moved: a power cut then leaves either file
// whole.
void Flush(const std::wstring& path) {
    const UniqueHandle file = OwnFileHandle(CreateFileW(
        path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (file) FlushFileBuffers(file.get());
}

}  // namespace

StagedFile::~StagedFile() {
    if (state_ == kStaged) RemoveLeftover(names_.stage);
}

Failure StagedFile::Clear() const {
    if (auto failure = RemoveLeftover(names_.stage)) return failure;
    return RemoveLeftover(names_.backup);
}

Failure StagedFile::CopyFrom(const std::wstring& source) const {
    const std::wstring& stage = names_.stage;
    if (RetryWhileLocked([&] { return CopyFileW(source.c_str(), stage.c_str(), TRUE) != FALSE; })) {
        MakePlainFile(stage);
        logbook::Note(L"复制：" + source + L" → " + stage);
        return std::nullopt;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
        return Fail(Cause::kPlacedMeanwhile, stage);
    }
    RemoveLeftover(stage);  // what was written before the disk filled
    // Whose failure it is: the source's (gone, a folder, unreadable), or the stage's.
    const Lookup found = LookUp(source);
    if (found.found == Lookup::kNothing) return Fail(Cause::kSourceMissing, source);
    if (found.found == Lookup::kFolder) return Fail(Cause::kSourceIsAFolder, source);
    const UniqueHandle readable = OwnFileHandle(CreateFileW(
        source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!readable) {
        return Fail(IsInUse(GetLastError()) ? Cause::kSourceInUse : Cause::kSourceNoRight, source);
    }
    return WriteError(error, stage);
}

Failure StagedFile::MoveIntoPlace(bool replace) {
    const auto& [place, stage, backup, keepsReadOnly] = names_;
    Flush(stage);
    // Cleared so that it can be replaced, and put back after.
    const DWORD readOnly =
        replace && keepsReadOnly ? LookUp(place).attributes & FILE_ATTRIBUTE_READONLY : 0;
    const bool moved =
        replace ? WithPlainFile(place, [&] { return Replace(); }) : RetryWhileLocked([&] {
            return MoveFileExW(stage.c_str(), place.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
        });
    if (moved) {
        if (readOnly)
            SetFileAttributesW(place.c_str(), GetFileAttributesW(place.c_str()) | readOnly);
        state_ = replace ? kReplaced : kPlaced;
        logbook::Note(L"放入：" + place +
                      (replace ? L"（替换原有文件，原文件暂存为 " + backup + L"）" : L""));
        return std::nullopt;
    }
    const DWORD error = GetLastError();
    if (!replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) {
        return Fail(Cause::kPlacedMeanwhile, place);
    }
    // Staged on another volume than its folder, which the volumes' serial numbers did not tell (a
    // volume mounted at a folder where they are alike): only the add-in is staged outside it.
    if (error == ERROR_NOT_SAME_DEVICE) {
        return Fail(Cause::kStartupFolderOnAnotherDrive,
                    place.substr(0, place.find_last_of(L'\\')));
    }
    return WriteError(error, place);
}

bool StagedFile::Replace() const {
    const auto& [place, stage, backup, keepsReadOnly] = names_;
    if (replaceFile(place.c_str(), stage.c_str(), backup.c_str(), 0, nullptr, nullptr)) {
        return true;
    }
    // The old file already went to the backup place: it returns.
    if (GetLastError() == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
        MoveFileExW(backup.c_str(), place.c_str(), MOVEFILE_WRITE_THROUGH);
        SetLastError(ERROR_UNABLE_TO_MOVE_REPLACEMENT_2);
    }
    TellInUseApart(place);
    return false;
}

bool StagedFile::PutBack() {
    const auto& [place, stage, backup, keepsReadOnly] = names_;
    const bool back = state_ == kReplaced ? RetryWhileLocked([&] {
        return MoveFileExW(backup.c_str(), place.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    })
                      : state_ == kPlaced
                          ? RetryWhileLocked([&] { return DeleteFileW(place.c_str()) != FALSE; })
                          : true;
    if (back && state_ != kStaged) logbook::Note(L"恢复原来的文件：" + place);
    if (back) state_ = kStaged;
    return back;
}

void StagedFile::Commit() {
    if (state_ == kReplaced && RemoveLeftover(names_.backup)) {
        logbook::Note(L"未能删除备份文件，请手动删除：" + names_.backup);
    }
    state_ = kPlaced;
}

}  // namespace install
