// The log that an administrator asks for (/log FILE): plain text, UTF-8 with its byte-order mark
// (so that Notepad on Windows 7 shows the Chinese texts), one line of printable text for each
// thing that happened. One per program. Nothing is written to its file before the program knows
// where Excel's folders are (Begin): what is noted until then is kept, and written then, or at the
// end of a run that ends before. The log is only ever a new file that the program creates at the
// path asked, never through a link, never one of the files that the program installs, reads or
// stages, never in Excel's start-up folder. A log that cannot be written does not stop the
// program: it only says so at the end (Failed, Ending).
#pragma once

#include <string>
#include <vector>

namespace logbook {

// Asks for the log at `file` (relative to the current folder), and notes who runs what: the
// program and its version, the time, the account and whether it runs elevated, its folder and its
// command line. Nothing is written yet.
void Open(const std::wstring& file, const wchar_t* program, const wchar_t* commandLine);

// Once Excel's folders are known: creates the log and writes what was noted so far, unless its
// complete path (compared without regard to case, with short names made long) is one of
// `filesNotToBe` or lies in one of `foldersNotToBeIn`; then no log is written at all. Empty names
// are passed over. Only the first call does anything.
void Begin(const std::vector<std::wstring>& filesNotToBe,
           const std::vector<std::wstring>& foldersNotToBeIn);

// Notes one line: line breaks become spaces; every other control character, and the Unicode line
// and paragraph separators, are shown as escapes (\x1B, \x85, \u2028).
void Note(const std::wstring& line);

// Whether a log was asked for and could not be written, wholly or in part.
bool Failed();

// Writes the log of a run that ends before Begin, notes how the program ends, and gives its exit
// code: `code`, or, where the program is done but its log could not be written, kLogFailed, so
// that a script learns of it.
int Ending(int code);

}  // namespace logbook
