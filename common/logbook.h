// The log that an administrator asks for (/log FILE): plain text, UTF-8 with its byte-order mark
// (so that Notepad on Windows 7 shows the Chinese texts), one line for each thing that happened.
// One per program; until it is opened, what is noted goes nowhere. A log that cannot be written
// does not stop the program: it only says so at the end (Failed).
#pragma once

#include <string>

namespace logbook {

// Opens (replaces) the log at `file`, and notes who runs what: the program and its version, the
// time, the account and whether it runs elevated, its folder and its command line.
void Open(const std::wstring& file, const wchar_t* program, const wchar_t* commandLine);

// Notes one line.
void Note(const std::wstring& line);

// Whether a log was asked for and could not be written, wholly or in part.
bool Failed();

// Notes how the program ends, and gives its exit code: `code`, or, where the program is done but
// its log could not be written, kLogFailed, so that a script learns of it.
int Ending(int code);

}  // namespace logbook
