// A function of a system DLL looked up at run time: one that Windows 7 lacks, or Wine.
#pragma once

#include <windows.h>

// The function `name` of the loaded system DLL `dll`, as a pointer of type Fn; null where that
// version of Windows has none.
template <typename Fn>
Fn SystemFunction(const wchar_t* dll, const char* name) {
    return reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(dll), name)));
}
