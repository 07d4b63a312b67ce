#include <windows.h>

#include "files.h"

#include <stdexcept>

std::string Encode(UINT codePage, std::wstring_view text) {
    const int length = static_cast<int>(text.size());
    const int size =
        WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), length, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

std::wstring Decode(UINT codePage, std::string_view bytes) {
    const int length = static_cast<int>(bytes.size());
    const int size = MultiByteToWideChar(codePage, 0, bytes.data(), length, nullptr, 0);
    std::wstring text(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), length, text.data(), size);
    return text;
}

std::vector<std::string> LinesOf(std::string_view bytes) {
    std::vector<std::string> lines;
    while (!bytes.empty()) {
        const size_t end = std::min(bytes.find('\n'), bytes.size());
        std::string_view line = bytes.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) lines.emplace_back(line);
        bytes.remove_prefix(std::min(end + 1, bytes.size()));
    }
    return lines;
}

std::string ReadBytes(const std::wstring& path) {
    const UniqueHandle file =
        OwnFileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return "<missing>";
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
    }
    return bytes;
}

void WriteBytes(const std::wstring& path, std::string_view bytes) {
    const UniqueHandle file = OwnFileHandle(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) throw std::runtime_error("cannot write " + Utf8(path));
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void MakeFolder(const std::wstring& path) {
    for (size_t slash = path.find(L'\\', 3); slash != std::wstring::npos;
         slash = path.find(L'\\', slash + 1)) {
        CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
    }
    CreateDirectoryW(path.c_str(), nullptr);
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    const HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

std::vector<std::string> FilesIn(const std::wstring& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW entry;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") names.push_back(Utf8(name));
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return names;
}

TempFolder::TempFolder(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"qorvel-tests\\" + name;
    RemoveTree(path_);
    MakeFolder(path_);
}

TempFolder::~TempFolder() { RemoveTree(path_); }

std::wstring TempFolder::operator/(std::wstring_view name) const {
    return path_ + L"\\" + std::wstring(name);
}

StandInHost::StandInHost(std::wstring folder) : folder_(std::move(folder)) {
    MakeFolder(folder_);
    Reset();
    DeleteFileW((folder_ + L"\\calls.log").c_str());
    SetEnvironmentVariableW(L"QORVEL_STANDIN_DIR", folder_.c_str());
}

void StandInHost::Reset() {
    WriteBytes(folder_ + L"\\answers.ini", "\xFF\xFE");  // UTF-16: answers may be Chinese paths
}

StandInHost::~StandInHost() { SetEnvironmentVariableW(L"QORVEL_STANDIN_DIR", nullptr); }

void StandInHost::Set(const wchar_t* key, const std::wstring& value) {
    WritePrivateProfileStringW(L"host", key, value.c_str(), (folder_ + L"\\answers.ini").c_str());
}

bool StandInHost::OutOfProcess() {
    return RegGetValueW(HKEY_LOCAL_MACHINE,
                        L"Software\\Classes\\CLSID\\{00020812-0000-0000-C000-000000000046}\\"
                        L"LocalServer32",
                        nullptr, RRF_RT_REG_SZ, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::vector<std::string> StandInHost::Calls() const {
    const std::string log = ReadBytes(folder_ + L"\\calls.log");
    return log == "<missing>" ? std::vector<std::string>() : LinesOf(log);
}

void StandInHost::ClearCalls() { DeleteFileW((folder_ + L"\\calls.log").c_str()); }

LabPc::LabPc(const wchar_t* name, std::string_view addInBytes, std::string_view shippedProfile)
    : root(name) {
    MakeFolder(installSet);
    MakeFolder(excel);
    MakeFolder(startup);
    WriteBytes(installSet + L"\\setup.xla", addInBytes);
    WriteBytes(installSet + L"\\QorvelProfile.ini", shippedProfile);
    ResetHost();
}

void LabPc::ResetHost() {
    host.Reset();
    host.Set(L"Path", excel);
    host.Set(L"StartupPath", startup);
    host.Set(L"Version", L"14.0");
}

LockedFile::LockedFile(const std::wstring& path, DWORD milliseconds)
    : handle_(OwnFileHandle(
          CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr))) {
    if (!handle_) throw std::runtime_error("cannot lock " + Utf8(path));
    if (milliseconds != INFINITE) {
        releaser_ = std::thread([file = handle_.release(), milliseconds] {
            Sleep(milliseconds);
            CloseHandle(file);
        });
    }
}

LockedFile::~LockedFile() {
    if (releaser_.joinable()) releaser_.join();
}
