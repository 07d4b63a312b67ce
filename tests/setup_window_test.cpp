// The real Setup.exe, started from an install set and driven as a user would drive it; and its
// window made in the test's own process, to see what it draws.
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "fLanguage.h"
#include "files.h"
#include "lock.h"
#include "ui_driver.h"

namespace {

using Lines = std::vector<std::string>;

constexpr char kAddIn[] = "add-in workbook";
constexpr char kShipped[] = "[CurveInformation]\r\nVer=1.5\r\n";
constexpr wchar_t kOK[] = L"确\u3000定";
constexpr wchar_t kCancel[] = L"取\u3000消";
constexpr wchar_t kAnnouncement[] =
    L"安装程序将要安装“Morvane”\r\r\r到你的系统中，点击“确定”开始安装,\r\r\r"
    L"点击“取消”将放弃安装！　　　　　　　　　　　";
constexpr wchar_t kCompletion[] =
    L"程序安装完毕，打开Excel后，点击工具栏中的“Qorvel”按钮即可打开Qorvel主程序！！！   ";

// The twips layout in pixels, rounded: 15 twips a pixel at 96 dpi, 10 at 144 dpi.
struct Layout {
    SIZE client;
    RECT label, ok, cancel;
};
constexpr Layout kAt96 = {
    {380, 260}, {16, 32, 353, 153}, {280, 200, 345, 231}, {192, 200, 257, 231}};
constexpr Layout kAt144 = {
    {570, 390}, {24, 48, 530, 230}, {420, 300, 518, 346}, {288, 300, 386, 346}};

// The test-only programs stand beside this test program.
std::wstring TestProgram(const wchar_t* name) {
    wchar_t self[MAX_PATH];
    const std::wstring path(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
    return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

HWND Button(HWND window, const wchar_t* caption) {
    const auto children = ChildrenOf(window);
    const Control* button = FindChild(children, caption);
    return button ? button->window : nullptr;
}

// The controls' places; the client area's size too, where the window is shown at that DPI.
void ExpectLayout(HWND window, const Layout& want, bool shownAtThatDpi) {
    if (shownAtThatDpi) {
        const SIZE client = ClientSize(window);
        EXPECT_EQ(client.cx, want.client.cx);
        EXPECT_EQ(client.cy, want.client.cy);
    }
    const auto children = ChildrenOf(window);
    ASSERT_EQ(children.size(), 3u);
    const Control* label = FindChild(children, kAnnouncement);
    const Control* ok = FindChild(children, kOK);
    const Control* cancel = FindChild(children, kCancel);
    ASSERT_TRUE(label && ok && cancel) << "controls: " << Utf8(children[0].text) << " | "
                                       << Utf8(children[1].text) << " | " << Utf8(children[2].text);
    EXPECT_EQ(label->rect, want.label);
    EXPECT_EQ(ok->rect, want.ok);
    EXPECT_EQ(cancel->rect, want.cancel);
    EXPECT_EQ(ok->style & BS_TYPEMASK, static_cast<DWORD>(BS_PUSHBUTTON)) << "not a default button";
    EXPECT_EQ(cancel->style & BS_TYPEMASK, static_cast<DWORD>(BS_PUSHBUTTON));
}

// The message box the program shows: its text, and its buttons.
std::wstring MessageText(HWND box, int* buttons = nullptr) {
    std::wstring text;
    for (const auto& child : ChildrenOf(box)) {
        if (child.id == 0xFFFF) text = child.text;
        if (buttons && child.className == L"Button" && (child.style & WS_VISIBLE)) ++*buttons;
    }
    return text;
}

// The cursor that `window` shows under the mouse, as it answers WM_SETCURSOR (a handle of the
// window's process: comparable only with others of it).
HCURSOR CursorOver(HWND window) {
    SendMessageTimeoutW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window),
                        MAKELPARAM(HTCLIENT, WM_MOUSEMOVE), SMTO_BLOCK, 15000, nullptr);
    CURSORINFO info = {};
    info.cbSize = sizeof info;
    GetCursorInfo(&info);
    return info.hCursor;
}

class SetupWindowTest : public testing::Test, protected LabPc {
protected:
    SetupWindowTest() : LabPc(L"setup-window", kAddIn, kShipped) {
        CopyFileW((BinFolder() + L"\\Setup.exe").c_str(), setupExe.c_str(), FALSE);
        // Where WINEDLLOVERRIDES loads native DLLs first for many names
        // (setup_window.planted_dlls), DLLs of those names are planted in the install set beside
        // the programs.
        wchar_t overrides[4096] = {};
        GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 4096);
        const std::wstring nativeFirst(overrides, wcscspn(overrides, L"="));
        for (size_t start = 0; start < nativeFirst.size();) {
            const size_t comma = std::min(nativeFirst.find(L',', start), nativeFirst.size());
            planted.push_back(nativeFirst.substr(start, comma - start) + L".dll");
            start = comma + 1;
        }
        if (planted.size() < 25) planted.clear();
        for (const auto& name : planted) {
            CopyFileW(TestProgram(L"planted_dll.dll").c_str(), (installSet + L"\\" + name).c_str(),
                      FALSE);
        }
    }

