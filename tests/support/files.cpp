#include <windows.h>

#include "files.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "host.h"

std::string Encode(UINT codePage, std::wstring_view text) {
    const int length = static_cast<int>(text.size());
    std::string bytes(static_cast<size_t>(length) * 4, '\0');
    bytes.resize(static_cast<size_t>(WideCharToMultiByte(
        codePage, 0, text.data(), length, bytes.data(), length * 4, nullptr, nullptr)));
    return bytes;
}

std::vector<std::string> LinesOf(std::string_view bytes) {
    std::vector<std::string> lines;
    std::istringstream in{std::string(bytes)};
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

std::string ReadBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file || fs::is_directory(path)) return "<missing>";
    return {std::istreambuf_iterator<char>(file), {}};
}

void WriteBytes(const fs::path& path, std::string_view bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).flush()) {
        throw std::runtime_error("cannot write " + Utf8(path.wstring()));
    }
}

void RemoveTree(const fs::path& path) {
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(path, ignored)) {
        SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(path, ignored);
}

std::map<std::string, std::string> TreeOf(const fs::path& folder) {
    std::map<std::string, std::string> tree;
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(folder, ignored)) {
        tree[Utf8(entry.path().lexically_relative(folder).wstring())] =
            entry.is_directory() ? "<folder>" : ReadBytes(entry.path());
    }
    return tree;
}

StandInHost::StandInHost(std::wstring folder) : folder_(std::move(folder)) {
    fs::create_directories(folder_);
    WriteBytes(folder_ + L"\\answers.ini", "\xFF\xFE");  // UTF-16: answers may be Chinese paths
    SetEnvironmentVariableW(L"QORVEL_STANDIN_DIR", folder_.c_str());
}

void StandInHost::Set(const wchar_t* key, const std::wstring& value) {
    WritePrivateProfileStringW(L"host", key, value.c_str(), (folder_ + L"\\answers.ini").c_str());
}

std::vector<std::string> StandInHost::Calls() const {
    const std::string log = ReadBytes(folder_ + L"\\calls.log");
    return log == "<missing>" ? std::vector<std::string>() : LinesOf(log);
}

bool StandInHost::OutOfProcess() {
    wchar_t clsid[40];
    StringFromGUID2(host::kGlobalClsid, clsid, 40);
    const std::wstring key =
        std::wstring(L"Software\\Classes\\CLSID\\") + clsid + L"\\LocalServer32";
    return RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, nullptr,
                        nullptr) == ERROR_SUCCESS;
}

LabPc::LabPc(const wchar_t* name, std::string_view addInBytes, std::string_view shippedProfile)
    : root([name] {
          const fs::path fresh = fs::temp_directory_path() / L"qorvel-tests" / name;
          RemoveTree(fresh);
          return fresh;
      }()) {
    for (const auto& folder : {installSet, excel, startup}) fs::create_directories(folder);
    WriteBytes(installSet + L"\\setup.xla", addInBytes);
    WriteBytes(installSet + L"\\QorvelProfile.ini", shippedProfile);
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
