#include <windows.h>

#include <string>

#include "exit_codes.h"
#include "logbook.h"
#include "scoped.h"
#include "version.h"

namespace logbook {
namespace {

UniqueHandle file;
bool failed = false;

void Write(const std::string& bytes) {
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
        failed = true;
    }
}

std::string Utf8(const std::wstring& text) {
    const int length = static_cast<int>(text.size());
    std::string bytes(text.size() * 3, '\0');
    bytes.resize(static_cast<size_t>(WideCharToMultiByte(
        CP_UTF8, 0, text.data(), length, bytes.data(), length * 3, nullptr, nullptr)));
    return bytes;
}

bool Elevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    const UniqueHandle owned(token);
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    return GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated;
}

std::wstring Account() {
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {}, user[257] = {};
    DWORD computerSize = MAX_COMPUTERNAME_LENGTH + 1, userSize = 257;
    GetComputerNameW(computer, &computerSize);
    GetUserNameW(user, &userSize);
    return std::wstring(computer) + L"\\" + user;
}

}  // namespace

void Open(const std::wstring& path, const wchar_t* program, const wchar_t* commandLine) {
    file = OwnFileHandle(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        failed = true;
        return;
    }
    Write("\xEF\xBB\xBF");
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t time[32];
    wsprintfW(time, L"%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
              now.wMinute, now.wSecond);
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    Note(std::wstring(L"Morvane ") + program + L" " + TEXT(QORVEL_VERSION_TEXT));
    Note(std::wstring(L"时间：") + time);
    Note(L"帐户：" + Account() + (Elevated() ? L"（以管理员身份运行）" : L"（未提升权限）"));
    Note(std::wstring(L"程序：") + self);
    Note(std::wstring(L"命令行：") + commandLine);
}

void Note(const std::wstring& line) {
    if (!file) return;
    // One line for each thing: the line breaks of a message become spaces.
    std::wstring flat;
    for (const wchar_t c : line) {
        const bool lineBreak = c == L'\r' || c == L'\n';
        if (!lineBreak)
            flat += c;
        else if (!flat.empty() && flat.back() != L' ')
            flat += L' ';
    }
    Write(Utf8(flat) + "\r\n");
}

bool Failed() { return failed; }

int Ending(int code) {
    if (code == exit_code::kDone && failed) code = exit_code::kLogFailed;
    wchar_t line[32];
    wsprintfW(line, L"退出代码：%d", code);
    Note(line);
    return code;
}

}  // namespace logbook