    // Starts Setup and gives its window, once it is ready for keys.
    HWND Start(const std::wstring& exe) {
        program = std::make_unique<Program>(exe);
        const HWND window = WaitForWindowWithFocus(*program, L"安装");
        EXPECT_NE(window, nullptr) << "Setup showed no window";
        return window;
    }
    HWND Start() { return Start(setupExe); }

    // Waits for the completion message, checks it, and presses its one button.
    void ExpectCompletionAndDismiss(HWND window) {
        const HWND box = WaitForWindow(*program, L"#32770", L"Setup");
        ASSERT_NE(box, nullptr) << "no completion message";
        EXPECT_EQ(GetWindow(box, GW_OWNER), window) << "the message is owned by the window";
        int buttons = 0;
        EXPECT_EQ(Utf8(MessageText(box, &buttons)), Utf8(kCompletion));
        EXPECT_EQ(buttons, 1);
        Click(GetDlgItem(box, IDOK));
        EXPECT_EQ(program->WaitForExit(6000), 0u) << "ended within seconds";
        EXPECT_FALSE(IsWindow(window));
    }

    void ExpectNothingWritten() {
        EXPECT_FALSE(FileExists(hostProfile));
        EXPECT_FALSE(FileExists(addIn));
        EXPECT_TRUE(host.Calls().empty()) << "the host was asked " << host.Calls().size();
    }

    // The names of the planted DLLs that a program loaded since the last look.
    std::string PlantedDllsLoaded() {
        std::string names;
        for (const auto& name : planted) {
            const std::wstring marker = installSet + L"\\" + name + L".loaded";
            if (FileExists(marker)) names += Utf8(name) + " ";
            DeleteFileW(marker.c_str());
        }
        return names;
    }

    std::wstring setupExe = installSet + L"\\Setup.exe";
    std::unique_ptr<Program> program;
    std::vector<std::wstring> planted;
};

// Runs at 96 dpi in the main prefix and at 144 dpi in the alt one.
TEST_F(SetupWindowTest, WindowAsShown) {
    const HWND window = Start();
    ASSERT_NE(window, nullptr);
    const UniqueWindowDc screen(nullptr);
    const int dpi = GetDeviceCaps(screen.get(), LOGPIXELSY);
    ASSERT_TRUE(dpi == 96 || dpi == 144) << dpi;

    EXPECT_EQ(TextOf(window), L"安装");
    ExpectLayout(window, dpi == 96 ? kAt96 : kAt144, true);
    EXPECT_TRUE(WaitForFocus(window, Button(window, kOK))) << "the focus is not on OK";
    RECT frame, work;
    GetWindowRect(window, &frame);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_NEAR((frame.left + frame.right) / 2, (work.left + work.right) / 2, 1);
    EXPECT_NEAR((frame.top + frame.bottom) / 2, (work.top + work.bottom) / 2, 1);
}

