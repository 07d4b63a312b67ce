// The profile file QorvelProfile.ini: section CurveInformation, read and written through the
// ANSI profile calls, which the add-in uses too, so the file stays in the ANSI code page.
#pragma once

#include <string>
#include <string_view>

namespace profile {

inline constexpr wchar_t kFileName[] = L"\\QorvelProfile.ini";
inline constexpr char kSection[] = "CurveInformation";

enum class WriteResult {
    kWritten,
    kUnrepresentable,  // a text has characters the ANSI code page cannot hold; nothing written
    kRefused,          // the platform refused the write (file locked, read-only, no permission)
};

// Writes `key` = `value` into section CurveInformation of `file`, creating the file or the section
// when missing and replacing the key's value in place when present.
WriteResult WriteKey(const std::wstring& file, const char* key, std::wstring_view value);

// The same with the value as bytes in the ANSI code page, passed on unchanged.
WriteResult WriteKeyBytes(const std::wstring& file, const char* key, const std::string& value);

// Reads `key` from section CurveInformation of `file` as the bytes the profile call gives,
// unchanged (a cut value ends with its last whole character).
std::string ReadKeyBytes(const std::wstring& file, const std::wstring& key);

// Reads `key` from section CurveInformation of `file` into a 255-byte buffer: empty when the
// file, section or key is missing; a longer value comes back cut to 254 bytes.
std::wstring ReadKey(const std::wstring& file, const std::wstring& key);

// The longest start of `bytes` (ANSI code page text) that holds whole characters only: a value cut
// at the read buffer's end may end in the first half of a double-byte character.
std::string_view WholeCharacters(std::string_view bytes);

// Reads `keyName` from the profile shipped in the install set.
std::wstring MyKeyValue(const std::wstring& installSet, const std::wstring& keyName);

}  // namespace profile
