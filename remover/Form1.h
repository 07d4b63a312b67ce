// The removal notice: says what the removal did; dismissing it ends the program.
#pragma once

#include <windows.h>

#include <string>

#include "scoped.h"
#include "window.h"

class Form1 final : public ui::Window {
public:
    Form1();

    // Creates the window with `caption` as the label's text and shows it, modeless and without
    // owner, where Windows puts new windows.
    bool Show(HINSTANCE instance, int showCommand, const std::wstring& caption);

private:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    HWND Label1 = nullptr;
    HWND Command1 = nullptr;
};
