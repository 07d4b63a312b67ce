#include <windows.h>

#include <algorithm>

#include "file_ops.h"
#include "profile.h"
#include "text.h"

namespace profile {

WriteResult WriteKeyBytes(const std::wstring& file, const char* key, const std::string& value) {
    std::string ansiFile;
    if (!ToAnsi(file, ansiFile)) return WriteResult::kUnrepresentable;
    const bool written = RetryWhileLocked(
        [&] { return WritePrivateProfileStringA(kSection, key, value.c_str(), ansiFile.c_str()); });
    return written ? WriteResult::kWritten : WriteResult::kRefused;
}

std::string MyKeyValue(const std::wstring& installSet, const char* key) {
    std::string file;
    if (!ToAnsi(installSet + kFileName, file)) return {};
    char buffer[255] = {};
    GetPrivateProfileStringA(kSection, key, "", buffer, sizeof buffer, file.c_str());
    std::string_view value(buffer, sizeof buffer);
    value = value.substr(0, value.find('\0'));  // no NUL at all gives empty text below
    if (value.size() == sizeof buffer) return {};
    if (value.size() < sizeof buffer - 1) return std::string(value);  // not cut: as it stands
    return std::string(WholeCharacters(value));
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

namespace {

// Each line of `bytes`, without its line end.
template <typename Visit>
void ForEachLine(std::string_view bytes, Visit visit) {
    while (!bytes.empty()) {
        const size_t end = std::min(bytes.find('\n'), bytes.size());
        std::string_view line = bytes.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        visit(line);
        bytes.remove_prefix(std::min(end + 1, bytes.size()));
    }
}

std::string Trimmed(std::string_view text, bool lowerCase) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    std::string trimmed(text.substr(first, text.find_last_not_of(" \t") - first + 1));
    if (lowerCase) {
        std::transform(trimmed.begin(), trimmed.end(), trimmed.begin(), [](unsigned char c) {
            return static_cast<char>(c < 0x80 ? tolower(c) : c);
        });
    }
    return trimmed;
}

}  // namespace

int FirstLineNotInCodePage(std::string_view bytes) {
    int number = 0, first = 0;
    ForEachLine(bytes, [&](std::string_view line) {
        ++number;
        if (first == 0 && !line.empty() &&
            !MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, line.data(),
                                 static_cast<int>(line.size()), nullptr, 0)) {
            first = number;
        }
    });
    return first;
}

Entries EntriesOf(std::string_view bytes) {
    Entries entries;
    std::string section;
    ForEachLine(bytes, [&](std::string_view line) {
        const std::string text = Trimmed(line, false);
        if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
            section = Trimmed(std::string_view(text).substr(1, text.size() - 2), true);
        } else if (const size_t equals = text.find('=');
                   equals != std::string::npos && text.front() != ';') {
            entries.try_emplace({section, Trimmed(std::string_view(text).substr(0, equals), true)},
                                Trimmed(std::string_view(text).substr(equals + 1), false));
        }
    });
    return entries;
}

}  // namespace profile
