// The install procedure: what Setup does when the user clicks OK. It runs without a window, so
// that it can be called directly; the window tells the user how it ended.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "host.h"
#include "scoped.h"

namespace install {

// A failure as the user reads it: a run-time error number, what failed, and the path or value.
struct Error {
    int number;
    std::wstring what;
    std::wstring subject;
};

// Run-time error numbers, as the add-in's users know them from its other programs, and the
// program's exit code when it ends with that error.
enum ErrorNumber : int {
    kInvalidArgument = 5,       // a text the ANSI code page cannot hold
    kTypeMismatch = 13,         // the host's version is not a number
    kFileNotFound = 53,         // a source file is missing
    kDiskFull = 61,             // no room left where a file is written
    kPermissionDenied = 70,     // a file locked or write-protected, a write refused
    kFileAccessError = 75,      // any other file failure
    kPathNotFound = 76,         // a destination folder is missing
    kCannotCreateObject = 429,  // the host cannot be reached
    kAutomationError = 440,     // the host failed to answer, stayed busy or did not answer at all
    kHostEnded = 462,           // the host's process ended while it was asked ("the remote
                                // server machine does not exist or is unavailable")
    kCancelled = 1602,          // the user stopped it (ERROR_INSTALL_USEREXIT): nothing to report
};

// The error report's text: the error number, what failed, and the path or value involved.
std::wstring ErrorReportText(const Error& error);

// What the user is told when asking the host for `property` failed with `hr`; connecting to it
// when `property` is empty.
Error HostError(HRESULT hr, const std::wstring& property);

// What the user is told when writing `file` failed with the system's error `error`.
Error WriteError(DWORD error, const std::wstring& file);

// The template the add-in opens, by the host's version as the host writes it: \Qorvel.xltm for
// Excel 2010 (14), \Qorvel.xlt for every other; null when the version is not a number.
const char* TemplateFor(const std::wstring& version);

// The folder of the running program, with no trailing backslash except at a drive root.
std::wstring InstallSetPath();

// Installs from `installSet`, keeping the host application object in `host`. Gives nothing when
// the installation is complete, or the error that ended it; the caller tells the user either way.
// Everything the host must answer is asked, and every check made, before anything on disk
// changes; the add-in and the host profile are each written whole beside their place and moved
// there in one step, so that a failure at any point leaves the old ones whole. A busy host is
// waited for on `clock`.
std::optional<Error> Run(const std::wstring& installSet, ComPtr<IDispatch>& host,
                         host::Clock& clock = host::SystemClock());

}  // namespace install
