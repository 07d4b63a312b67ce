#include <windows.h>

#include "Form1.h"
#include "resource.h"
#include "window.h"

namespace {

constexpr wchar_t kClassName[] = L"QorvelRemover.Form1";
constexpr wchar_t kCaption[] = L"提示";

constexpr int kClientWidth = 3420;
constexpr int kClientHeight = 2160;
constexpr ui::TwipsRect kLabel1Rect = {240, 360, 2895, 855};
constexpr ui::TwipsRect kCommand1Rect = {1800, 1560, 855, 375};
constexpr int kLabel1Id = 100;
constexpr int kCommand1Id = 101;

constexpr wchar_t kLabelFace[] = L"宋体";
constexpr double kLabelPoints = 10.5;
constexpr COLORREF kLabelColour = RGB(0, 0, 255);

}  // namespace

bool Form1::Show(HINSTANCE instance, int showCommand, const std::wstring& caption) {
    if (!Create(instance, kClassName, kCaption, IDI_APPLICATION_ICON)) return false;
    // Created in tab order: the label, then the button.
    Label1 = CreateWindowExW(0, L"STATIC", caption.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT, 0, 0,
                             0, 0, window_, reinterpret_cast<HMENU>(kLabel1Id), instance, nullptr);
    Command1 = CreateWindowExW(0, L"BUTTON", L"确　定",
                               WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 0, 0,
                               window_, reinterpret_cast<HMENU>(kCommand1Id), instance, nullptr);
    const UINT dpi = ui::DpiOf(window_);
    Layout(dpi);
    ui::SizeClientArea(window_, kClientWidth, kClientHeight, dpi, false);
    ShowWindow(window_, showCommand);
    SetFocus(Command1);
    return true;
}

LRESULT Form1::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {  // Enter: the focused button is pressed
                ui::PressFocusedButton(window_);
            } else if (LOWORD(wParam) == kCommand1Id) {
                DestroyWindow(window_);
            }
            return 0;
        case WM_CTLCOLORSTATIC:
            if (reinterpret_cast<HWND>(lParam) == Label1) {
                const auto dc = reinterpret_cast<HDC>(wParam);
                SetTextColor(dc, kLabelColour);
                SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
                return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
            }
            break;
        case WM_ACTIVATE:
            ui::KeepFocusAcrossActivation(window_, wParam, lastFocus_);
            return 0;
        case WM_DPICHANGED:
            Layout(HIWORD(wParam));
            ui::FollowDpiChange(window_, *reinterpret_cast<const RECT*>(lParam), kClientWidth,
                                kClientHeight, HIWORD(wParam));
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

void Form1::Layout(UINT dpi) {
    labelFont_ = ui::CreateChineseFont(kLabelFace, kLabelPoints, dpi);
    buttonFont_ = ui::CreateDefaultFont(dpi);
    ui::PlaceControl(Label1, kLabel1Rect, dpi);
    ui::PlaceControl(Command1, kCommand1Rect, dpi);
    SendMessageW(Label1, WM_SETFONT, reinterpret_cast<WPARAM>(labelFont_.get()), FALSE);
    SendMessageW(Command1, WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont_.get()), FALSE);
    InvalidateRect(window_, nullptr, TRUE);
}
