#include <windows.h>

#include "window.h"

namespace ui {
namespace {

// Functions of newer Windows versions, looked up at run time so that Windows 7 can start us.
template <typename Fn>
Fn User32Function(const char* name) {
    return reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

UINT ScreenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

}  // namespace

void DeclareDpiAwareness() {
    if (IsProcessDPIAware()) return;  // the manifest has done it
    using SetContextFn = BOOL(WINAPI*)(HANDLE);
    const auto setContext = User32Function<SetContextFn>("SetProcessDpiAwarenessContext");
    const HANDLE perMonitorV2 = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-4));
    if (setContext && setContext(perMonitorV2)) return;
    SetProcessDPIAware();
}

UINT DpiOf(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpiForWindow) {
        if (const UINT dpi = getDpiForWindow(window)) return dpi;
    }
    return ScreenDpi();
}

void SizeClientArea(HWND window, int width, int height, UINT dpi, bool center) {
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
    RECT frame = {0, 0, TwipsToPixels(width, dpi), TwipsToPixels(height, dpi)};
    using AdjustForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = User32Function<AdjustForDpiFn>("AdjustWindowRectExForDpi");
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
        GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor);
        const RECT& area = monitor.rcWork;
        x = area.left + (area.right - area.left - frameWidth) / 2;
        y = area.top + (area.bottom - area.top - frameHeight) / 2;
    } else {
        flags |= SWP_NOMOVE;
    }
    SetWindowPos(window, nullptr, x, y, frameWidth, frameHeight, flags);
}

void FollowDpiChange(HWND window, const RECT& suggested, int width, int height, UINT dpi) {
    SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    SizeClientArea(window, width, height, dpi, false);
}

void KeepFocusAcrossActivation(HWND window, WPARAM activation, HWND& lastFocus) {
    if (LOWORD(activation) == WA_INACTIVE) {
        lastFocus = GetFocus();
    } else if (lastFocus && IsChild(window, lastFocus)) {
        SetFocus(lastFocus);
    }
}

bool Window::Create(HINSTANCE instance, const wchar_t* className, const wchar_t* caption,
                    int iconId) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = Route;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(iconId));
    windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(iconId),
                                                        IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                        GetSystemMetrics(SM_CYSMICON), 0));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = className;
    if (!RegisterClassExW(&windowClass)) return false;
    constexpr DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    return CreateWindowExW(0, className, caption, style, CW_USEDEFAULT, CW_USEDEFAULT, 0, 0,
                           nullptr, nullptr, instance, this) != nullptr;
}

LRESULT CALLBACK Window::Route(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    return self->HandleMessage(message, wParam, lParam);
}

void PlaceControl(HWND control, const TwipsRect& rect, UINT dpi) {
    MoveWindow(control, TwipsToPixels(rect.left, dpi), TwipsToPixels(rect.top, dpi),
               TwipsToPixels(rect.width, dpi), TwipsToPixels(rect.height, dpi), FALSE);
}

UniqueHfont CreateChineseFont(const wchar_t* face, double points, UINT dpi) {
    LOGFONTW font = {};
    font.lfHeight = -static_cast<LONG>(points * dpi / 72.0 + 0.5);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = GB2312_CHARSET;
    font.lfQuality = DEFAULT_QUALITY;
    lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
    return UniqueHfont(CreateFontIndirectW(&font));
}

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
