#include <windows.h>
#include <objbase.h>

#include <cstdio>

#include <gtest/gtest.h>

// The programs run COM apartment-threaded on their window thread; so do the tests. Every test
// takes the users' ANSI code page for granted: without it the run stops here, with what to mend,
// before a hundred failures mislead. A run in which no test ran (a filter that a renamed row
// escapes, or rows that all skip) fails: a suite must not go quietly empty.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (GetACP() != 936) {
        fputs("The ANSI code page is not 936: run under LC_ALL=zh_CN.UTF-8.\n", stderr);
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int failed = RUN_ALL_TESTS();
    const testing::UnitTest& run = *testing::UnitTest::GetInstance();
    if (run.test_to_run_count() == run.skipped_test_count()) {
        fputs("No test ran here: the filter or the test prefix leaves none.\n", stderr);
        return 3;
    }
    return failed;
}
