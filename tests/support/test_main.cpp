#include <windows.h>
#include <objbase.h>

#include <cstdio>

#include <gtest/gtest.h>

// The programs run COM apartment-threaded on their window thread; so do the tests. Every test
// takes the users' ANSI code page for granted: without it the run stops here, with what to mend,
// before a hundred failures mislead.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (GetACP() != 936) {
        fputs("The ANSI code page is not 936: run under LC_ALL=zh_CN.UTF-8.\n", stderr);
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    return RUN_ALL_TESTS();
}