// What the user does, and what follows: OK, or Enter while OK has the focus as it has at first,
// installs (asking the host once) and says how it ended (the exit code too); Tab moves the focus
// to Cancel; Esc does nothing; Cancel and the close command end the program and write nothing. A
// failed first installation leaves no host profile, and the next run completes it. Excel in a
// process of its own (setup_window.local_server) may be slow to start: meanwhile the window shows
// the wait cursor, keeps its buttons disabled and ignores a second click and the close command;
// busy for a while, it is waited for; busy for good, it is reported after the bounded wait; ending
// mid-run, it is reported. Where DLLs are planted beside Setup, none is loaded on any path.
TEST_F(SetupWindowTest, WhatTheUserDoesAndWhatFollows) {
    enum Outcome { kCompletes, kReportsThenNextRunCompletes, kEndsWithNothingWritten, kStaysOpen };
    enum Where { kAnywhere, kInProcess, kOutOfProcess };  // where the stand-in host runs
    // The test prefix maps R: to a folder of the build.
    CopyFileW(setupExe.c_str(), L"R:\\Setup.exe", FALSE);
    WriteBytes(L"R:\\setup.xla", kAddIn);
    WriteBytes(L"R:\\QorvelProfile.ini", kShipped);
    const auto ok = [](HWND w) { Click(Button(w, kOK)); };
    const auto enter = [](HWND w) { PressKey(w, VK_RETURN); };
    const struct {
        const char* name;
        std::function<void()> arrange;  // undone before the next run
        std::function<void(HWND window)> act;
        Outcome outcome;
        std::wstring report = {};  // the error report, if one is shown
        DWORD exitCode = 0;
        Where where = kAnywhere;
        std::wstring exe = {};  // the install set's Setup.exe when empty
    } rows[] = {
        {"OK", [] {}, ok, kCompletes},
        {"Enter right after start", [] {}, enter, kCompletes},
        {"OK, install set at a drive root", [] {}, ok, kCompletes, L"", 0, kAnywhere,
         L"R:\\Setup.exe"},
        {"OK, no setup.xla", [&] { DeleteFileW((installSet + L"\\setup.xla").c_str()); }, ok,
         kReportsThenNextRunCompletes,
         L"运行时错误 '53'：\n\n找不到要复制的文件：\n" + installSet + L"\\setup.xla", 53},
        // The mouse pressed on Cancel and released off it gives Cancel the focus without making it
        // the default button: Enter then reaches the window as IDOK, and presses Cancel.
        {"Cancel pressed and released off it, Enter", [] {},
         [](HWND w) {
             const HWND cancel = Button(w, kCancel);
             PostMessageW(cancel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
             PostMessageW(cancel, WM_LBUTTONUP, 0, MAKELPARAM(-50, -50));
             ASSERT_TRUE(WaitForFocus(w, cancel));
             PressKey(w, VK_RETURN);
         },
         kEndsWithNothingWritten},
        {"Tab, Space", [] {},
         [](HWND w) {
             PressKey(w, VK_TAB);
             ASSERT_TRUE(WaitForFocus(w, Button(w, kCancel)));
             PressKey(w, VK_SPACE);
         },
         kEndsWithNothingWritten},
        // Posted keys are handled in order: once Tab has moved the focus, Esc has been handled.
        {"Esc", [] {},
         [](HWND w) {
             PressKey(w, VK_ESCAPE);
             PressKey(w, VK_TAB);
             EXPECT_TRUE(WaitForFocus(w, Button(w, kCancel)));
         },
         kStaysOpen},
        {"Cancel", [] {}, [](HWND w) { Click(Button(w, kCancel)); }, kEndsWithNothingWritten},
        {"close command", [] {}, [](HWND w) { PostMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0); },
         kEndsWithNothingWritten},
        // The add-in and the profile have been copied by then: the stand-in ends the process.
        {"killed while the host is asked for its version",
         [&] { host.Set(L"ExitOnRead", L"Version"); }, enter, kReportsThenNextRunCompletes, L"", 99,
         kInProcess},
        {"host busy for three calls", [&] { host.Set(L"RejectCalls", L"3"); }, enter, kCompletes},
        // Setup still ends within seconds, and the next one can run.
        {"host hangs when let go", [&] { host.Set(L"HangOnRelease", L"1"); }, enter, kCompletes},
        {"host slow to start, OK clicked twice", [&] { host.Set(L"StartDelay", L"5"); },
         [&](HWND w) {
             const HWND okButton = Button(w, kOK), cancel = Button(w, kCancel);
             const HCURSOR arrow = CursorOver(w);
             Click(okButton);
             Click(okButton);
             for (int i = 0; i < 500 && IsWindowEnabled(okButton); ++i) Sleep(10);
             Sleep(1000);  // well into the host's start
             EXPECT_NE(CursorOver(w), arrow) << "no wait cursor while the host starts";
             EXPECT_EQ(FindTopWindow(program->id(), L"#32770", nullptr), nullptr);
             EXPECT_FALSE(IsWindowEnabled(okButton));
             EXPECT_FALSE(IsWindowEnabled(cancel));
             PostMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0);  // ignored while the host works
         },
         kCompletes, L"", 0, kOutOfProcess},
        {"host busy for good", [&] { host.Set(L"RejectCalls", L"1000000"); }, enter,
         kReportsThenNextRunCompletes,
         L"运行时错误 '440'：\n\nMicrosoft Excel 正忙，或正停在一个对话框处等待，一直没有应答。"
         L"安装未做任何更改。请先手动启动一次 Excel，关闭它显示的对话框，然后重新运行 Setup：\n"
         L"错误代码 0x80010001",
         440, kOutOfProcess},
        {"host ends during Version", [&] { host.Set(L"ExitOnRead", L"Version"); }, enter,
         kReportsThenNextRunCompletes,
         L"运行时错误 '462'：\n\nMicrosoft Excel 意外结束（可能已崩溃或被关闭）。"
         L"安装未做任何更改，请重新运行 Setup：\nVersion（错误代码 0x800706BE）",
         462, kOutOfProcess},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.where != kAnywhere && (row.where == kOutOfProcess) != StandInHost::OutOfProcess()) {
            continue;
        }
        const std::wstring exe = row.exe.empty() ? setupExe : row.exe;
        row.arrange();
        HWND window = Start(exe);
        ASSERT_NE(window, nullptr);
        row.act(window);
        if (row.outcome == kReportsThenNextRunCompletes) {
            if (!row.report.empty()) {
                const HWND box = WaitForWindow(*program, L"#32770", L"Setup", 60000);
                ASSERT_NE(box, nullptr) << "no error report";
                EXPECT_EQ(Utf8(MessageText(box)), Utf8(row.report));
                PressKey(box, VK_RETURN);
            }
            EXPECT_EQ(program->WaitForExit(), row.exitCode);
            EXPECT_FALSE(FileExists(hostProfile)) << "a failed first installation leaves none";
            ResetHost();
            WriteBytes(installSet + L"\\setup.xla", kAddIn);
            host.ClearCalls();
            window = Start(exe);
            ASSERT_NE(window, nullptr);
            PressKey(window, VK_RETURN);
        }
        switch (row.outcome) {
            case kCompletes:
            case kReportsThenNextRunCompletes: {
                ExpectCompletionAndDismiss(window);
                EXPECT_EQ(ReadBytes(addIn), kAddIn);
                const std::string set = row.exe.empty() ? Cp936(installSet) : "R:\\";
                const Lines profile = LinesOf(ReadBytes(hostProfile));
                ASSERT_EQ(profile.size(), 7u);
                EXPECT_EQ(profile[2], "FilePath=" + set + "\\Qorvel.xltm");
                EXPECT_EQ(profile[3], "DtPath=" + set + "\\Data\\Qorvel.mdb");
                EXPECT_EQ(FilesIn(excel), Lines{"QorvelProfile.ini"}) << "nothing else is left";
                const Lines calls = host.Calls();
                EXPECT_EQ(std::count(calls.begin(), calls.end(), "Invoke Application 1033 2"), 1)
                    << "the host was started " << calls.size() / 8 << " times";
                break;
            }
            case kEndsWithNothingWritten:
                EXPECT_EQ(program->WaitForExit(), 1602u) << "cancelled";
                ExpectNothingWritten();
                break;
            case kStaysOpen:
                EXPECT_TRUE(program->Running());
                EXPECT_TRUE(IsWindowVisible(window));
                EXPECT_EQ(FindTopWindow(program->id(), L"#32770", nullptr), nullptr);
                ExpectNothingWritten();
                break;
        }
        EXPECT_EQ(PlantedDllsLoaded(), "");
        DeleteFileW(addIn.c_str());
        DeleteFileW(hostProfile.c_str());
        host.ClearCalls();
        ResetHost();
    }
    for (const wchar_t* file : {L"R:\\Setup.exe", L"R:\\setup.xla", L"R:\\QorvelProfile.ini"}) {
        DeleteFileW(file);
    }
}

