#include <windows.h>

#include <algorithm>

#include "ui_driver.h"

#include <stdexcept>

#include "files.h"

// The build's programs folder, or the one QORVEL_TEST_BIN_DIR names: a Unix path, on drive Z:.
std::wstring BinFolder() {
    wchar_t named[MAX_PATH];
    const bool isNamed = GetEnvironmentVariableW(L"QORVEL_TEST_BIN_DIR", named, MAX_PATH) != 0;
    std::wstring folder = L"Z:" + (isNamed ? named : fs::u8path(QORVEL_BIN_DIR).wstring());
    std::replace(folder.begin(), folder.end(), L'/', L'\\');
    return folder;
}

Program::Program(const std::wstring& exe) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::wstring commandLine = L"\"" + exe + L"\"";
    const std::wstring folder = exe.substr(0, exe.find_last_of(L'\\') + 1);
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &info)) {
        throw std::runtime_error("cannot start " + Utf8(exe));
    }
    UniqueHandle thread(info.hThread);
    process_.reset(info.hProcess);
    id_ = info.dwProcessId;
}

Program::~Program() {
    if (Running()) {
        TerminateProcess(process_.get(), 1);
        WaitForSingleObject(process_.get(), 5000);
    }
}

DWORD Program::WaitForExit(DWORD milliseconds) {
    WaitForSingleObject(process_.get(), milliseconds);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.get(), &code);
    return code;
}

bool Program::Running() const { return WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

HWND FindTopWindow(DWORD processId, const wchar_t* className, const wchar_t* caption) {
    for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, className, caption));) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if ((!processId || owner == processId) && IsWindowVisible(window)) return window;
    }
    return nullptr;
}

HWND WaitForWindow(const Program& program, const wchar_t* className, const wchar_t* caption,
                   DWORD milliseconds) {
    const DWORD start = GetTickCount();
    do {
        if (const HWND found = FindTopWindow(program.id(), className, caption)) return found;
        Sleep(1);
    } while (GetTickCount() - start < milliseconds && program.Running());
    return nullptr;
}

HWND WaitForWindowWithFocus(const Program& program, const wchar_t* caption, DWORD milliseconds) {
    const HWND window = WaitForWindow(program, nullptr, caption, milliseconds);
    for (DWORD waited = 0; window && !FocusIn(window) && waited < milliseconds; waited += 10) {
        Sleep(10);
    }
    return window;
}

std::wstring TextOf(HWND window) {
    wchar_t text[1024] = {};
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 5000,
                        &length);
    return std::wstring(text, length);
}

SIZE ClientSize(HWND window) {
    RECT client = {};
    GetClientRect(window, &client);
    return {client.right, client.bottom};
}

HWND FocusIn(HWND window) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}

bool WaitForFocus(HWND window, HWND control, DWORD milliseconds) {
    const DWORD start = GetTickCount();
    while (FocusIn(window) != control) {
        if (GetTickCount() - start >= milliseconds) return false;
        Sleep(10);
    }
    return true;
}

void Click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

void PressKey(HWND window, UINT virtualKey) {
    const HWND target = FocusIn(window) ? FocusIn(window) : window;
    const UINT scan = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
    PostMessageW(target, WM_KEYDOWN, virtualKey, 1 | (scan << 16));
    PostMessageW(target, WM_KEYUP, virtualKey, 1 | (scan << 16) | 0xC0000000);
}
