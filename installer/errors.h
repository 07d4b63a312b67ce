// What the user is told when an installation fails: a run-time error number (also the program's
// exit code), what failed, and the path or value involved. An error keeps its cause and the
// system's own code until it is shown; the text is made from them here, and only here.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "exit_codes.h"

namespace install {

// Run-time error numbers, as the add-in's users know them from its other programs.
enum ErrorNumber : int {
    kInvalidArgument = 5,       // a text the ANSI code page cannot hold
    kTypeMismatch = 13,         // the host's version is not a number
    kFileNotFound = 53,         // a source file is missing
    kDiskFull = 61,             // no room left where a file is written
    kPermissionDenied = 70,     // a file in use or write-protected, a right missing
    kFileAccessError = 75,      // a folder in a file's place, any other file failure
    kPathNotFound = 76,         // a destination folder is missing, or not a complete path
    kCannotCreateObject = 429,  // the host cannot be reached
    kAutomationError = 440,     // the host failed to answer, stayed busy or did not answer at all
    kHostEnded = 462,           // the host's process ended while it was asked ("the remote
                                // server machine does not exist or is unavailable")
    kCancelled = exit_code::kCancelled,  // the user stopped it: nothing to report
    // Not a run-time error: the Windows Installer's "fatal error during installation", which
    // deployment tools read as a failure: an installation that would reach nobody.
    kInstallFailure = exit_code::kSomethingRemains,
};

// Why an installation stopped; the subject each names.
enum class Cause {
    kStopped,                  // the user stopped the wait for Excel: nothing to report
    kInstallSetNotInCodePage,  // the install set's folder
    kHostFolderNotInCodePage,  // Excel's program folder
    kDateNotInCodePage,        // today's date as the user writes it
    kProfileNotCodePageText,   // a profile, and the line that holds bytes outside the code page
    kNotAFolderPath,           // an answer of Excel's: "name = “value”"
    kVersionNotANumber,        // Excel's version: "“value”"
    kFileWhereAFolderBelongs,  // one of Excel's folders
    kFolderMissing,            // one of Excel's folders
    kFolderInTheWay,           // a folder where a file belongs
    kHiddenHostProfile,        // a host profile with the hidden or system attribute
    kSourceMissing,            // a file of the install set
    kSourceIsAFolder,
    kSourceInUse,           // cannot be read: another program has it open
    kSourceNoRight,         // cannot be read: no right to
    kPlacedMeanwhile,       // another program placed a file where none was
    kProfileReadBackWrong,  // the edited profile does not read back as written, with room left
    // A file that could not be written, replaced, moved or deleted, with the system's error.
    kDiskFull,
    kInUse,           // another program has it open
    kNoRightToWrite,  // refused
    kWriteProtected,
    kWriteFailed,  // any other error
    // What stands at a path could not be looked at, with the system's error.
    kNoRightToLook,
    kLookFailed,
    // Asking Excel: the property asked, or nothing when connecting to it, with the error code.
    kHostBusy,           // it rejected the calls until the busy wait ran out
    kHostNoAnswer,       // it did not answer a call for a minute
    kHostGone,           // its process ended while it was asked
    kHostReadFailed,     // it answered a property with a failure
    kHostNotInstalled,   // its class is not registered
    kHostNotStarting,    // it did not start, or did not answer after it started
    kHostUnreachable,    // any other failure to connect
    kHostNotRegistered,  // no Excel registered where it is looked for (subject), or no file there
    kServiceAccount,     // an installation for the system account or a service's, which is nobody's
    // Excel's start-up folder has no staging folder on its volume outside it: the start-up folder.
    kStartupFolderAtRoot,          // at the root of a drive or share
    kStartupFolderOnAnotherDrive,  // on another volume than the folder above it
    kProfileInUtf8,                // a profile saved as UTF-8, which the add-in reads as ANSI
};

struct Error {
    Cause cause;
    std::wstring subject;  // the path or value involved
    // The system's own code behind it: a Windows error for a file, an HRESULT from Excel; 0: none.
    long code = 0;
    // It came after the new add-in was moved into place, which could not be taken back.
    bool addInNotPutBack = false;

    bool operator==(const Error&) const = default;
};
using Failure = std::optional<Error>;

Error Fail(Cause cause, const std::wstring& subject, long code = 0);

// What the user is told when asking the host for `property` failed with `hr`; connecting to it
// when `property` is empty.
Error HostError(HRESULT hr, const std::wstring& property);

// A file that could not be written, replaced, moved or deleted at `file` with the system's error
// `error`.
Error WriteError(DWORD error, const std::wstring& file);

// What stands at `path` could not be looked at (error `error`).
Error LookError(DWORD error, const std::wstring& path);

// A profile that does not read back as it was written: the disk filled while the profile call
// rewrote it (it may cut the file without a word) where less than a few pages are left.
Error ReadBackError(ULONGLONG freeBytes, const std::wstring& profile);

// The error number of a cause, which is also the program's exit code.
int NumberOf(Cause cause);

// The error report's text: the error number, what failed, and the path or value involved.
std::wstring ErrorReportText(const Error& error);

// The log's line for it: the error number and the system's code, "70（系统错误 32）".
std::wstring ErrorLogLine(const Error& error);

// What the user is told at the end of an installation that ended with `failure` (none: it is
// complete): the completion message, the error report, or nothing when the user stopped it.
std::wstring OutcomeText(const Failure& failure);
// The program's exit code for it: done, or the error number.
int ExitCodeOf(const Failure& failure);

}  // namespace install
