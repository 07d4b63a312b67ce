#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

// The programs run COM apartment-threaded on their one thread; so do the tests.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = RUN_ALL_TESTS();
    if (SUCCEEDED(com)) CoUninitialize();
    return result;
}
