// The removal notice: says what the removal did; dismissing it ends the program.
#pragma once

#include <windows.h>

#include <string>

#include "scoped.h"

class Form1 {
public:
    Form1() = default;
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    // Creates the window with `caption` as the label's text and shows it, modeless and without
    // owner, where Windows puts new windows.
    bool Show(HINSTANCE instance, int showCommand, const std::wstring& caption);
    HWND handle() const { return window_; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Layout(UINT dpi);

    HWND window_ = nullptr;
    HWND Label1 = nullptr;
    HWND Command1 = nullptr;
    HWND lastFocus_ = nullptr;
    UniqueHfont labelFont_;
    UniqueHfont buttonFont_;
};
