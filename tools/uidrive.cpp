// Drives the programs' windows from scripts (the demo and the benchmark). Never shipped.
//   uidrive [--desktop NAME] COMMAND ...     works on the windows of that desktop
//   uidrive wait CAPTION [CLASS]             waits for the window; prints "x y width height"
//   uidrive show CAPTION [CLASS]             prints the window's caption, client size, controls
//   uidrive click CAPTION BUTTON [CLASS]     presses the window's button captioned BUTTON
//   uidrive move CAPTION X Y                 moves the window, as a user drags it aside
//   uidrive gone CAPTION                     waits until no window has this caption
//   uidrive bench EXE CAPTION BUTTON RUNS    times start to window, and BUTTON to message box
//   uidrive hosttime                         times what Setup asks of the host, in a fresh process
//   uidrive quiet EXE ARGUMENTS RUNS         times EXE ARGUMENTS from its start to its end
//   uidrive unanswered EXE CAPTION BUTTON RUNS   after BUTTON, probes the window with sent
//                                            messages until the message box shows; times the
//                                            longest probe (the window unanswered) and the wait
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "files.h"
#include "host.h"
#include "ui_driver.h"

namespace {

struct Control {
    HWND window;
    std::wstring className;
    std::wstring text;
    RECT rect;  // in the parent's client coordinates
    int id;
    DWORD style;
};

BOOL CALLBACK CollectChild(HWND window, LPARAM parameter) {
    auto& children = *reinterpret_cast<std::vector<Control>*>(parameter);
    Control control = {};
    control.window = window;
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    control.className = name;
    control.text = TextOf(window);
    GetWindowRect(window, &control.rect);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&control.rect), 2);
    control.id = GetDlgCtrlID(window);
    control.style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
    children.push_back(control);
    return TRUE;
}

std::vector<Control> ChildrenOf(HWND window) {
    std::vector<Control> children;
    EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
    return children;
}

const Control* FindChild(const std::vector<Control>& children, const wchar_t* text) {
    for (const auto& child : children) {
        if (child.text == text) return &child;
    }
    return nullptr;
}

void Print(const std::wstring& text) {
    const std::string bytes = Utf8(text);
    fwrite(bytes.data(), 1, bytes.size(), stdout);
    fflush(stdout);
}

std::wstring Visible(std::wstring text) {
    std::wstring shown;
    for (const wchar_t c : text) {
        shown += c == L'\r'   ? std::wstring(L"\\r")
                 : c == L'\n' ? std::wstring(L"\\n")
                              : std::wstring(1, c);
    }
    return shown;
}

// Waits for the window, and until a control in it has the focus: the remover's notice shows at
// once but takes the focus only when its outcome is there.
HWND Wait(const wchar_t* caption, const wchar_t* className) {
    for (int i = 0; i < 4000; ++i) {
        const HWND window = FindTopWindow(0, className, caption);
        if (window && FocusIn(window)) return window;
        Sleep(10);
    }
    return nullptr;
}

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The button of `window` captioned `button`; says what is missing when there is none.
HWND ButtonOf(HWND window, const wchar_t* caption, const wchar_t* button) {
    const auto children = window ? ChildrenOf(window) : std::vector<Control>();
    const Control* found = FindChild(children, button);
    if (!window || !found) {
        Print(L"uidrive: no window \"" + std::wstring(caption) + L"\" with a button \"" + button +
              L"\"\n");
        return nullptr;
    }
    return found->window;
}

int Bench(const std::wstring& exe, const wchar_t* caption, const wchar_t* button, int runs) {
    std::vector<double> startup, response;
    for (int run = 0; run < runs; ++run) {
        LARGE_INTEGER t0, t1, t2, t3;
        QueryPerformanceCounter(&t0);
        Program program(exe);
        const HWND window = WaitForWindow(program, nullptr, caption);
        QueryPerformanceCounter(&t1);
        const HWND ok = ButtonOf(window, caption, button);
        if (!ok) return 1;
        QueryPerformanceCounter(&t2);
        Click(ok);
        const HWND box = WaitForWindow(program, L"#32770", nullptr);
        QueryPerformanceCounter(&t3);
        if (!box) {
            Print(L"uidrive: no message box after the click\n");
            return 1;
        }
        startup.push_back(Milliseconds(t0, t1));
        response.push_back(Milliseconds(t2, t3));
        PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
        program.WaitForExit();
    }
    wchar_t line[128];
    swprintf(line, 128, L"%.1f %.1f\n", Median(startup), Median(response));
    Print(line);
    return 0;
}

// Starts `exe`, presses `button`, and sends the window one message after another until the
// message box shows: the longest of them is the longest time the window went unanswered.
int Unanswered(const std::wstring& exe, const wchar_t* caption, const wchar_t* button, int runs) {
    std::vector<double> longest, total;
    for (int run = 0; run < runs; ++run) {
        Program program(exe);
        const HWND window = WaitForWindow(program, nullptr, caption);
        const HWND ok = ButtonOf(window, caption, button);
        if (!ok) return 1;
        LARGE_INTEGER clicked, before, after;
        QueryPerformanceCounter(&clicked);
        Click(ok);
        double worst = 0;
        HWND box = nullptr;
        while (!box && program.Running()) {
            QueryPerformanceCounter(&before);
            DWORD_PTR ignored = 0;
            SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 60000, &ignored);
            QueryPerformanceCounter(&after);
            worst = std::max(worst, Milliseconds(before, after));
            box = FindTopWindow(program.id(), L"#32770", nullptr);
            Sleep(5);
        }
        if (!box) {
            Print(L"uidrive: no message box after the click\n");
            return 1;
        }
        longest.push_back(worst);
        total.push_back(Milliseconds(clicked, after));
        PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
        program.WaitForExit();
    }
    wchar_t line[128];
    swprintf(line, 128, L"%.1f %.1f\n", Median(longest), Median(total));
    Print(line);
    return 0;
}

