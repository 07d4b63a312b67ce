#include <windows.h>

#include <cwchar>

#include "file_ops.h"
#include "registered_host.h"
#include "scoped.h"
#include "text.h"

namespace host {
namespace {

constexpr wchar_t kServerKey[] =
    L"CLSID\\{00020812-0000-0000-C000-000000000046}\\LocalServer32";  // Excel's application
constexpr wchar_t kAppPathKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\excel.exe";

// A text value (an expandable one expanded), or empty text where there is none.
std::wstring TextValue(HKEY root, const wchar_t* key, const wchar_t* name, REGSAM view) {
    UniqueHkey opened;
    if (RegOpenKeyExW(root, key, 0, KEY_QUERY_VALUE | view, opened.put()) != ERROR_SUCCESS) {
        return {};
    }
    DWORD size = 0;
    if (RegGetValueW(opened.get(), nullptr, name, RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
        ERROR_SUCCESS) {
        return {};
    }
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegGetValueW(opened.get(), nullptr, name, RRF_RT_REG_SZ, nullptr, text.data(), &size) !=
        ERROR_SUCCESS) {
        return {};
    }
    text.resize(wcslen(text.c_str()));
    return text;
}

// The first two fields of the file version in the version resource of `program`, read as data:
// nothing of it runs, and no DLL is loaded for it.
std::wstring VersionOf(const std::wstring& program) {
    const HMODULE image = LoadLibraryExW(program.c_str(), nullptr,
                                         LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!image) return {};
    std::wstring version;
    if (const HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), RT_VERSION)) {
        const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(image, found)));
        const DWORD size = SizeofResource(image, found);
        // VS_FIXEDFILEINFO follows the key "VS_VERSION_INFO", aligned: found by its signature.
        for (DWORD at = 0; bytes && at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
            VS_FIXEDFILEINFO info;
            memcpy(&info, bytes + at, sizeof info);
            if (info.dwSignature != VS_FFI_SIGNATURE) continue;
            version = Decimal(HIWORD(info.dwFileVersionMS)) + L"." +
                      Decimal(LOWORD(info.dwFileVersionMS));
            break;
        }
    }
    FreeLibrary(image);
    return version;
}

}  // namespace

std::wstring ProgramOf(std::wstring_view command) {
    while (!command.empty() && command.front() == L' ') command.remove_prefix(1);
    if (command.starts_with(L'"')) {
        command.remove_prefix(1);
        return std::wstring(command.substr(0, command.find(L'"')));
    }
    // Unquoted, the path may hold spaces ("C:\Program Files\...\EXCEL.EXE /automation"): it ends
    // with the program's extension.
    std::wstring lower(command);
    CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
    for (size_t at = lower.find(L".exe"); at != std::wstring::npos;
         at = lower.find(L".exe", at + 1)) {
        if (at + 4 == lower.size() || lower[at + 4] == L' ')
            return std::wstring(command.substr(0, at + 4));
    }
    return std::wstring(command.substr(0, command.find(L' ')));
}

bool FindRegistered(Registration& found) {
    // This program's own view, then the other one (on 32-bit Windows both are the same).
    constexpr REGSAM kViews[] = {0, sizeof(void*) == 4 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY};
    found = {};
    found.lookedAt =
        std::wstring(L"HKEY_CLASSES_ROOT\\") + kServerKey + L"、HKEY_LOCAL_MACHINE\\" + kAppPathKey;
    for (const REGSAM view : kViews) {
        std::wstring command = TextValue(HKEY_CLASSES_ROOT, kServerKey, L"ServerExecutable", view);
        if (command.empty()) command = TextValue(HKEY_CLASSES_ROOT, kServerKey, nullptr, view);
        if (!command.empty()) {
            found.program = ProgramOf(command);
            break;
        }
    }
    for (const REGSAM view : kViews) {
        if (!found.program.empty()) break;
        found.program = ProgramOf(TextValue(HKEY_LOCAL_MACHINE, kAppPathKey, nullptr, view));
    }
    if (found.program.empty()) return false;
    found.lookedAt = found.program;
    if (LookUp(found.program).found != Lookup::kFile) return false;
    std::wstring longName(MAX_PATH, L'\0');
    for (DWORD size = 0;;) {
        size = GetLongPathNameW(found.program.c_str(), longName.data(),
                                static_cast<DWORD>(longName.size()));
        if (size < longName.size()) {
            longName.resize(size);
            break;
        }
        longName.resize(size);
    }
    if (longName.empty()) longName = found.program;
    found.folder = longName.substr(0, longName.find_last_of(L'\\'));
    found.version = VersionOf(found.program);
    return true;
}

}  // namespace host