// Two Setups started and confirmed at nearly the same moment (a double-click too many, two
// administrators): the second brings the first one's window to the front and ends (1618) without
// a window of its own; every time, one installation and a complete host profile. A remover
// during a Setup removes nothing (1618); where no Setup window can be found, Setup says so.
TEST_F(SetupWindowTest, OneInstallationAtATime) {
    {
        const HWND first = Start();
        ASSERT_NE(first, nullptr);
        Program other(TestProgram(L"minimal_window.exe"));
        ASSERT_NE(WaitForWindowWithFocus(other, L"minimal"), nullptr);
        Program second(setupExe);
        EXPECT_EQ(second.WaitForExit(), 1618u);
        EXPECT_EQ(GetForegroundWindow(), first) << "the first Setup is not in front";
        // A remover meanwhile removes nothing and says so.
        WriteBytes(addIn, kAddIn);
        const std::wstring removerExe = installSet + L"\\remover.exe";
        CopyFileW((BinFolder() + L"\\remover.exe").c_str(), removerExe.c_str(), FALSE);
        Program remover(removerExe);
        const HWND notice = WaitForWindowWithFocus(remover, L"提示");
        ASSERT_NE(notice, nullptr);
        EXPECT_EQ(Utf8(TextOf(GetDlgItem(notice, 100))),
                  Utf8(L"安装程序正在运行，未做\r\n任何更改。请等它结束后\r\n再运行本程序。"));
        PressKey(notice, VK_RETURN);
        EXPECT_EQ(remover.WaitForExit(), 1618u);
        EXPECT_EQ(ReadBytes(addIn), kAddIn);
        DeleteFileW(addIn.c_str());
        PostMessageW(first, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_EQ(program->WaitForExit(), 1602u);
        ExpectNothingWritten();
    }
    {
        // Another program holds the lock (a Setup in another session, or one that is ending): no
        // window to bring to the front, so the user is told.
        const InstallationLock held;
        ASSERT_TRUE(held.taken());
        Program blocked(setupExe);
        const HWND box = WaitForWindow(blocked, L"#32770", L"Setup");
        ASSERT_NE(box, nullptr) << "Setup said nothing";
        EXPECT_EQ(Utf8(MessageText(box)),
                  Utf8(L"另一个安装或卸载程序正在运行（可能在另一个用户的会话中）。请等它结束后，"
                       L"再运行 Setup。"));
        PressKey(box, VK_RETURN);
        EXPECT_EQ(blocked.WaitForExit(), 1618u);
    }
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        DeleteFileW(hostProfile.c_str());
        DeleteFileW(addIn.c_str());
        host.ClearCalls();
        Program first(setupExe), second(setupExe);
        Program* const programs[] = {&first, &second};
        // Each has shown its window or ended: then every window is confirmed at once, and every
        // message dismissed as soon as it shows.
        HWND windows[2] = {}, dismissed[2] = {};
        for (int i = 0; i < 2000; ++i) {
            int ready = 0;
            for (int p = 0; p < 2; ++p) {
                windows[p] = FindTopWindow(programs[p]->id(), nullptr, L"安装");
                ready += windows[p] || !programs[p]->Running();
            }
            if (ready == 2) break;
            Sleep(2);
        }
        for (const HWND window : windows) {
            if (window) Click(Button(window, kOK));
        }
        int completions = 0;
        for (int i = 0; i < 2000 && (first.Running() || second.Running()); ++i) {
            for (int p = 0; p < 2; ++p) {
                const HWND box = FindTopWindow(programs[p]->id(), L"#32770", L"Setup");
                if (box && box != dismissed[p]) {
                    completions += TextOf(GetDlgItem(box, 0xFFFF)) == kCompletion;
                    Click(GetDlgItem(box, IDOK));
                    dismissed[p] = box;
                }
            }
            Sleep(2);
        }
        EXPECT_EQ(first.WaitForExit() + second.WaitForExit(), 1618u) << "one installs, one ends";
        EXPECT_EQ(!!windows[0] + !!windows[1], 1) << "installer windows shown";
        EXPECT_EQ(completions, 1);
        const Lines calls = host.Calls();
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "Invoke Application 1033 2"), 1)
            << "installations";
        const Lines profile = LinesOf(ReadBytes(hostProfile));
        ASSERT_EQ(profile.size(), 7u);
        EXPECT_EQ(profile[6].substr(0, 9), "InstDate=");
        EXPECT_EQ(FilesIn(excel), Lines{"QorvelProfile.ini"});
    }
}

