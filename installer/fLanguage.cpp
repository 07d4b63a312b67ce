#include <windows.h>

#include "fLanguage.h"
#include "logbook.h"
#include "resource.h"
#include "window.h"

namespace {

constexpr wchar_t kCaption[] = L"安装";
// Client area 5700 × 3900 twips; the label in 宋体 10.8 pt.
constexpr ui::Design kDesign = {
    L"QorvelSetup.fLanguage", kCaption, IDI_APPLICATION_ICON, 5700, 3900, L"宋体", 10.8};
constexpr ui::TwipsRect kLabel1Rect = {240, 480, 5055, 1815};
constexpr ui::TwipsRect kCmdOKRect = {4200, 3000, 980, 460};
constexpr ui::TwipsRect kCmdCancelRect = {2880, 3000, 980, 460};
constexpr int kLabel1Id = 100;
constexpr int kCmdOKId = 101;
constexpr int kCmdCancelId = 102;

constexpr wchar_t kTitle[] = L"Setup";
constexpr wchar_t kLogFailed[] = L"\n\n（日志文件无法写入。）";

}  // namespace

std::wstring WithLineFeeds(const std::wstring& text) {
    std::wstring drawn;
    drawn.reserve(text.size() + 8);
    for (const wchar_t c : text) {
        drawn += c;
        if (c == L'\r') drawn += L'\n';
    }
    return drawn;
}

fLanguage::fLanguage(host::Excel& excel, const install::Options& options)
    : Window(kDesign), excel_(excel), options_(options) {}

bool fLanguage::Show(HINSTANCE instance, int showCommand) {
    if (!Create(instance)) return false;
    // Added in tab order: the label first, then OK, then Cancel.
    Label1 = AddControl(L"STATIC", kCaption, SS_OWNERDRAW, kLabel1Id, kLabel1Rect, true);
    cmdOK =
        AddControl(L"BUTTON", L"确　定", WS_TABSTOP | BS_PUSHBUTTON, kCmdOKId, kCmdOKRect, false);
    cmdCancel = AddControl(L"BUTTON", L"取　消", WS_TABSTOP | BS_PUSHBUTTON, kCmdCancelId,
                           kCmdCancelRect, false);
    Load();
    Window::Show(showCommand, true, cmdOK);
    return true;
}

bool fLanguage::BringRunningToFront() {
    for (int tries = 0; tries < 20; ++tries) {
        if (const HWND running = FindWindowW(kDesign.className, nullptr)) {
            if (IsIconic(running)) ShowWindow(running, SW_RESTORE);
            SetForegroundWindow(GetLastActivePopup(running));
            return true;
        }
        Sleep(100);
    }
    return false;
}

LRESULT fLanguage::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            OnCommand(LOWORD(wParam));
            return 0;
        case WM_DRAWITEM:
            DrawLabel(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        case WM_CLOSE:
            // While the host is asked, the close command stops the wait: nothing has changed yet,
            // and the installation ends as cancelled.
            if (working()) host::RequestStop();
            cmdCancel_Click();
            return 0;
        case WM_DESTROY:
            PostQuitMessage(exitCode_);
            return 0;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

void fLanguage::Load() {
    const std::wstring caption = std::wstring(L"安装程序将要安装“Morvane”") + L"\r\r\r" +
                                 L"到你的系统中，点击“确定”开始安装," + L"\r\r\r" +
                                 L"点击“取消”将放弃安装！" + std::wstring(11, L'\u3000');
    SetWindowTextW(Label1, caption.c_str());
}

void fLanguage::DrawLabel(const DRAWITEMSTRUCT& item) const {
    if (item.hwndItem != Label1) return;
    const int length = GetWindowTextLengthW(Label1);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(Label1, text.data(), length + 1)));
    text = WithLineFeeds(text);

    RECT area = item.rcItem;
    FillRect(item.hDC, &area, GetSysColorBrush(COLOR_BTNFACE));
    const SelectedObject font(item.hDC, labelFont());
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, GetSysColor(COLOR_BTNTEXT));
    DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &area,
              DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
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

// The install procedure runs on this thread, which hands its messages to this window while the
// host is asked: its buttons are disabled meanwhile, so that an impatient second click cannot
// start a second installation.
void fLanguage::cmdOK_Click() {
    if (installing_) return;
    installing_ = true;
    EnableWindow(cmdOK, FALSE);
    EnableWindow(cmdCancel, FALSE);
    ShowWorking(true);
    // The program's exit code tells a script how the installation ended: 0 when complete, the
    // error number of the report, or cancelled when the user stopped the wait for the host.
    Finish(install::Run(install::InstallSet::OfThisProgram(), excel_, options_));
}

// Tells the user how the installation ended (and that the log asked for could not be written),
// and ends the window.
void fLanguage::Finish(const install::Outcome& outcome) {
    const install::Failure& failure = outcome.failure;
    ShowWorking(false);
    exitCode_ = install::ExitCodeOf(failure);
    if (const std::wstring text = install::FinalMessage(outcome); !text.empty()) {
        MessageBoxW(window_, (text + (logbook::Failed() ? kLogFailed : L"")).c_str(), kTitle,
                    MB_OK | (failure ? MB_ICONERROR : MB_ICONINFORMATION));
    }
    DestroyWindow(window_);
}

void fLanguage::cmdCancel_Click() {
    if (installing_) return;
    DestroyWindow(window_);
}
