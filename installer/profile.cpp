#include <windows.h>

#include "profile.h"
#include "text.h"

namespace profile {

WriteResult WriteKey(const std::wstring& file, const char* key, std::wstring_view value) {
    std::string ansiFile, ansiValue;
    if (!ToAnsi(file, ansiFile) || !ToAnsi(value, ansiValue)) return WriteResult::kUnrepresentable;
    if (!WritePrivateProfileStringA(kSection, key, ansiValue.c_str(), ansiFile.c_str())) {
        return WriteResult::kRefused;
    }
    return WriteResult::kWritten;
}

std::wstring ReadKey(const std::wstring& file, const std::wstring& key) {
    std::string ansiFile, ansiKey;
    if (!ToAnsi(file, ansiFile) || !ToAnsi(key, ansiKey)) return {};
    char buffer[255] = {};
    GetPrivateProfileStringA(kSection, ansiKey.c_str(), "", buffer, sizeof buffer,
                             ansiFile.c_str());
    std::string_view value(buffer, sizeof buffer);
    value = value.substr(0, value.find('\0'));  // no NUL at all gives empty text below
    if (value.size() == sizeof buffer) return {};
    return FromAnsi(WholeCharacters(value));
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
