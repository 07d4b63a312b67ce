#include <windows.h>

#include "file_ops.h"
#include "profile.h"
#include "text.h"

namespace profile {

WriteResult WriteKey(const std::wstring& file, const char* key, std::wstring_view value) {
    std::string ansiValue;
    if (!ToAnsi(value, ansiValue)) return WriteResult::kUnrepresentable;
    return WriteKeyBytes(file, key, ansiValue);
}

WriteResult WriteKeyBytes(const std::wstring& file, const char* key, const std::string& value) {
    std::string ansiFile;
    if (!ToAnsi(file, ansiFile)) return WriteResult::kUnrepresentable;
    const bool written = RetryWhileLocked(
        [&] { return WritePrivateProfileStringA(kSection, key, value.c_str(), ansiFile.c_str()); });
    return written ? WriteResult::kWritten : WriteResult::kRefused;
}

std::string ReadKeyBytes(const std::wstring& file, const std::wstring& key) {
    std::string ansiFile, ansiKey;
    if (!ToAnsi(file, ansiFile) || !ToAnsi(key, ansiKey)) return {};
    char buffer[255] = {};
    GetPrivateProfileStringA(kSection, ansiKey.c_str(), "", buffer, sizeof buffer,
                             ansiFile.c_str());
    std::string_view value(buffer, sizeof buffer);
    value = value.substr(0, value.find('\0'));  // no NUL at all gives empty text below
    if (value.size() == sizeof buffer) return {};
    if (value.size() < sizeof buffer - 1) return std::string(value);  // not cut: as it stands
    return std::string(WholeCharacters(value));
}

std::wstring ReadKey(const std::wstring& file, const std::wstring& key) {
    return FromAnsi(ReadKeyBytes(file, key));
}

std::string_view WholeCharacters(std::string_view bytes) {
    size_t whole = 0;
    while (whole < bytes.size()) {
        const size_t step = IsDBCSLeadByte(static_cast<BYTE>(bytes[whole])) ? 2 : 1;
        if (whole + step > bytes.size()) break;
        whole += step;
    }
    return bytes.substr(0, whole);
}

std::wstring MyKeyValue(const std::wstring& installSet, const std::wstring& keyName) {
    return ReadKey(installSet + kFileName, keyName);
}

}  // namespace profile
