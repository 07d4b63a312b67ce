#include <windows.h>
#include <objbase.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "files.h"
#include "host.h"

// What every test takes for granted. When the test bed is wrong, the run stops here with what to
// mend, before a hundred failures mislead.
static const char* TestBedFault() {
    if (GetACP() != 936) {
        return "the ANSI code page is not 936: run under LC_ALL=zh_CN.UTF-8 (package locales-all)";
    }
    if (const HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 9, 9, nullptr,
                                           nullptr, nullptr, nullptr)) {
        DestroyWindow(probe);
    } else {
        return "no window can be made: the prefix needs HKCU\\Software\\Wine\\Drivers "
               "Graphics=null";
    }
    UniqueHkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, HostClassKey().c_str(), 0, KEY_READ, key.put())) {
        return "the stand-in host is not registered under the host's class id in this prefix";
    }
    return nullptr;
}

// The programs run COM apartment-threaded on their one thread, with the host access's message
// filter; so do the tests.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (const char* fault = TestBedFault()) {
        fprintf(stderr, "The test bed is not ready: %s.\n", fault);
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    host::RegisterMessageFilter();
    return RUN_ALL_TESTS();
}
