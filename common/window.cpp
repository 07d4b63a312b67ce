#include <windows.h>

#include "system_function.h"
#include "window.h"

namespace ui {
namespace {

UINT ScreenDpi() {
    const UniqueWindowDc screen(nullptr);
    const int dpi = GetDeviceCaps(screen.get(), LOGPIXELSY);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// The DPI the window is shown at.
UINT DpiOf(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow =
        SystemFunction<GetDpiForWindowFn>(L"user32.dll", "GetDpiForWindow");
    if (getDpiForWindow) {
        if (const UINT dpi = getDpiForWindow(window)) return dpi;
    }
    return ScreenDpi();
}

// A font of `points` at `dpi`, normal weight, GB2312 character set.
UniqueHfont CreateChineseFont(const wchar_t* face, double points, UINT dpi) {
    LOGFONTW font = {};
    font.lfHeight = -static_cast<LONG>(points * dpi / 72.0 + 0.5);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = GB2312_CHARSET;
    font.lfQuality = DEFAULT_QUALITY;
    lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
    return UniqueHfont(CreateFontIndirectW(&font));
}

// The system's message font at `dpi`: the windows' default font for their buttons.
UniqueHfont CreateDefaultFont(UINT dpi) {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        return UniqueHfont(static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)));
    }
    // The system answers at the system DPI; the window may be on a monitor of another.
    LOGFONTW& font = metrics.lfMessageFont;
    font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(ScreenDpi()));
    return UniqueHfont(CreateFontIndirectW(&font));
}

}  // namespace

bool Window::Create(HINSTANCE instance) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = Route;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(design_.iconId));
    windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(design_.iconId),
                                                        IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                        GetSystemMetrics(SM_CYSMICON), 0));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = design_.className;
    if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return false;
    constexpr DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    return CreateWindowExW(0, design_.className, design_.caption, style, CW_USEDEFAULT,
                           CW_USEDEFAULT, 0, 0, nullptr, nullptr, instance, this) != nullptr;
}

HWND Window::AddControl(const wchar_t* className, const wchar_t* text, DWORD style, int id,
                        const TwipsRect& rect, bool isLabel) {
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE));
    const HWND control =
        CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, window_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    controls_.push_back({control, rect, isLabel});
    return control;
}

void Window::Show(int showCommand, bool center, HWND focus) {
    const UINT dpi = DpiOf(window_);
    LayOut(dpi);
    SizeClientArea(dpi, center);
    ShowWindow(window_, showCommand);
    SetFocus(focus);
}

void Window::LayOut(UINT dpi) {
    labelFont_ = CreateChineseFont(design_.labelFace, design_.labelPoints, dpi);
    buttonFont_ = CreateDefaultFont(dpi);
    for (const Placed& placed : controls_) {
        const TwipsRect& r = placed.rect;
        MoveWindow(placed.control, TwipsToPixels(r.left, dpi), TwipsToPixels(r.top, dpi),
                   TwipsToPixels(r.width, dpi), TwipsToPixels(r.height, dpi), FALSE);
        const HFONT font = placed.isLabel ? labelFont_.get() : buttonFont_.get();
        SendMessageW(placed.control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    InvalidateRect(window_, nullptr, TRUE);
}

void Window::SizeClientArea(UINT dpi, bool center) {
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_EXSTYLE));
    RECT frame = {0, 0, TwipsToPixels(design_.clientWidth, dpi),
                  TwipsToPixels(design_.clientHeight, dpi)};
    using AdjustForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi =
        SystemFunction<AdjustForDpiFn>(L"user32.dll", "AdjustWindowRectExForDpi");
    if (!adjustForDpi || !adjustForDpi(&frame, style, FALSE, exStyle, dpi)) {
        AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    }
    const int frameWidth = frame.right - frame.left;
    const int frameHeight = frame.bottom - frame.top;
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    int x = 0, y = 0;
    if (center) {
        MONITORINFO monitor = {};
        monitor.cbSize = sizeof monitor;
        GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor);
        const RECT& area = monitor.rcWork;
        x = area.left + (area.right - area.left - frameWidth) / 2;
        y = area.top + (area.bottom - area.top - frameHeight) / 2;
    } else {
        flags |= SWP_NOMOVE;
    }
    SetWindowPos(window_, nullptr, x, y, frameWidth, frameHeight, flags);
}

void Window::ShowWorking(bool working) {
    working_ = working;
    SetCursor(LoadCursorW(nullptr, working ? IDC_WAIT : IDC_ARROW));
}

LRESULT CALLBACK Window::Route(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
        case WM_ACTIVATE:
            // Remembers the control that has the focus when the window is left, and gives the
            // focus back to it when the window is activated again.
            if (LOWORD(wParam) == WA_INACTIVE) {
                self->lastFocus_ = GetFocus();
            } else if (self->lastFocus_ && IsChild(window, self->lastFocus_)) {
                SetFocus(self->lastFocus_);
            }
            return 0;
        case WM_DPICHANGED: {
            // Moved to a monitor of another DPI: to where Windows suggests, at the new size.
            const UINT dpi = HIWORD(wParam);
            const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(window, nullptr, suggested.left, suggested.top,
                         suggested.right - suggested.left, suggested.bottom - suggested.top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            self->LayOut(dpi);
            self->SizeClientArea(dpi, false);
            return 0;
        }
        case WM_SETCURSOR:
            if (self->working_) {
                SetCursor(LoadCursorW(nullptr, IDC_WAIT));
                return TRUE;
            }
            break;
    }
    return self->HandleMessage(message, wParam, lParam);
}

bool PressFocusedButton(HWND window) {
    const HWND focus = GetFocus();
    if (!focus || GetParent(focus) != window) return false;
    if (!(SendMessageW(focus, WM_GETDLGCODE, 0, 0) & (DLGC_UNDEFPUSHBUTTON | DLGC_DEFPUSHBUTTON))) {
        return false;
    }
    SendMessageW(focus, BM_CLICK, 0, 0);
    return true;
}

int RunMessageLoop(HWND window) {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (IsWindow(window) && IsDialogMessageW(window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

}  // namespace ui
