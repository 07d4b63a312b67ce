#pragma once

#include <windows.h>

// Keeps every DLL load to the Windows system folder, so that no DLL is ever picked up from the
// folder the program was started from (a download folder or a USB stick may hold anything, and
// Setup runs as administrator). Restricts the search where Windows allows it, then loads from the
// system folder by full path the system DLLs that Windows' own components load later (themes,
// common controls, COM, input, security), so that each later load finds them already loaded.
// Call first thing in the program, before any window, COM call or message box.
void HardenDllSearch();

// Loads the system DLL `name` (without its extension) from the system folder by full path, its
// own imports from there too; null where it cannot. For a DLL that a program uses only on one of
// its paths, after HardenDllSearch.
HMODULE LoadSystemDll(const wchar_t* name);
