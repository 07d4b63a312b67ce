// Fixtures on disk for the tests: a lab PC in a folder of its own with the stand-in host, files as
// exact bytes.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "layout.h"
#include "scoped.h"

namespace fs = std::filesystem;

// A file beside this test program: the test-only programs, and the build's programs in ..\bin.
inline fs::path BesideTheTest(const wchar_t* name) {
    wchar_t self[MAX_PATH];
    return fs::path(std::wstring(self, GetModuleFileNameW(nullptr, self, MAX_PATH)))
        .replace_filename(name);
}

// A registry key that a row made (in the registry view `view`), removed with everything in it
// when the row ends.
struct RegistryKey {
    RegistryKey(HKEY root, std::wstring path, REGSAM view = 0)
        : root(root), path(std::move(path)), view(view) {
        RegCreateKeyExW(root, this->path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                        key.put(), nullptr);
    }
    RegistryKey(const RegistryKey&) = delete;
    ~RegistryKey() {
        RegDeleteTreeW(key.get(), nullptr);
        RegDeleteKeyExW(root, path.c_str(), view, 0);
    }
    void Set(const wchar_t* name, const std::wstring& text) const {
        RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    HKEY root;
    std::wstring path;
    REGSAM view;
    UniqueHkey key;
};

// A text value of the add-in's entry in Apps & features below `root`, or "<missing>".
inline std::wstring EntryValue(HKEY root, const wchar_t* name) {
    wchar_t text[1024];
    DWORD size = sizeof text;
    return RegGetValueW(root, layout::kUninstallKey, name, RRF_RT_REG_SZ, nullptr, text, &size) ==
                   ERROR_SUCCESS
               ? text
               : L"<missing>";
}

// Text in a code page: CP_UTF8 for messages, 936 for what the profile calls store. The tests' own
// encoder, independent of the programs' conversion.
inline std::string Encode(UINT codePage, std::wstring_view text) {
    const int length = static_cast<int>(text.size());
    std::string bytes(text.size() * 4, '\0');
    bytes.resize(static_cast<size_t>(WideCharToMultiByte(
        codePage, 0, text.data(), length, bytes.data(), length * 4, nullptr, nullptr)));
    return bytes;
}
inline std::string Utf8(std::wstring_view text) { return Encode(CP_UTF8, text); }
inline std::string Cp936(std::wstring_view text) { return Encode(936, text); }

// The non-empty lines of `bytes`, without their line ends.
inline std::vector<std::string> LinesOf(std::string_view bytes) {
    std::vector<std::string> lines;
    std::istringstream in{std::string(bytes)};
    for (std::string line; std::getline(in, line, '\n');) {
        if (line.ends_with('\r')) line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

// A file's bytes, or "<missing>".
inline std::string ReadBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file || fs::is_directory(path)) return "<missing>";
    return {std::istreambuf_iterator<char>(file), {}};
}

// A profile's text in code page 936, whether it is stored so or as UTF-16 with its mark.
inline std::string ProfileText(const fs::path& path) {
    const std::string bytes = ReadBytes(path);
    if (!bytes.starts_with("\xFF\xFE")) return bytes;
    return Cp936(std::wstring_view(reinterpret_cast<const wchar_t*>(bytes.data() + 2),
                                   (bytes.size() - 2) / 2));
}

inline void WriteBytes(const fs::path& path, std::string_view bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).flush()) {
        throw std::runtime_error("cannot write " + Utf8(path.wstring()));
    }
}

// Removes a tree, read-only files too; gives its path.
inline fs::path RemoveTree(const fs::path& path) {
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(path, ignored)) {
        SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(path, ignored);
    return path;
}

// What a folder holds: each file's bytes (a folder's as "<folder>"), by path below it in UTF-8.
inline std::map<std::string, std::string> TreeOf(const fs::path& folder) {
    std::map<std::string, std::string> tree;
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(folder, ignored)) {
        tree[Utf8(entry.path().lexically_relative(folder).wstring())] =
            entry.is_directory() ? "<folder>" : ReadBytes(entry.path());
    }
    return tree;
}

// The name of a table's row, for TEST_P: rows are structs whose first member is `name`.
inline constexpr auto kRowName = [](const auto& info) {
    std::string name = info.param.name;
    for (char& c : name) c = isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
};

// A file held open for reading (made, if it is not there), as by another program that has it
// open, so that it can be neither replaced nor deleted, nor written unless `share` lets it; for
// `milliseconds` only when given, as a virus scanner holds a file that was just written.
struct LockedFile {
    explicit LockedFile(const std::wstring& path, DWORD milliseconds = INFINITE,
                        DWORD share = FILE_SHARE_READ)
        : handle(OwnFileHandle(
              CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_ALWAYS, 0, nullptr))) {
        if (!handle) throw std::runtime_error("cannot lock " + Utf8(path));
        if (milliseconds == INFINITE) return;
        releaser = std::jthread([this, milliseconds] {
            Sleep(milliseconds);
            handle.reset();
        });
    }

    UniqueHandle handle;
    std::jthread releaser;  // lets go of it after the time given
};

