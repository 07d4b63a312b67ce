#include <windows.h>

#include "fLanguage.h"
#include "profile.h"
#include "resource.h"
#include "window.h"

namespace {

constexpr wchar_t kClassName[] = L"QorvelSetup.fLanguage";
constexpr wchar_t kCaption[] = L"安装";

constexpr int kClientWidth = 5700;
constexpr int kClientHeight = 3900;
constexpr ui::TwipsRect kLabel1Rect = {240, 480, 5055, 1815};
constexpr ui::TwipsRect kCmdOKRect = {4200, 3000, 980, 460};
constexpr ui::TwipsRect kCmdCancelRect = {2880, 3000, 980, 460};
constexpr int kLabel1Id = 100;
constexpr int kCmdOKId = 101;
constexpr int kCmdCancelId = 102;

constexpr wchar_t kLabelFace[] = L"宋体";
constexpr double kLabelPoints = 10.8;

// Line breaks of the announcement are carriage returns alone; drawing turns each into CR LF,
// which every version of DrawText breaks at exactly once.
std::wstring WithLineFeeds(const std::wstring& text) {
    std::wstring drawn;
    drawn.reserve(text.size() + 8);
    for (const wchar_t c : text) {
        drawn += c;
        if (c == L'\r') drawn += L'\n';
    }
    return drawn;
}

}  // namespace

bool fLanguage::Show(HINSTANCE instance, int showCommand) {
    if (!Create(instance, kClassName, kCaption, IDI_APPLICATION_ICON)) return false;
    Load();
    const UINT dpi = ui::DpiOf(window_);
    Layout(dpi);
    ui::SizeClientArea(window_, kClientWidth, kClientHeight, dpi, true);
    ShowWindow(window_, showCommand);
    SetFocus(cmdOK);
    return true;
}

std::wstring fLanguage::MyKeyValue(const std::wstring& keyName) const {
    return profile::MyKeyValue(install::InstallSetPath(), keyName);
}

LRESULT fLanguage::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            CreateControls();
            return 0;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam));
            return 0;
        case WM_DRAWITEM:
            DrawLabel(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        case WM_ACTIVATE:
            ui::KeepFocusAcrossActivation(window_, wParam, lastFocus_);
            return 0;
        case WM_DPICHANGED:
            Layout(HIWORD(wParam));
            ui::FollowDpiChange(window_, *reinterpret_cast<const RECT*>(lParam), kClientWidth,
                                kClientHeight, HIWORD(wParam));
            return 0;
        case WM_CLOSE:
            cmdCancel_Click();
            return 0;
        case WM_DESTROY:
            PostQuitMessage(exitCode_);
            return 0;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

void fLanguage::CreateControls() {
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE));
    auto create = [&](const wchar_t* cls, const wchar_t* text, DWORD style, int id) {
        return CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, window_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance,
                               nullptr);
    };
    // Created in tab order: the label first, then OK, then Cancel.
    Label1 = create(L"STATIC", kCaption, SS_OWNERDRAW, kLabel1Id);
    cmdOK = create(L"BUTTON", L"确　定", WS_TABSTOP | BS_PUSHBUTTON, kCmdOKId);
    cmdCancel = create(L"BUTTON", L"取　消", WS_TABSTOP | BS_PUSHBUTTON, kCmdCancelId);
}

void fLanguage::Load() {
    const std::wstring caption = std::wstring(L"安装程序将要安装“Morvane”") + L"\r\r\r" +
                                 L"到你的系统中，点击“确定”开始安装," + L"\r\r\r" +
                                 L"点击“取消”将放弃安装！" + std::wstring(11, L'\u3000');
    SetWindowTextW(Label1, caption.c_str());
}

void fLanguage::Layout(UINT dpi) {
    labelFont_ = ui::CreateChineseFont(kLabelFace, kLabelPoints, dpi);
    buttonFont_ = ui::CreateDefaultFont(dpi);
    ui::PlaceControl(Label1, kLabel1Rect, dpi);
    ui::PlaceControl(cmdOK, kCmdOKRect, dpi);
    ui::PlaceControl(cmdCancel, kCmdCancelRect, dpi);
    SendMessageW(Label1, WM_SETFONT, reinterpret_cast<WPARAM>(labelFont_.get()), FALSE);
    SendMessageW(cmdOK, WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont_.get()), FALSE);
    SendMessageW(cmdCancel, WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont_.get()), FALSE);
    InvalidateRect(window_, nullptr, TRUE);
}

void fLanguage::DrawLabel(const DRAWITEMSTRUCT& item) const {
    if (item.hwndItem != Label1) return;
    const int length = GetWindowTextLengthW(Label1);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(Label1, text.data(), length + 1)));
    text = WithLineFeeds(text);

    RECT area = item.rcItem;
    FillRect(item.hDC, &area, GetSysColorBrush(COLOR_BTNFACE));
    const HGDIOBJ previousFont = SelectObject(item.hDC, labelFont_.get());
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, GetSysColor(COLOR_BTNTEXT));
    DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &area,
              DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(item.hDC, previousFont);
}

void fLanguage::OnCommand(int id) {
    switch (id) {
        case IDOK:  // Enter: neither button is the default, so the focused one is pressed
            ui::PressFocusedButton(window_);
            break;
        case IDCANCEL:  // Esc: there is no cancel button
            break;
        case kCmdOKId:
            cmdOK_Click();
            break;
        case kCmdCancelId:
            cmdCancel_Click();
            break;
    }
}

void fLanguage::cmdOK_Click() {
    if (installing_) return;
    installing_ = true;
    exitCode_ = install::Run(install::InstallSetPath(), host_, *this);
    DestroyWindow(window_);
}

void fLanguage::cmdCancel_Click() {
    if (installing_) return;
    DestroyWindow(window_);
}

void fLanguage::ShowCompletion() {
    MessageBoxW(window_, install::kCompletionText, install::kTitle, MB_OK | MB_ICONINFORMATION);
}

void fLanguage::ShowError(const install::Error& error) {
    MessageBoxW(window_, install::ErrorReportText(error).c_str(), install::kTitle,
                MB_OK | MB_ICONERROR);
}
