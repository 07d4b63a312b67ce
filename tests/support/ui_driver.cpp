#include <windows.h>

#include <algorithm>

#include "ui_driver.h"

#include <stdexcept>

#include "files.h"

namespace {

struct Search {
    DWORD processId;
    const wchar_t* className;
    const wchar_t* caption;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter) {
    auto& search = *reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if ((search.processId && owner != search.processId) || !IsWindowVisible(window)) return TRUE;
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    if (search.className && lstrcmpW(name, search.className) != 0) return TRUE;
    if (search.caption && TextOf(window) != search.caption) return TRUE;
    search.found = window;
    return FALSE;
}

// A folder of this machine as Windows sees it: the folder that the environment variable
// `variable` names if set, else `builtIn`, both Unix paths, on drive Z:.
std::wstring FolderOnZ(const wchar_t* variable, const char* builtIn) {
    wchar_t named[MAX_PATH];
    const bool isNamed = GetEnvironmentVariableW(variable, named, MAX_PATH) != 0;
    std::wstring folder = L"Z:" + (isNamed ? std::wstring(named) : fs::u8path(builtIn).wstring());
    std::replace(folder.begin(), folder.end(), L'/', L'\\');
    return folder;
}

}  // namespace

std::wstring BinFolder() { return FolderOnZ(L"QORVEL_TEST_BIN_DIR", QORVEL_BIN_DIR); }

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
    Search search = {processId, className, caption, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
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

Bitmap Render(HWND control) {
    RECT client = {};
    GetClientRect(control, &client);
    Bitmap bitmap;
    bitmap.width = client.right;
    bitmap.height = client.bottom;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = bitmap.width;
    info.bmiHeader.biHeight = -bitmap.height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    const UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
    void* bits = nullptr;
    const Unique<HBITMAP, ::DeleteObject> dib(
        CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!dib) return bitmap;
    {
        const SelectedObject selected(dc.get(), dib.get());
        SendMessageW(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc.get()),
                     PRF_CLIENT | PRF_ERASEBKGND);
        GdiFlush();
    }
    const auto* pixel = static_cast<const DWORD*>(bits);
    for (int i = 0; i < bitmap.width * bitmap.height; ++i) {
        bitmap.pixels.push_back(RGB(GetBValue(pixel[i]), GetGValue(pixel[i]), GetRValue(pixel[i])));
    }
    return bitmap;
}

void EndWindowMadeHere(HWND window) {
    if (IsWindow(window)) DestroyWindow(window);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

std::vector<std::pair<int, int>> InkBands(const Bitmap& bitmap, COLORREF background) {
    std::vector<std::pair<int, int>> bands;
    for (int y = 0; y < bitmap.height; ++y) {
        bool ink = false;
        for (int x = 0; x < bitmap.width && !ink; ++x) ink = bitmap.at(x, y) != background;
        if (!ink) continue;
        if (!bands.empty() && bands.back().second == y - 1) {
            bands.back().second = y;
        } else {
            bands.push_back({y, y});
        }
    }
    return bands;
}
