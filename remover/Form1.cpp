#include <windows.h>

#include "Form1.h"
#include "host.h"
#include "resource.h"
#include "window.h"

namespace {

// Client area 3420 × 2160 twips; the label in 宋体 10.5 pt.
constexpr ui::Design kDesign = {
    L"QorvelRemover.Form1", L"提示", IDI_APPLICATION_ICON, 3420, 2160, L"宋体", 10.5};
constexpr ui::TwipsRect kLabel1Rect = {240, 360, 2895, 855};
constexpr ui::TwipsRect kCommand1Rect = {1800, 1560, 855, 375};
constexpr int kLabel1Id = 100;
constexpr int kCommand1Id = 101;

constexpr COLORREF kLabelColour = RGB(0, 0, 255);

}  // namespace

Form1::Form1() : Window(kDesign) {}

bool Form1::Show(HINSTANCE instance, int showCommand) {
    if (!Create(instance)) return false;
    // Added in tab order: the label, then the button.
    Label1 = AddControl(L"STATIC", L"", SS_LEFT, kLabel1Id, kLabel1Rect, true);
    Command1 = AddControl(L"BUTTON", L"确　定", WS_TABSTOP | BS_PUSHBUTTON | WS_DISABLED,
                          kCommand1Id, kCommand1Rect, false);
    ShowWorking(true);
    Window::Show(showCommand, false, nullptr);  // nothing to press yet
    UpdateWindow(window_);
    return true;
}

void Form1::ShowOutcome(const std::wstring& caption) {
    ShowWorking(false);
    if (closeRequested_) {
        DestroyWindow(window_);
        return;
    }
    SetWindowTextW(Label1, caption.c_str());
    EnableWindow(Command1, TRUE);
    SetFocus(Command1);
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
        case WM_CLOSE:
            // While the host is asked, the close command stops the wait; the window ends then.
            if (working()) {
                closeRequested_ = true;
                host::RequestStop();
                return 0;
            }
            break;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}
