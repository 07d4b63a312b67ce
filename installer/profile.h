// The profile file QorvelProfile.ini: section CurveInformation, read and written through the
// ANSI profile calls, which the add-in uses too, so the file keeps its encoding (the ANSI code
// page, or UTF-16 where an administrator saved it so).
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "errors.h"

namespace profile {

inline constexpr char kSection[] = "CurveInformation";

// Writes `key` = `value` (bytes in the ANSI code page, passed on unchanged) into section
// CurveInformation of `file`, creating the file or the section when missing and replacing the
// key's value in place when present. Gives whether it was written; the last error says why not.
bool WriteKey(const std::wstring& file, const char* key, const std::string& value);

// Reads `key` from section CurveInformation of the profile `file` (the one shipped in the install
// set), through a 255-byte buffer, as the bytes the profile call gives: empty when the file,
// section or key is missing; a longer value comes back cut to 254 bytes, ending with its last
// whole character.
std::string MyKeyValue(const std::wstring& file, const char* key);

// The longest start of `bytes` (ANSI code page text) that holds whole characters only: a value cut
// at the read buffer's end may end in the first half of a double-byte character.
std::string_view WholeCharacters(std::string_view bytes);

// The profile calls would replace bytes of an ANSI profile that are not text in the ANSI code page
// (a stray byte in a hand-edited file) with "?": the number of the first line of `file` that holds
// such bytes, or 0 (also for a UTF-16 profile, which holds text only).
int FirstLineNotInCodePage(const std::wstring& file);

// Writes `keys` (bytes in the ANSI code page) into section CurveInformation of the staged profile
// `file`, and checks that it then reads back as it read before with those keys set: where the
// disk is full, the profile call may cut the file it rewrites without saying so.
using Keys = std::vector<std::pair<const char*, std::string>>;
install::Failure Edit(const std::wstring& file, const Keys& keys);

// Whether `file` was saved as UTF-8 (Notepad's choice for new files since Windows 10 1903), which
// the add-in would read as ANSI text: with its byte-order mark, or without it where its bytes that
// are not ASCII are UTF-8. One that holds ASCII only reads the same either way: it is not.
bool SavedAsUtf8(const std::wstring& file);

// Every value of a profile file by section and key (both in lower case, as the profile calls match
// them without regard to case), as the profile calls read them.
using Entries = std::map<std::pair<std::string, std::string>, std::string>;
Entries EntriesOf(const std::wstring& file);

}  // namespace profile
