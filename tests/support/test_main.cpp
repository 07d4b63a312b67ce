#include <windows.h>
#include <objbase.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "host.h"

namespace {

// What every test takes for granted. When the test bed is wrong, the run stops here with what
// to mend, before a hundred failures mislead.
const char* TestBedFault() {
    if (GetACP() != 936)
        return "the ANSI code page is not 936: run under LC_ALL=zh_CN.UTF-8 "
               "(Debian package locales-all)";
    const HWND probe = CreateWindowExW(0, L"STATIC", L"probe", WS_POPUP, 0, 0, 10, 10, nullptr,
                                       nullptr, nullptr, nullptr);
    if (!probe)
        return "no window can be created: the prefix needs HKCU\\Software\\Wine\\Drivers "
               "Graphics=null";
    DestroyWindow(probe);
    wchar_t clsid[64];
    StringFromGUID2(host::kGlobalClsid, clsid, 64);
    UniqueHkey key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + clsid).c_str(), 0, KEY_READ,
                      key.put()) != ERROR_SUCCESS) {
        return "the stand-in host is not registered under the host's class id in this prefix";
    }
    return nullptr;
}

}  // namespace

// The programs run COM apartment-threaded on their one thread, with the host access's message
// filter; so do the tests.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (const char* fault = TestBedFault()) {
        fprintf(stderr, "The test bed is not ready: %s.\n", fault);
        return 2;
    }
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    host::RegisterMessageFilter();  // as the programs do
    const int result = RUN_ALL_TESTS();
    if (SUCCEEDED(com)) CoUninitialize();
    return result;
}