// Runs `exe` with `arguments` `runs` times; prints the median time from its start to its end, and
// the exit code of the last run.
int Quiet(const std::wstring& exe, const std::wstring& arguments, int runs) {
    std::vector<double> times;
    DWORD code = 0;
    for (int run = 0; run < runs; ++run) {
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        Program program(exe, arguments);
        code = program.WaitForExit(60000);
        QueryPerformanceCounter(&t1);
        times.push_back(Milliseconds(t0, t1));
    }
    wchar_t line[64];
    swprintf(line, 64, L"%.1f %lu\n", Median(times), static_cast<unsigned long>(code));
    Print(line);
    return 0;
}

int HostTime() {
    ComApartment com;
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    host::Excel excel;
    std::wstring value;
    if (FAILED(excel.Connect())) return 1;
    for (const wchar_t* name : {L"Path", L"StartupPath", L"Version"}) {
        if (FAILED(excel.ReadText(name, value))) return 1;
    }
    QueryPerformanceCounter(&t1);
    wchar_t line[32];
    swprintf(line, 32, L"%.1f\n", Milliseconds(t0, t1));
    Print(line);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 2 && std::wstring(argv[1]) == L"--desktop") {
        HDESK desktop = nullptr;  // the program that makes it may still be starting
        for (int i = 0; i < 2000 && !desktop; ++i) {
            desktop = OpenDesktopW(argv[2], 0, FALSE, GENERIC_ALL);
            if (!desktop) Sleep(10);
        }
        if (!desktop || !SetThreadDesktop(desktop)) {
            Print(L"uidrive: no desktop \"" + std::wstring(argv[2]) + L"\"\n");
            return 1;
        }
        argc -= 2;
        argv += 2;
    }
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"bench" && argc == 6) return Bench(argv[2], argv[3], argv[4], _wtoi(argv[5]));
    if (command == L"hosttime") return HostTime();
    if (command == L"quiet" && argc == 5) return Quiet(argv[2], argv[3], _wtoi(argv[4]));
    if (command == L"unanswered" && argc == 6) {
        return Unanswered(argv[2], argv[3], argv[4], _wtoi(argv[5]));
    }
    if (argc < 3) {
        fputs("usage: uidrive wait|show|click|move|gone|bench|hosttime|quiet|unanswered ...\n",
              stderr);
        return 2;
    }
    const wchar_t* className = nullptr;
    if (command == L"click" && argc > 4) className = argv[4];
    if ((command == L"wait" || command == L"show") && argc > 3) className = argv[3];
    if (command == L"gone") {
        for (int i = 0; i < 2000 && FindTopWindow(0, nullptr, argv[2]); ++i) Sleep(10);
        return FindTopWindow(0, nullptr, argv[2]) ? 1 : 0;
    }
    const HWND window = Wait(argv[2], className);
    if (!window) {
        Print(L"uidrive: no window \"" + std::wstring(argv[2]) + L"\"\n");
        return 1;
    }
    if (command == L"wait") {
        // Painted before it is looked at: a window that has just been shown may not have drawn
        // itself yet, and the screen shows black there until it has.
        RedrawWindow(window, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 5000, nullptr);
        RECT frame;
        GetWindowRect(window, &frame);
        wchar_t line[64];
        swprintf(line, 64, L"%ld %ld %ld %ld\n", frame.left, frame.top, frame.right - frame.left,
                 frame.bottom - frame.top);
        Print(line);
        return 0;
    }
    if (command == L"show") {
        const auto [width, height] = ClientSize(window);
        Print(L"  window \"" + TextOf(window) + L"\", client area " + std::to_wstring(width) +
              L" x " + std::to_wstring(height) + L" pixels\n");
        for (const auto& control : ChildrenOf(window)) {
            if (!(control.style & WS_VISIBLE)) continue;
            wchar_t where[64];
            swprintf(where, 64, L"at %ld,%ld size %ld x %ld", control.rect.left, control.rect.top,
                     control.rect.right - control.rect.left,
                     control.rect.bottom - control.rect.top);
            Print(L"    " + control.className + L" \"" + Visible(control.text) + L"\" " + where +
                  (FocusIn(window) == control.window ? L", has the focus\n" : L"\n"));
        }
        return 0;
    }
    if (command == L"move" && argc == 5) {
        SetWindowPos(window, nullptr, _wtoi(argv[3]), _wtoi(argv[4]), 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    if (command == L"click" && argc > 3) {
        const auto children = ChildrenOf(window);
        const Control* button = FindChild(children, argv[3]);
        if (!button) {
            Print(L"uidrive: no button \"" + std::wstring(argv[3]) + L"\"\n");
            return 1;
        }
        Click(button->window);
        return 0;
    }
    fputs("usage: uidrive wait|show|click|move|gone|bench|hosttime|quiet|unanswered ...\n", stderr);
    return 2;
}
