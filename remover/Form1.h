// The removal notice: shown at once, in a working state while the removal runs; then it says what
// the removal did, and dismissing it ends the program.
#pragma once

#include <windows.h>

#include <string>

#include "scoped.h"
#include "window.h"

class Form1 final : public ui::Window {
public:
    Form1();

    // Creates the window and shows it, modeless and without owner, where Windows puts new
    // windows: working (the wait cursor, the button disabled, no text yet).
    bool Show(HINSTANCE instance, int showCommand);
    // Shows `caption` as the label's text and makes the button ready, with the focus; or, when
    // the user closed the window meanwhile, ends it.
    void ShowOutcome(const std::wstring& caption);

private:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    HWND Label1 = nullptr;
    HWND Command1 = nullptr;
    bool closeRequested_ = false;
};
