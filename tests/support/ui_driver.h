// Drives the real programs from the test: starts them, finds their windows, reads captions,
// texts, positions and focus, and presses buttons and keys with posted messages.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "scoped.h"

// The build's programs folder as a Windows path (Z:\...\build\bin), or the folder that
// QORVEL_TEST_BIN_DIR names (a Unix path), as for the programs of a signed release.
std::wstring BinFolder();

// A program started by the test; ended by force if it is still running when this goes.
class Program {
public:
    explicit Program(const std::wstring& exe);
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    ~Program();

    DWORD id() const { return id_; }
    // Waits for the program to end; gives its exit code, or STILL_ACTIVE after the time-out.
    DWORD WaitForExit(DWORD milliseconds = 10000);
    bool Running() const;

private:
    UniqueHandle process_;
    DWORD id_ = 0;
};

// Waits for a visible top-level window of `program` with this class (or any, when null) and
// caption; gives null after the time-out.
HWND WaitForWindow(const Program& program, const wchar_t* className, const wchar_t* caption,
                   DWORD milliseconds = 10000);
// The same, and then waits until a control in it has the focus: the window is ready for keys.
HWND WaitForWindowWithFocus(const Program& program, const wchar_t* caption,
                            DWORD milliseconds = 10000);
// The same for any process (`processId` 0) or a given one, without waiting.
HWND FindTopWindow(DWORD processId, const wchar_t* className, const wchar_t* caption);

std::wstring TextOf(HWND window);
SIZE ClientSize(HWND window);
// The control that has the keyboard focus in `window`'s thread.
HWND FocusIn(HWND window);
// Waits until `control` has the focus; gives whether it got it.
bool WaitForFocus(HWND window, HWND control, DWORD milliseconds = 5000);

void Click(HWND button);
// Posts a key press to the control that has the focus now, as the keyboard would send it. Keys
// that move the focus must be waited for (WaitForFocus) before the next key is pressed.
void PressKey(HWND window, UINT virtualKey);
