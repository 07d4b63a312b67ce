// A file written whole at a staging place on the same volume as its own place, then moved into
// its place in one step; the file it replaces is kept at a backup place until the installation
// is complete, so that a failure at any step leaves the old file whole, or puts it back.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "errors.h"

namespace install {

// The call that moves a staged file over an old one, keeping the old one at a backup place:
// ReplaceFileW. A test puts in its place one that fails as ReplaceFileW can on Windows, where
// the test's file system cannot make it fail so.
inline decltype(&::ReplaceFileW) replaceFile = ::ReplaceFileW;

struct Staging {
    std::wstring place;   // where the file belongs
    std::wstring stage;   // where it is written first
    std::wstring backup;  // where the file it replaces is kept meanwhile
    // The file in place keeps its read-only attribute when it is replaced (an administrator's
    // host profile); otherwise what is placed is never read-only.
    bool keepsReadOnly = false;
};

// Deletes a file that an earlier run left at `path`, read-only or not; what stands there and cannot
// be cleared (a folder, a file in use) is reported by its own name.
Failure RemoveLeftover(const std::wstring& path);

class StagedFile {
public:
    explicit StagedFile(Staging staging) : names_(std::move(staging)) {}
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    ~StagedFile();  // what is left at the stage goes

    const std::wstring& stage() const { return names_.stage; }

    // Clears what an earlier run left at the staging and backup places (one Setup runs at a time,
    // so the names are fixed). What cannot be cleared is reported by its own name.
    Failure Clear() const;
    // Writes the stage as a new, plain copy of `source`: never through whatever stood at its
    // name, and neither read-only, hidden nor a system file, whatever the source carries (install
    // sets come on CDs and read-only shares).
    Failure CopyFrom(const std::wstring& source) const;
    // Moves the stage into place in one step: over the file there if `replace`, which keeps that
    // file's security (owner and access rules), attributes (read-only only where the staging says
    // so) and identity and goes to the backup place; otherwise only where none stands.
    Failure MoveIntoPlace(bool replace);
    // Puts back what stood in place before MoveIntoPlace; gives whether it could.
    bool PutBack();
    // The installation is complete: the file it replaced goes; one that cannot is named in the log.
    void Commit();

private:
    // Replaces the file in place with the stage, the old one going to the backup place; gives
    // whether it did, and sets the last error when not (a file in use told apart).
    bool Replace() const;

    Staging names_;
    enum { kStaged, kPlaced, kReplaced } state_ = kStaged;
};

}  // namespace install
