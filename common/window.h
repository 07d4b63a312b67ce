// What the two programs' windows share: layout in twips at the window's actual DPI, the label
// fonts, and a message loop with dialog keys in which Enter presses the button that has the focus.
#pragma once

#include <windows.h>

#include "scoped.h"

namespace ui {

// 1440 twips make an inch: 15 twips a pixel at 96 dpi, 10 at 144 dpi.
inline int TwipsToPixels(int twips, UINT dpi) { return MulDiv(twips, static_cast<int>(dpi), 1440); }

struct TwipsRect {
    int left, top, width, height;
};

// Declares DPI awareness (per monitor v2, else system) when the manifest has not done so.
void DeclareDpiAwareness();

// The DPI the window is shown at.
UINT DpiOf(HWND window);

// Sizes `window` so that its client area is `width` × `height` twips at `dpi`; with `center`, it
// also stands at the centre of its monitor's work area.
void SizeClientArea(HWND window, int width, int height, UINT dpi, bool center);

// After WM_DPICHANGED: moves `window` to where Windows suggests and sizes its client area to
// `width` × `height` twips at the new `dpi`.
void FollowDpiChange(HWND window, const RECT& suggested, int width, int height, UINT dpi);

// On WM_ACTIVATE: remembers the control that has the focus when `window` is left, and gives the
// focus back to it when `window` is activated again.
void KeepFocusAcrossActivation(HWND window, WPARAM activation, HWND& lastFocus);

// A top-level window whose messages go to an object: register `Route` as the window procedure
// and pass the object as CreateWindowEx's last argument.
class Window {
public:
    HWND handle() const { return window_; }

protected:
    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    ~Window() = default;

    // Registers the window class `className` with the program's icon (resource `iconId`) and
    // creates the window, captioned, with a fixed border, where Windows puts new windows; it is
    // sized and shown by the caller.
    bool Create(HINSTANCE instance, const wchar_t* className, const wchar_t* caption, int iconId);

    static LRESULT CALLBACK Route(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

    HWND window_ = nullptr;
};

// Places a child control at `rect` (twips, relative to the parent's client area).
void PlaceControl(HWND control, const TwipsRect& rect, UINT dpi);

// A font of `points` at `dpi`, normal weight, GB2312 character set.
UniqueHfont CreateChineseFont(const wchar_t* face, double points, UINT dpi);

// The system's message font at `dpi`: the windows' default font for their buttons.
UniqueHfont CreateDefaultFont(UINT dpi);

// Enter sends WM_COMMAND IDOK to a window that has no default button: call this then, and the
// button that has the focus is pressed. Returns false when the focus is not on a push button.
bool PressFocusedButton(HWND window);

// Runs the thread's message loop with dialog keys for `window` until WM_QUIT; gives its code.
int RunMessageLoop(HWND window);

}  // namespace ui
