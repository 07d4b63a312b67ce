// Fails loudly when the test bed itself is wrong, before other failures mislead.
#include <windows.h>

#include <gtest/gtest.h>

#include "host.h"

TEST(Environment, AnsiCodePageIs936AsOnTheUsersPcs) {
    EXPECT_EQ(GetACP(), 936u) << "run under LC_ALL=zh_CN.UTF-8 (Debian package locales-all)";
}

TEST(Environment, WindowsCanBeCreated) {
    const HWND window = CreateWindowExW(0, L"STATIC", L"probe", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                        nullptr, nullptr, nullptr, nullptr);
    EXPECT_NE(window, nullptr) << "no window: the prefix needs HKCU\\Software\\Wine\\Drivers "
                                  "Graphics=null, error "
                               << GetLastError();
    if (window) DestroyWindow(window);
}

TEST(Environment, StandInHostAnswersUnderTheHostsClassId) {
    ComPtr<IDispatch> application;
    ASSERT_EQ(host::Connect(application), S_OK)
        << "the stand-in host is not registered in this prefix";
    std::wstring version;
    EXPECT_EQ(host::ReadText(application.Get(), L"Version", version), S_OK);
    EXPECT_FALSE(version.empty());
}
