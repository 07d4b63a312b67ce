#include <windows.h>

#include <cstdint>

// The stack protector's guard value and its failure handler, in place of libssp's. libssp draws
// its guard from CryptGenRandom before the program's own code runs: that import of advapi32 is
// forwarded to cryptsp.dll, which would then be looked for in the program's folder before the
// DLL search is restricted. The guard is drawn here from the clock, the counters and the ids, as
// Windows' own compilers draw theirs; nothing is loaded for it.
extern "C" {

uintptr_t __stack_chk_guard = 0xBB40E64E;

[[noreturn]] void __stack_chk_fail() {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_STACK_BUFFER_OVERRUN));
    __builtin_unreachable();
}

}  // extern "C"

namespace {

// Runs before every other constructor, and before any protected function of the program.
__attribute__((constructor(101), no_stack_protector)) void DrawStackGuard() {
    FILETIME time;
    GetSystemTimeAsFileTime(&time);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    uintptr_t guard = time.dwLowDateTime ^ time.dwHighDateTime ^ GetCurrentProcessId() ^
                      (GetCurrentThreadId() << 16) ^ static_cast<uintptr_t>(GetTickCount64()) ^
                      counter.LowPart ^ counter.HighPart ^ reinterpret_cast<uintptr_t>(&guard);
    if (guard == 0) guard = 0xBB40E64E;
    __stack_chk_guard = guard;
}

}  // namespace
