// Fixtures on disk for the tests: a folder of their own, files as exact bytes, the stand-in host.
#pragma once

#include <windows.h>

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "scoped.h"

namespace fs = std::filesystem;

// Text in a code page: CP_UTF8 for messages, 936 for what the profile calls store. The tests' own
// encoder, independent of the programs' conversion.
std::string Encode(UINT codePage, std::wstring_view text);
inline std::string Utf8(std::wstring_view text) { return Encode(CP_UTF8, text); }
inline std::string Cp936(std::wstring_view text) { return Encode(936, text); }

// The non-empty lines of `bytes`, without their line ends.
std::vector<std::string> LinesOf(std::string_view bytes);

// A file's bytes, or "<missing>".
std::string ReadBytes(const fs::path& path);
void WriteBytes(const fs::path& path, std::string_view bytes);
// Removes a tree, read-only files too.
void RemoveTree(const fs::path& path);
// What a folder holds: each file's bytes (a folder's as "<folder>"), by path below it in UTF-8.
std::map<std::string, std::string> TreeOf(const fs::path& folder);

// The name of a table's row, for TEST_P: rows are structs whose first member is `name`.
inline constexpr auto kRowName = [](const auto& info) {
    std::string name = info.param.name;
    for (char& c : name) c = isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
};

// The stand-in host's answers and its record of calls, in a folder that the environment names
// for this process and the programs it starts.
class StandInHost {
public:
    explicit StandInHost(std::wstring folder);
    StandInHost(const StandInHost&) = delete;
    StandInHost& operator=(const StandInHost&) = delete;
    ~StandInHost() { SetEnvironmentVariableW(L"QORVEL_STANDIN_DIR", nullptr); }

    void Set(const wchar_t* key, const std::wstring& value);
    // Whether this prefix registers the stand-in as a local server, in a process of its own.
    static bool OutOfProcess();
    // Every call the host got, in order: "GetIDsOfNames Path 1033", "Invoke Path 1033 2".
    std::vector<std::string> Calls() const;

private:
    std::wstring folder_;
};

// A lab PC in a folder of the test's own under the temporary folder (emptied before, removed
// after): an install set (安装包) with the add-in and its profile, Excel's program and start-up
// folders, and the stand-in host answering them with version 14.0.
struct LabPc {
    LabPc(const wchar_t* name, std::string_view addInBytes, std::string_view shippedProfile);
    LabPc(const LabPc&) = delete;
    LabPc& operator=(const LabPc&) = delete;
    ~LabPc() { RemoveTree(root); }

    fs::path root;
    std::wstring installSet = root / L"安装包";
    std::wstring excel = root / L"Office14";
    std::wstring startup = root / L"XLSTART";
    std::wstring hostProfile = excel + L"\\QorvelProfile.ini";
    std::wstring addIn = startup + L"\\Qorv.xla";
    StandInHost host{root / L"host"};
};

// A file held open with no sharing, as by another program that has it open; for `milliseconds`
// only when given, as a virus scanner holds a file that was just written.
class LockedFile {
public:
    explicit LockedFile(const std::wstring& path, DWORD milliseconds = INFINITE);
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;
    ~LockedFile() {
        if (releaser_.joinable()) releaser_.join();
    }

private:
    UniqueHandle handle_;
    std::thread releaser_;  // closes it after the time given
};