// A lab PC in a folder of the test's own under the temporary folder, or at `name` when that is a
// complete path (emptied before, removed after): an install set (安装包) with the add-in and its
// profile, Excel's program folder with its start-up folder in it, and the stand-in host answering
// them (and version 14.0), whose answers and record of calls are in a folder beside it under the
// temporary folder, which the environment names for this process and the programs it starts.
struct LabPc {
    LabPc(const wchar_t* name, std::string_view addInBytes, std::string_view shippedBytes)
        : root(RemoveTree(fs::temp_directory_path() / L"qorvel-tests" / name)) {
        for (const auto& folder : {installSet, excel, startup, hostFolder}) {
            fs::create_directories(folder);
        }
        WriteBytes(addInSource, addInBytes);
        WriteBytes(shippedProfile, shippedBytes);
        WriteBytes(remover, "remover");
        WriteBytes(hostFolder + L"\\answers.ini", "\xFF\xFE");  // UTF-16: answers may be Chinese
        WriteBytes(hostFolder + L"\\calls.log", "");
        SetEnvironmentVariableW(L"QORVEL_STANDIN_DIR", hostFolder.c_str());
        Answer(L"Path", excel);
        Answer(L"StartupPath", startup);
    }
    LabPc(const LabPc&) = delete;
    ~LabPc() {
        keys.clear();
        SetEnvironmentVariableW(L"QORVEL_STANDIN_DIR", nullptr);
        RemoveTree(root);
        RemoveTree(hostFolder);
    }

    void Answer(const wchar_t* key, const std::wstring& value) const {
        WritePrivateProfileStringW(L"host", key, value.c_str(),
                                   (hostFolder + L"\\answers.ini").c_str());
    }
    // Every call the host got, in order: "GetIDsOfNames Path 1033", "Invoke Path 1033 2".
    std::vector<std::string> HostCalls() const {
        return LinesOf(ReadBytes(hostFolder + L"\\calls.log"));
    }

    fs::path root;
    std::wstring installSet = root / L"安装包";
    std::wstring addInSource = installSet + L"\\setup.xla";
    std::wstring shippedProfile = installSet + L"\\QorvelProfile.ini";
    std::wstring remover = installSet + L"\\remover.exe";
    std::wstring excel = root / L"Office14";
    std::wstring startup = excel + L"\\XLSTART";
    std::wstring hostProfile = excel + L"\\QorvelProfile.ini";
    std::wstring addIn = startup + L"\\Qorv.xla";
    // Where Setup writes the add-in before it moves it into place, and where earlier versions did.
    std::wstring stagedAddIn = excel + L"\\Qorv.xla.tmp";
    std::wstring earlierStagedAddIn = startup + L"\\Qorv.xla.tmp";
    std::wstring hostFolder =
        RemoveTree(fs::temp_directory_path() / L"qorvel-tests" / (root.filename() += L"-host"));
    std::vector<std::unique_ptr<LockedFile>> held;  // by other programs while a row runs
    // Made by the row, and the entries in Apps & features, none before the row and none after.
    std::vector<std::unique_ptr<RegistryKey>> keys = [] {
        std::vector<std::unique_ptr<RegistryKey>> entries;
        for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            entries.push_back(std::make_unique<RegistryKey>(root, layout::kUninstallKey));
            RegDeleteTreeW(root, layout::kUninstallKey);
        }
        return entries;
    }();
};

// A row's arrangement: Excel registered as Office registers it, the local server of its class
// run by `command`, in which "{}" stands for Office14\EXCEL.EXE, a copy of the test program
// `program` (excel14.exe or excel16.exe, with that version resource), or nothing when empty.
inline auto Registering(const wchar_t* program, const wchar_t* command) {
    return [=](LabPc& pc) {
        const std::wstring exe = pc.excel + L"\\EXCEL.EXE";
        if (*program) fs::copy_file(BesideTheTest(program), exe);
        std::wstring line = command;
        line.replace(line.find(L"{}"), 2, exe);
        pc.keys.push_back(std::make_unique<RegistryKey>(
            HKEY_LOCAL_MACHINE,
            L"Software\\Classes\\CLSID\\{00020812-0000-0000-C000-000000000046}\\LocalServer32"));
        pc.keys.back()->Set(nullptr, line);
    };
}

// A row's arrangement on a lab PC: the stand-in host answers `key` with `value`.
inline auto Answering(const wchar_t* key, const wchar_t* value) {
    return [=](LabPc& pc) { pc.Answer(key, value); };
}

// A row's arrangement: another program holds this file open while the row runs, for
// `milliseconds` only when given, sharing it as `share` says.
inline auto Holding(std::wstring LabPc::*file, DWORD milliseconds = INFINITE,
                    DWORD share = FILE_SHARE_READ) {
    return [=](LabPc& pc) {
        pc.held.push_back(std::make_unique<LockedFile>(pc.*file, milliseconds, share));
    };
}

// A row's arrangement: a folder stands where a file belongs.
inline auto FolderAt(std::wstring LabPc::*file) {
    return [=](LabPc& pc) {
        fs::remove(pc.*file);
        fs::create_directories(pc.*file);
    };
}
