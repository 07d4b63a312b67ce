// What the two programs' windows share: a window with its controls laid out in twips at the
// window's actual DPI, the label and button fonts, focus memory, and a message loop with dialog
// keys in which Enter presses the button that has the focus.
#pragma once

#include <windows.h>

#include <vector>

#include "scoped.h"

namespace ui {

// 1440 twips make an inch: 15 twips a pixel at 96 dpi, 10 at 144 dpi.
inline int TwipsToPixels(int twips, UINT dpi) { return MulDiv(twips, static_cast<int>(dpi), 1440); }

struct TwipsRect {
    int left, top, width, height;
};

// What a window of the programs is made of: its class, caption and icon, its client area in
// twips, and the font of its label. Its buttons use the system's message font.
struct Design {
    const wchar_t* className;
    const wchar_t* caption;
    int iconId;
    int clientWidth, clientHeight;  // twips
    const wchar_t* labelFace;
    double labelPoints;
};

// A top-level window with a fixed border whose messages go to an object. Fonts and layout follow
// the window's DPI, also when it moves to a monitor of another one, and the control that had the
// focus gets it back when the window is activated again.
class Window {
public:
    HWND handle() const { return window_; }

protected:
    explicit Window(const Design& design) : design_(design) {}
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    ~Window() = default;

    // Registers the class and creates the window, hidden; the subclass adds its controls.
    bool Create(HINSTANCE instance);
    // Adds a child control at `rect` (twips); controls are added in tab order. `isLabel` gives it
    // the label's font, otherwise the buttons' one.
    HWND AddControl(const wchar_t* className, const wchar_t* text, DWORD style, int id,
                    const TwipsRect& rect, bool isLabel);
    // Lays the window out at its DPI, centred on its monitor's work area or where Windows put it,
    // shows it and gives `focus` the focus.
    void Show(int showCommand, bool center, HWND focus);
    HFONT labelFont() const { return labelFont_.get(); }
    // While the host is asked, the window shows the wait cursor.
    void ShowWorking(bool working);
    bool working() const { return working_; }

    // The window's own messages; what it does not handle goes to DefWindowProc.
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

    HWND window_ = nullptr;

private:
    struct Placed {
        HWND control;
        TwipsRect rect;
        bool isLabel;
    };
    static LRESULT CALLBACK Route(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void LayOut(UINT dpi);
    void SizeClientArea(UINT dpi, bool center);

    const Design& design_;
    std::vector<Placed> controls_;
    UniqueHfont labelFont_;
    UniqueHfont buttonFont_;
    HWND lastFocus_ = nullptr;
    bool working_ = false;
};

// Enter sends WM_COMMAND IDOK to a window that has no default button: call this then, and the
// button that has the focus is pressed. Returns false when the focus is not on a push button.
bool PressFocusedButton(HWND window);

// Runs the thread's message loop with dialog keys for `window` until WM_QUIT; gives its code.
int RunMessageLoop(HWND window);

}  // namespace ui
