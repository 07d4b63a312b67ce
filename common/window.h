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
