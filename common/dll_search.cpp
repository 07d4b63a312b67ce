#include <windows.h>

#include <string>

#include "dll_search.h"
#include "system_function.h"

namespace {

// System DLLs that Windows 7 to 11 load on demand while a program like these runs, none of them
// a known DLL on every version (the loader takes known DLLs, such as imm32, msctf, rpcrt4 and
// clbcatq, only from the system folder anyway): found by watching every load of both programs on
// each of their paths, and from what Windows' own components load late. A name that a Windows
// version lacks is skipped.
constexpr const wchar_t* kLateLoaded[] = {
    // themes, window frames, drawing of the common controls and of text
    L"uxtheme",
    L"dwmapi",
    L"msimg32",
    L"version",
    L"usp10",
    L"dwrite",
    L"textshaping",
    // input and text services
    L"textinputframework",
    L"coremessaging",
    L"coreuicomponents",
    L"wintypes",
    L"kernel.appcore",
    // COM activation and its security: authentication, cryptography, user profiles
    L"sspicli",
    L"cryptbase",
    L"cryptsp",
    L"bcrypt",
    L"ntmarta",
    L"profapi",
    L"userenv",
    L"wldp",
    // sessions, power, the message box's sound, accessibility, diagnostics, property system,
    // compatibility
    L"wtsapi32",
    L"winsta",
    L"powrprof",
    L"umpdc",
    L"winmm",
    L"oleacc",
    L"dbghelp",
    L"propsys",
    L"apphelp",
};

// Whether DLL loads are restricted to the system folder (Windows 7 without KB2533623 lacks
// SetDefaultDllDirectories, so it is looked up by name).
bool restricted = false;

}  // namespace

void HardenDllSearch() {
    const auto setDefault =
        SystemFunction<BOOL(WINAPI*)(DWORD)>(L"kernel32.dll", "SetDefaultDllDirectories");
    restricted = setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Without it, at least take the current folder out of the search path.
    SetDllDirectoryW(L"");
    for (const wchar_t* name : kLateLoaded) LoadSystemDll(name);  // kept until the program ends
    // Version 6 of the common controls lives in the side-by-side store, not in the system
    // folder; the program's manifest names it, so a load by name finds it there.
    LoadLibraryExW(L"comctl32.dll", nullptr, 0);
}

HMODULE LoadSystemDll(const wchar_t* name) {
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    const std::wstring path = std::wstring(system, length) + L"\\" + name + L".dll";
    // Where the search is not restricted, a DLL loaded by full path still looks for its own
    // imports in the program's folder first, unless it is told to look in its own folder.
    return LoadLibraryExW(path.c_str(), nullptr, restricted ? 0 : LOAD_WITH_ALTERED_SEARCH_PATH);
}
