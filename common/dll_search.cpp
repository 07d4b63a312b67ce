#include <windows.h>

#include "dll_search.h"

void RestrictDllSearchToSystem32() {
    // Windows 7 without KB2533623 lacks SetDefaultDllDirectories, so it is looked up by name.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel32, "SetDefaultDllDirectories")));
    if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Without it, at least take the current folder out of the search path.
    SetDllDirectoryW(L"");
}
