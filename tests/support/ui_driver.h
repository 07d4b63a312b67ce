// Drives the real programs from the test: starts them, finds their windows, reads captions,
// texts, sizes and focus, and presses buttons and keys with posted messages.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>
#include <utility>

#include "files.h"
#include "scoped.h"

// The control that has the keyboard focus in `window`'s thread.
inline HWND FocusIn(HWND window) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}

// A program started by the test, with `arguments`, in the test's current folder or `folder`;
// ended by force if it is still running when this goes.
class Program {
public:
    explicit Program(const fs::path& exe, const std::wstring& arguments = L"",
                     const wchar_t* folder = nullptr) {
        std::wstring line = L"\"" + exe.wstring() + L"\" " + arguments;
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started = {};
        if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder,
                            &startup, &started)) {
            throw std::runtime_error("cannot start " + Utf8(exe.wstring()));
        }
        CloseHandle(started.hThread);
        process_.reset(started.hProcess);
    }
    ~Program() {
        if (TerminateProcess(process_.get(), 1)) WaitForSingleObject(process_.get(), 5000);
    }

    DWORD id() const { return GetProcessId(process_.get()); }
    // Waits for the program to end; gives its exit code, or STILL_ACTIVE after the time-out.
    DWORD WaitForExit(DWORD milliseconds = 10000) {
        WaitForSingleObject(process_.get(), milliseconds);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(process_.get(), &code);
        return code;
    }
    bool Running() const { return WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

private:
    UniqueHandle process_;
};

// A visible top-level window of any process (`processId` 0) or a given one, with this class (or
// any, when null) and caption (or any).
inline HWND FindTopWindow(DWORD processId, const wchar_t* className, const wchar_t* caption) {
    for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, className, caption));) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if ((!processId || owner == processId) && IsWindowVisible(window)) return window;
    }
    return nullptr;
}

// Waits for such a window of `program`; gives null after the time-out.
inline HWND WaitForWindow(const Program& program, const wchar_t* className, const wchar_t* caption,
                          DWORD milliseconds = 10000) {
    const DWORD start = GetTickCount();
    do {
        if (const HWND found = FindTopWindow(program.id(), className, caption)) return found;
        Sleep(1);
    } while (GetTickCount() - start < milliseconds && program.Running());
    return nullptr;
}

// Waits until `control` has the focus (any control, when null): the window is ready for keys.
inline bool WaitForFocus(HWND window, HWND control = nullptr, DWORD milliseconds = 5000) {
    for (const DWORD start = GetTickCount();
         control ? FocusIn(window) != control : !FocusIn(window); Sleep(10)) {
        if (GetTickCount() - start >= milliseconds) return false;
    }
    return true;
}

inline std::wstring TextOf(HWND window) {
    wchar_t text[1024];
    return std::wstring(text, GetWindowTextW(window, text, 1024));
}

inline std::pair<LONG, LONG> ClientSize(HWND window) {
    RECT client = {};
    GetClientRect(window, &client);
    return {client.right, client.bottom};
}

inline void Click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

// Posts a key press to the control that has the focus now, as the keyboard would send it. Keys
// that move the focus must be waited for (WaitForFocus) before the next key is pressed.
inline void PressKey(HWND window, UINT virtualKey) {
    const HWND target = FocusIn(window) ? FocusIn(window) : window;
    PostMessageW(target, WM_KEYDOWN, virtualKey, 1);
    PostMessageW(target, WM_KEYUP, virtualKey, 0xC0000001);
}
