// Fixtures on disk for the tests: a folder of their own, files as exact bytes, the stand-in host.
#pragma once

#include <windows.h>

#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "scoped.h"

// Text in and out of a code page: CP_UTF8 for messages, 936 for what the profile calls store.
std::string Encode(UINT codePage, std::wstring_view text);
std::wstring Decode(UINT codePage, std::string_view bytes);
inline std::string Utf8(std::wstring_view text) { return Encode(CP_UTF8, text); }
inline std::string Cp936(std::wstring_view text) { return Encode(936, text); }

// The non-empty lines of `bytes`, without their line ends.
std::vector<std::string> LinesOf(std::string_view bytes);

std::string ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, std::string_view bytes);
bool FileExists(const std::wstring& path);
void MakeFolder(const std::wstring& path);
void RemoveTree(const std::wstring& path);

// The names in a folder, in the order the file system gives them, as UTF-8.
std::vector<std::string> FilesIn(const std::wstring& folder);

// A folder of the test's own under the temporary folder, emptied before and removed after.
class TempFolder {
public:
    explicit TempFolder(const wchar_t* name);
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder();
    const std::wstring& path() const { return path_; }
    std::wstring operator/(std::wstring_view name) const;

private:
    std::wstring path_;
};

// The stand-in host's answers and its record of calls, in a folder that the environment names
// for this process and the programs it starts.
class StandInHost {
public:
    explicit StandInHost(std::wstring folder);
    StandInHost(const StandInHost&) = delete;
    StandInHost& operator=(const StandInHost&) = delete;
    ~StandInHost();

    void Set(const wchar_t* key, const std::wstring& value);
    // Forgets every answer set: the host answers as it does by default.
    void Reset();
    // Whether this prefix registers the stand-in as a local server, in a process of its own.
    static bool OutOfProcess();
    // Every call the host got, in order: "GetIDsOfNames Path 1033", "Invoke Path 1033 2".
    std::vector<std::string> Calls() const;
    void ClearCalls();

private:
    std::wstring folder_;
};

// A lab PC under a test folder: an install set (安装包) with the add-in and its profile, Excel's
// program and start-up folders, and the stand-in host answering them with version 14.0.
struct LabPc {
    LabPc(const wchar_t* name, std::string_view addInBytes, std::string_view shippedProfile);
    // The host answers the lab PC's folders and version 14.0 again, and nothing else.
    void ResetHost();

    TempFolder root;
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
    ~LockedFile();

private:
    UniqueHandle handle_;
    std::thread releaser_;  // closes it after the time given
};

// Rectangles compare and print as got-versus-wanted.
inline bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
inline void PrintTo(const RECT& r, std::ostream* out) {
    *out << "(" << r.left << "," << r.top << ")-(" << r.right << "," << r.bottom << ")";
}
