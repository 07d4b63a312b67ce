// The two programs' windows, made in this process, as a person sees them at the screen's DPI (96
// in the main prefix, 144 in the alt one).
#include <windows.h>

#include <cstdlib>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "Form1.h"
#include "fLanguage.h"
#include "ui_driver.h"

namespace {

HWND ShowSetupWindow() {
    static fLanguage form;
    form.Show(GetModuleHandleW(nullptr), SW_HIDE);
    return form.handle();
}

HWND ShowRemoverNotice() {
    static Form1 notice;
    notice.Show(GetModuleHandleW(nullptr), SW_HIDE);
    notice.ShowOutcome(L"Morvane\r\n\r\n已从你的系统中移除!");
    return notice.handle();
}

// A control of this process as the screen shows it: the rows that hold text, and the colour of
// the text. Where the font is smoothed, its edges blend into the background, so that colour is the
// pixel farthest from the background.
std::pair<std::vector<int>, COLORREF> InkOf(HWND control) {
    const SIZE size = ClientSize(control);
    const UniqueWindowDc screen(nullptr);
    const UniqueMemoryDc dc(CreateCompatibleDC(screen.get()));
    const Unique<HBITMAP, ::DeleteObject> bitmap(
        CreateCompatibleBitmap(screen.get(), size.cx, size.cy));
    const SelectedObject selected(dc.get(), bitmap.get());
    SendMessageW(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc.get()),
                 PRF_CLIENT | PRF_ERASEBKGND);
    const COLORREF background = GetSysColor(COLOR_BTNFACE);
    std::pair<std::vector<int>, COLORREF> ink;
    for (int y = 0, farthest = 0; y < size.cy; ++y) {
        for (int x = 0; x < size.cx; ++x) {
            const COLORREF c = GetPixel(dc.get(), x, y);
            int distance = 0;
            for (int shift : {0, 8, 16})
                distance += abs(int(c >> shift & 255) - int(background >> shift & 255));
            if (distance && (ink.first.empty() || ink.first.back() != y)) ink.first.push_back(y);
            if (distance > farthest) std::tie(farthest, ink.second) = std::pair(distance, c);
        }
    }
    return ink;
}

struct DrawnRow {
    const char* name;
    HWND (*show)();
    int clientWidth, clientHeight;  // twips
    double points;                  // the label's 宋体
    COLORREF ink;                   // the label text's colour
    const wchar_t* text;            // what the label shows, with its line breaks as CR LF
    bool centred;                   // on the work area, or where Windows put it
};
using WindowAsDrawn = testing::TestWithParam<DrawnRow>;

// The client area is its twips at the screen's DPI, Setup's window centred on the work area; the
// label shows its lines of text in its colour, as far apart as lines of 宋体 of its size are.
TEST_P(WindowAsDrawn, AtTheScreensDpi) {
    const DrawnRow& row = GetParam();
    const HWND window = row.show(), label = GetDlgItem(window, 100);
    const int dpi = GetDeviceCaps(UniqueWindowDc(nullptr).get(), LOGPIXELSY);
    const SIZE client = ClientSize(window);
    EXPECT_EQ(std::pair(client.cx, client.cy),
              (std::pair<LONG, LONG>(MulDiv(row.clientWidth, dpi, 1440),
                                     MulDiv(row.clientHeight, dpi, 1440))));
    RECT frame, work;
    GetWindowRect(window, &frame);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    if (row.centred) {
        EXPECT_NEAR(frame.left + frame.right, work.left + work.right, 2);
        EXPECT_NEAR(frame.top + frame.bottom, work.top + work.bottom, 2);
    }
    // The same text drawn by a plain static control of the label's size, in 宋体 of its size.
    LOGFONTW songTi = {};
    songTi.lfHeight = -static_cast<LONG>(row.points * dpi / 72 + 0.5);
    songTi.lfCharSet = GB2312_CHARSET;
    lstrcpyW(songTi.lfFaceName, L"宋体");
    const UniqueHfont font(CreateFontIndirectW(&songTi));
    const SIZE size = ClientSize(label);
    const HWND reference = CreateWindowExW(0, L"STATIC", row.text, WS_POPUP, 0, 0, size.cx, size.cy,
                                           nullptr, nullptr, nullptr, nullptr);
    SendMessageW(reference, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
    EXPECT_EQ(InkOf(label), std::pair(InkOf(reference).first, row.ink));
    DestroyWindow(reference);
    DestroyWindow(window);
    MSG left;  // what the window's end left in this thread's queue: its WM_QUIT is not the test's
    while (PeekMessageW(&left, nullptr, 0, 0, PM_REMOVE)) {
    }
}

const DrawnRow kWindows[] = {
    // Its lone carriage returns break the line once each: two empty lines between lines of text.
    {"Setup", ShowSetupWindow, 5700, 3900, 10.8, GetSysColor(COLOR_BTNTEXT),
     L"安装程序将要安装“Morvane”\r\n\r\n\r\n到你的系统中，点击“确定”开始安装,\r\n\r\n\r\n"
     L"点击“取消”将放弃安装！　　　　　　　　　　　",
     true},
    {"remover", ShowRemoverNotice, 3420, 2160, 10.5, RGB(0, 0, 255),
     L"Morvane\r\n\r\n已从你的系统中移除!", false},
};
INSTANTIATE_TEST_SUITE_P(Windows, WindowAsDrawn, testing::ValuesIn(kWindows), kRowName);

}  // namespace