// DLLs named like system DLLs that Windows' components load late (the common controls, COM,
// input, security), planted in the install set beside both programs, are never loaded: Setup's
// paths are WhatTheUserDoesAndWhatFollows, run in setup_window.planted_dlls too; here the removal
// with its notice. Wine prefers its built-in DLLs, so that test runs with WINEDLLOVERRIDES loading
// native DLLs first for the planted names. A program without the hardening loads some of them,
// which shows that the plant works.
TEST_F(SetupWindowTest, DllsPlantedInTheInstallSetAreNeverLoaded) {
    ASSERT_FALSE(planted.empty()) << "WINEDLLOVERRIDES names no DLLs to plant: the test proves "
                                     "nothing";
    const std::wstring control = installSet + L"\\minimal_window.exe";
    CopyFileW(TestProgram(L"minimal_window.exe").c_str(), control.c_str(), FALSE);
    {
        Program unhardened(control);
        EXPECT_NE(WaitForWindow(unhardened, nullptr, L"minimal"), nullptr);
        Sleep(500);
    }
    EXPECT_NE(PlantedDllsLoaded(), "") << "the planted DLLs are not even considered";

    const std::wstring remover = installSet + L"\\remover.exe";
    CopyFileW((BinFolder() + L"\\remover.exe").c_str(), remover.c_str(), FALSE);
    WriteBytes(addIn, kAddIn);
    program = std::make_unique<Program>(remover);
    const HWND notice = WaitForWindowWithFocus(*program, L"提示");
    ASSERT_NE(notice, nullptr);
    PressKey(notice, VK_RETURN);
    EXPECT_EQ(program->WaitForExit(), 0u);
    EXPECT_FALSE(FileExists(addIn));
    EXPECT_EQ(PlantedDllsLoaded(), "") << "removal, notice";
}

