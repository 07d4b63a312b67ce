#include <windows.h>

#include <iterator>
#include <string>

#include "account.h"
#include "exit_codes.h"
#include "logbook.h"
#include "scoped.h"
#include "version.h"

namespace logbook {
namespace {

std::wstring path;  // complete; empty: no log asked for, or none can be
bool begun = false;
std::string kept;  // what was noted before Begin
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

std::wstring Account() {
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {}, user[257] = {};
    DWORD computerSize = MAX_COMPUTERNAME_LENGTH + 1, userSize = 257;
    GetComputerNameW(computer, &computerSize);
    GetUserNameW(user, &userSize);
    return std::wstring(computer) + L"\\" + user;
}

// The complete path of `name`, or empty.
std::wstring FullPath(const std::wstring& name) {
    wchar_t buffer[4 * MAX_PATH];
    const DWORD length = GetFullPathNameW(name.c_str(), std::size(buffer), buffer, nullptr);
    return length < std::size(buffer) ? std::wstring(buffer, length) : L"";
}

// The complete path of `name` with the names of what exists on it in their long form (a short
// name such as QORVEL~1.INI names the same file as the long one), without a trailing backslash.
std::wstring Canonical(const std::wstring& name) {
    std::wstring full = FullPath(name);
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    for (size_t end = full.size(); end != std::wstring::npos && end > 0;
         end = full.rfind(L'\\', end - 1)) {
        wchar_t known[4 * MAX_PATH];
        const DWORD length = GetLongPathNameW(full.substr(0, end).c_str(), known, std::size(known));
        if (length && length < std::size(known))
            return std::wstring(known, length) + full.substr(end);
    }
    return full;
}

bool SameText(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Whether `path` lies in `folder`, at any depth; nothing lies in a folder without a name.
bool Within(const std::wstring& path, std::wstring folder) {
    if (folder.empty()) return false;
    if (folder.back() != L'\\') folder += L'\\';
    return path.size() > folder.size() &&
           SameText(std::wstring_view(path).substr(0, folder.size()), folder);
}

// Where the first folder below the root of `path` begins: after "C:\", "\\server\share\",
// "\\?\C:\" or "\\?\UNC\server\share\".
size_t RootLength(const std::wstring& path) {
    size_t end = 0, parts = 1;
    if (path.starts_with(L"\\\\?\\UNC\\")) {
        end = 8, parts = 2;
    } else if (path.starts_with(L"\\\\?\\")) {
        end = 4;
    } else if (path.starts_with(L"\\\\")) {
        end = 2, parts = 2;
    }
    for (; parts > 0; --parts) {
        end = path.find(L'\\', end);
        if (end == std::wstring::npos) return path.size();
        ++end;
    }
    return end;
}

// Whether the folder `held` open as itself (FILE_FLAG_OPEN_REPARSE_POINT) at `name` is another name
// for something elsewhere: a junction, a symbolic link (a name surrogate; a cloud file's
// placeholder is none). Wine shows a Unix symbolic link as a reparse point only in the attributes
// read by name, and opens the folder it points at.
bool IsLink(HANDLE held, const std::wstring& name) {
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (!GetFileInformationByHandleEx(held, FileAttributeTagInfo, &tag, sizeof tag)) return true;
    if (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return IsReparseTagNameSurrogate(tag.ReparseTag);
    }
    const DWORD byName = GetFileAttributesW(name.c_str());
    return byName == INVALID_FILE_ATTRIBUTES || (byName & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The path of what `handle` holds open as the file system names it, links on the way followed.
std::wstring FinalPath(HANDLE handle) {
    wchar_t buffer[4 * MAX_PATH];
    const DWORD length = GetFinalPathNameByHandleW(handle, buffer, std::size(buffer), 0);
    return length < std::size(buffer) ? std::wstring(buffer, length) : L"";
}

// Clears the way for a new log at `log`, in the folder `held` open: an older log there, a file of
// its own with that one name, is deleted, exactly the file looked at (through its handle).
// Anything else there is left as it is, and the way stays closed: a symbolic link or a junction
// (opened as itself, it is a reparse point), a hard link (a file with other names), a folder, a
// file that Wine reaches through a Unix symbolic link (its final path lies elsewhere; Wine's
// DeleteFileW would delete the file it points at).
bool ClearOldLog(const std::wstring& log, HANDLE held) {
    const UniqueHandle old =
        OwnFileHandle(CreateFileW(log.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!old) return GetLastError() == ERROR_FILE_NOT_FOUND;
    std::wstring folder = FinalPath(held);
    if (folder.empty() || folder.back() != L'\\') folder += L'\\';
    BY_HANDLE_FILE_INFORMATION file;
    FILE_DISPOSITION_INFO gone = {TRUE};
    return GetFileInformationByHandle(old.get(), &file) &&
           !(file.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
           file.nNumberOfLinks == 1 &&
           SameText(FinalPath(old.get()), folder + log.substr(log.rfind(L'\\') + 1)) &&
           SetFileInformationByHandle(old.get(), FileDispositionInfo, &gone, sizeof gone);
}

// Creates a new file at the complete path `log`, never through a link. The root and each folder
// on the way are opened as themselves, each folder refused where it is a link, and held open
// without letting them be deleted (no FILE_SHARE_DELETE) until the file is made, so that none can
// be renamed, removed or replaced by a link meanwhile. The way is cleared of an older log; then
// the file is created only where nothing stands (CREATE_NEW), the name opened as itself: a link
// put there meanwhile makes it fail rather than be followed.
UniqueHandle CreateNew(const std::wstring& log) {
    std::vector<UniqueHandle> folders;
    const size_t root = RootLength(log);
    for (size_t end = root; end != std::wstring::npos; end = log.find(L'\\', end + 1)) {
        const std::wstring folder = log.substr(0, end);
        UniqueHandle held = OwnFileHandle(
            CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!held || (end != root && IsLink(held.get(), folder))) return {};
        folders.push_back(std::move(held));
    }
    if (!ClearOldLog(log, folders.back().get())) return {};
    return OwnFileHandle(
        CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

}  // namespace

void Open(const std::wstring& name, const wchar_t* program, const wchar_t* commandLine) {
    path = FullPath(name);
    failed = path.empty();
    kept = "\xEF\xBB\xBF";
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t time[32];
    wsprintfW(time, L"%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
              now.wMinute, now.wSecond);
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    Note(std::wstring(L"Morvane ") + program + L" " + TEXT(QORVEL_VERSION_TEXT));
    Note(std::wstring(L"时间：") + time);
    Note(L"账户：" + Account() + (HasAdministratorRights() ? L"（以管理员身份运行）" : L"（未提升权限）"));
    Note(std::wstring(L"程序：") + self);
    Note(std::wstring(L"命令行：") + commandLine);
}

void Begin(const std::vector<std::wstring>& filesNotToBe,
           const std::vector<std::wstring>& foldersNotToBeIn) {
    if (path.empty() || begun) return;
    begun = true;
    const std::wstring log = Canonical(path);
    bool allowed = true;
    for (const std::wstring& name : filesNotToBe) {
        if (!name.empty() && SameText(log, Canonical(name))) allowed = false;
    }
    for (const std::wstring& folder : foldersNotToBeIn) {
        if (!folder.empty() && Within(log, Canonical(folder))) allowed = false;
    }
    if (allowed) file = CreateNew(log);
    if (file) Write(kept);
    failed = failed || !file;
    kept.clear();
}

void Note(const std::wstring& line) {
    if (path.empty() || (begun && !file)) return;
    // One line of printable text for each thing: the line breaks of a message become spaces.
    std::wstring flat;
    for (const wchar_t c : line) {
        if (c == L'\r' || c == L'\n') {
            if (!flat.empty() && flat.back() != L' ') flat += L' ';
        } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029) {
            wchar_t escape[8];
            wsprintfW(escape, c > 0xFF ? L"\\u%04X" : L"\\x%02X", c);
            flat += escape;
        } else {
            flat += c;
        }
    }
    const std::string bytes = Utf8(flat) + "\r\n";
    if (file) {
        Write(bytes);
    } else {
        kept += bytes;
    }
}

bool Failed() { return failed; }

int Ending(int code) {
    Begin({}, {});
    if (code == exit_code::kDone && failed) code = exit_code::kLogFailed;
    wchar_t line[32];
    wsprintfW(line, L"退出代码：%d", code);
    Note(line);
    return code;
}

}  // namespace logbook
