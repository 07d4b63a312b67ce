#include <windows.h>

#include <algorithm>

#include "file_ops.h"
#include "logbook.h"
#include "profile.h"
#include "scoped.h"
#include "text.h"

namespace profile {
namespace {

// The file's name as the ANSI profile calls take it; callers have checked that it converts.
std::string AnsiName(const std::wstring& file) {
    std::string name;
    ToAnsi(file, name);
    return name;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(c < 0x80 ? tolower(c) : c); });
    return text;
}

// Bytes in the ANSI code page, for the log.
std::wstring Wide(const std::string& ansi) {
    std::wstring text(ansi.size(), L'\0');
    text.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, ansi.data(),
                                                        static_cast<int>(ansi.size()), text.data(),
                                                        static_cast<int>(text.size()))));
    return text;
}

// The whole answer of a profile call that fills a buffer (`read(buffer, size)` gives the count it
// filled), however long: the buffer grows while the call says it was too small, which it says
// by filling it but for `cut` bytes.
template <typename Read>
std::string WholeAnswer(Read read, DWORD cut) {
    for (DWORD size = 1024;; size *= 2) {
        std::string buffer(size, '\0');
        const DWORD got = read(buffer.data(), size);
        if (got + cut < size || size >= (1u << 24)) return buffer.substr(0, got);
    }
}

// The names of a NUL-separated list.
template <typename Visit>
void ForEachName(const std::string& list, Visit visit) {
    for (size_t at = 0; at < list.size();) {
        const size_t end = std::min(list.find('\0', at), list.size());
        if (end > at) visit(list.substr(at, end - at));
        at = end + 1;
    }
}

// The file's bytes, as much as can be read.
std::string ReadAll(const std::wstring& path) {
    const UniqueHandle file =
        OwnFileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (file && ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
    }
    return bytes;
}

}  // namespace

bool WriteKey(const std::wstring& file, const char* key, const std::string& value) {
    const std::string name = AnsiName(file);
    return RetryWhileLocked([&] {
        return WritePrivateProfileStringA(kSection, key, value.c_str(), name.c_str()) != FALSE;
    });
}

std::string MyKeyValue(const std::wstring& file, const char* key) {
    char buffer[255] = {};
    GetPrivateProfileStringA(kSection, key, "", buffer, sizeof buffer, AnsiName(file).c_str());
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

int FirstLineNotInCodePage(const std::wstring& file) {
    std::string_view bytes;
    const std::string all = ReadAll(file);
    bytes = all;
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) return 0;  // UTF-16
    for (int number = 1; !bytes.empty(); ++number) {
        const size_t end = std::min(bytes.find('\n'), bytes.size());
        std::string_view line = bytes.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty() && !MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, line.data(),
                                                  static_cast<int>(line.size()), nullptr, 0)) {
            return number;
        }
        bytes.remove_prefix(std::min(end + 1, bytes.size()));
    }
    return 0;
}

bool SavedAsUtf8(const std::wstring& file) {
    const std::string all = ReadAll(file);
    std::string_view text = all;
    const bool marked = text.starts_with("\xEF\xBB\xBF");
    if (marked) text.remove_prefix(3);
    if (std::all_of(text.begin(), text.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return false;
    return marked || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                         static_cast<int>(text.size()), nullptr, 0) != 0;
}

Entries EntriesOf(const std::wstring& file) {
    const std::string name = AnsiName(file);
    const char* const path = name.c_str();
    Entries entries;
    const std::string sections =
        WholeAnswer([&](char* buffer,
                        DWORD size) { return GetPrivateProfileSectionNamesA(buffer, size, path); },
                    2);
    ForEachName(sections, [&](const std::string& section) {
        const std::string keys = WholeAnswer(
            [&](char* buffer, DWORD size) {
                return GetPrivateProfileStringA(section.c_str(), nullptr, "", buffer, size, path);
            },
            2);
        ForEachName(keys, [&](const std::string& key) {
            entries.try_emplace({Lower(section), Lower(key)},
                                WholeAnswer(
                                    [&](char* buffer, DWORD size) {
                                        return GetPrivateProfileStringA(
                                            section.c_str(), key.c_str(), "", buffer, size, path);
                                    },
                                    1));
        });
    });
    return entries;
}

install::Failure Edit(const std::wstring& file, const Keys& keys) {
    Entries wanted = EntriesOf(file);
    for (const auto& [key, value] : keys) {
        if (!WriteKey(file, key, value)) return install::WriteError(GetLastError(), file);
        logbook::Note(L"写入配置项：" + Wide(key) + L"=" + Wide(value));
        wanted[{Lower(kSection), Lower(key)}] = value;
    }
    // Flushed, so that it is read back from the disk.
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, file.c_str());
    if (EntriesOf(file) == wanted) return std::nullopt;
    ULARGE_INTEGER free = {};
    GetDiskFreeSpaceExW(file.substr(0, file.find_last_of(L'\\') + 1).c_str(), &free, nullptr,
                        nullptr);
    return install::ReadBackError(free.QuadPart, file);
}

}  // namespace profile