// The window made in this process: what its label draws, and how it follows a change of DPI (its
// frame stays at the screen's DPI here, so only the controls are compared).
class SetupWindowDrawing : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(form.Show(GetModuleHandleW(nullptr), SW_HIDE));
        label = GetDlgItem(form.handle(), 100);
    }
    void TearDown() override { EndWindowMadeHere(form.handle()); }

    fLanguage form;
    HWND label = nullptr;
};

// In 宋体 10.8 pt (14 pixels at 96 dpi), normal weight, GB2312: three lines of text, with two empty
// lines between each pair: the lone carriage returns of the announcement break the line once each.
TEST_F(SetupWindowDrawing, LabelShowsThreeLinesTwoEmptyLinesApart) {
    EXPECT_EQ(FontOf(label), Utf8(L"宋体, -14, weight 400, charset 134"));
    const Bitmap drawn = Render(label);
    const auto bands = InkBands(drawn, GetSysColor(COLOR_BTNFACE));
    const int lineHeight = LineHeightOf(label);
    ASSERT_EQ(bands.size(), 3u) << "ink bands in " << drawn.height << " rows";
    for (size_t i = 1; i < bands.size(); ++i) {
        EXPECT_NEAR(bands[i].first - bands[i - 1].first, 3 * lineHeight, 1)
            << "lines " << i << " and " << i + 1 << ", line height " << lineHeight;
    }
}

TEST_F(SetupWindowDrawing, DpiChangeTo144LaysTheWindowOutAgain) {
    RECT suggested = {0, 0, 600, 440};
    SendMessageW(form.handle(), WM_DPICHANGED, MAKEWPARAM(144, 144),
                 reinterpret_cast<LPARAM>(&suggested));
    ExpectLayout(form.handle(), kAt144, false);
}

}  // namespace
