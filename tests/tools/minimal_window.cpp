// The smallest window program this toolchain builds, with an OK button that shows a message and
// ends it: the yardstick for Setup's timings, and a program without DLL hardening for the
// planted-DLL test. Test code only.
#include <windows.h>

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
        MessageBoxW(window, L"done", L"minimal", MB_OK | MB_ICONINFORMATION);
        DestroyWindow(window);
    } else if (message == WM_DESTROY) {
        PostQuitMessage(0);
    } else {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return 0;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    const WNDCLASSW windowClass = {
        0,       WindowProc,      0, 0, instance, nullptr, nullptr, GetSysColorBrush(COLOR_BTNFACE),
        nullptr, L"MinimalWindow"};
    RegisterClassW(&windowClass);
    const HWND window =
        CreateWindowExW(0, L"MinimalWindow", L"minimal", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                        CW_USEDEFAULT, 380, 260, nullptr, nullptr, instance, nullptr);
    SetFocus(CreateWindowExW(0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 280, 200,
                             65, 31, window, reinterpret_cast<HMENU>(IDOK), instance, nullptr));
    ShowWindow(window, showCommand);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
