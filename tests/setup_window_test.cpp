// The real Setup.exe, started from an install set and driven as a user would drive it.
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <functional>
#include <memory>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "files.h"
#include "lock.h"
#include "ui_driver.h"

namespace {

using testing::Key;

constexpr char kAddIn[] = "add-in workbook";
constexpr char kShipped[] = "[CurveInformation]\r\nVer=1.5\r\n";
constexpr wchar_t kOK[] = L"确\u3000定";
constexpr wchar_t kCancel[] = L"取\u3000消";
constexpr wchar_t kCompletion[] =
    L"程序安装完毕，打开Excel后，点击工具栏中的“Qorvel”按钮即可打开Qorvel主程序！！！   ";

// The test-only programs stand beside this test program.
std::wstring TestProgram(const wchar_t* name) {
    wchar_t self[MAX_PATH];
    return fs::path(std::wstring(self, GetModuleFileNameW(nullptr, self, MAX_PATH)))
        .replace_filename(name)
        .wstring();
}

HWND Button(HWND window, const wchar_t* caption) {
    return FindWindowExW(window, nullptr, L"Button", caption);
}

// The text of a message box the program shows, and how many buttons it has.
std::pair<std::string, int> MessageOf(HWND box) {
    std::pair<std::string, int> message(Utf8(TextOf(GetDlgItem(box, 0xFFFF))), 0);
    for (HWND b = nullptr; (b = FindWindowExW(box, b, L"Button", nullptr));) {
        message.second += IsWindowVisible(b);
    }
    return message;
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

// A lab PC with Setup.exe in its install set. Where WINEDLLOVERRIDES loads native DLLs first for
// many names (windows.planted_dlls), DLLs of those names are planted beside it.
class SetupTest : public LabPc {
public:
    SetupTest() : LabPc(L"setup-window", kAddIn, kShipped) {
        CopyFileW((BinFolder() + L"\\Setup.exe").c_str(), setupExe.c_str(), FALSE);
        wchar_t overrides[4096] = {};
        GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 4096);
        std::wstringstream names(std::wstring(overrides, wcscspn(overrides, L"=")));
        for (std::wstring name; std::getline(names, name, L',');) planted.push_back(name + L".dll");
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

    // The names of the planted DLLs that a program loaded.
    std::string PlantedDllsLoaded() const {
        std::string names;
        for (const auto& name : planted) {
            if (fs::exists(installSet + L"\\" + name + L".loaded")) names += Utf8(name) + " ";
        }
        return names;
    }

    std::wstring setupExe = installSet + L"\\Setup.exe";
    std::unique_ptr<Program> program;
    std::vector<std::wstring> planted;
};

enum Outcome { kCompletes, kReports, kCancelled, kStaysOpen };
enum Where { kAnywhere, kOutOfProcess };  // where the stand-in host must run for the row

struct UserRow {
    const char* name;
    std::function<void(SetupTest&)> arrange;
    std::function<void(SetupTest&, HWND window)> act;
    Outcome outcome;
    const wchar_t* report = L"";  // the error report shown
    DWORD exitCode = 0;
    Where where = kAnywhere;
    const wchar_t* exe = nullptr;  // the install set's Setup.exe when null
};

class WhatTheUserDoes : public testing::TestWithParam<UserRow>, public SetupTest {};

// What the user does, and what follows: the installation completes with its message (owned by the
// window, one button) and exit code 0, asking the host once; or an error report and its number;
// or the program ends as cancelled (1602), or stays open, with nothing written and the host not
// asked. Where DLLs are planted beside Setup, none is loaded on any path.
TEST_P(WhatTheUserDoes, AndWhatFollows) {
    const UserRow& row = GetParam();
    if (row.where == kOutOfProcess && !StandInHost::OutOfProcess()) {
        GTEST_SKIP() << "needs the host in a process of its own (windows.local_server)";
    }
    row.arrange(*this);
    const HWND window = Start(row.exe ? row.exe : setupExe);
    ASSERT_NE(window, nullptr);
    row.act(*this, window);
    const bool reports = row.outcome == kReports || row.outcome == kCompletes;
    if (reports) {
        const HWND box = WaitForWindow(*program, L"#32770", L"Setup", 20000);
        ASSERT_NE(box, nullptr) << "no message";
        EXPECT_EQ(GetWindow(box, GW_OWNER), window);
        // The report ends with the path or value involved.
        const auto [text, buttons] = MessageOf(box);
        EXPECT_THAT(
            text, testing::StartsWith(Utf8(row.outcome == kCompletes ? kCompletion : row.report)));
        EXPECT_EQ(buttons, 1);
        PressKey(box, VK_RETURN);
    }
    if (row.outcome == kStaysOpen) {
        EXPECT_TRUE(program->Running());
        EXPECT_TRUE(IsWindowVisible(window));
        EXPECT_EQ(FindTopWindow(program->id(), L"#32770", nullptr), nullptr);
    } else {
        EXPECT_EQ(program->WaitForExit(), row.outcome == kCancelled ? 1602u : row.exitCode)
            << "ended within seconds, with its exit code";
    }
    if (row.outcome == kCompletes) {
        EXPECT_EQ(ReadBytes(addIn), kAddIn);
        const std::string set = row.exe ? "R:\\" : Cp936(installSet);
        EXPECT_THAT(LinesOf(ReadBytes(hostProfile)),
                    testing::IsSupersetOf({"FilePath=" + set + "\\Qorvel.xltm",
                                           "DtPath=" + set + "\\Data\\Qorvel.mdb"}));
        EXPECT_THAT(TreeOf(excel), testing::ElementsAre(Key("QorvelProfile.ini")));
        const auto calls = host.Calls();
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "Invoke Application 1033 2"), 1)
            << "host starts";
    } else {
        EXPECT_EQ(TreeOf(excel), TreeOf(startup)) << "both empty";
        if (row.outcome != kReports && row.where == kAnywhere) {
            EXPECT_THAT(host.Calls(), testing::IsEmpty()) << "the host was asked";
        }
    }
    EXPECT_EQ(PlantedDllsLoaded(), "");
}

const auto kOk = [](SetupTest&, HWND w) { Click(Button(w, kOK)); };
const auto kEnter = [](SetupTest&, HWND w) { PressKey(w, VK_RETURN); };
const auto kNothing = [](SetupTest&) {};

const UserRow kUserRows[] = {
    {"OK", kNothing, kOk, kCompletes},
    {"Enter right after start", kNothing, kEnter, kCompletes},
    // The test prefix maps R: to a folder of the build.
    {"install set at a drive root",
     [](SetupTest& t) {
         CopyFileW(t.setupExe.c_str(), L"R:\\Setup.exe", FALSE);
         WriteBytes(L"R:\\setup.xla", kAddIn);
         WriteBytes(L"R:\\QorvelProfile.ini", kShipped);
     },
     kOk, kCompletes, L"", 0, kAnywhere, L"R:\\Setup.exe"},
    {"no setup.xla", [](SetupTest& t) { DeleteFileW((t.installSet + L"\\setup.xla").c_str()); },
     kEnter, kReports, L"运行时错误 '53'：\n\n找不到要复制的文件：\n", 53},
    // The mouse pressed on Cancel and released off it gives Cancel the focus without making it
    // the default button: Enter then reaches the window as IDOK, and presses Cancel.
    {"Cancel pressed and released off it, Enter", kNothing,
     [](SetupTest&, HWND w) {
         const HWND cancel = Button(w, kCancel);
         PostMessageW(cancel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
         PostMessageW(cancel, WM_LBUTTONUP, 0, MAKELPARAM(-50, -50));
         ASSERT_TRUE(WaitForFocus(w, cancel));
         PressKey(w, VK_RETURN);
     },
     kCancelled},
    // Posted keys are handled in order: once Tab has moved the focus, Esc has been handled.
    {"Esc", kNothing,
     [](SetupTest&, HWND w) {
         PressKey(w, VK_ESCAPE);
         PressKey(w, VK_TAB);
         EXPECT_TRUE(WaitForFocus(w, Button(w, kCancel)));
     },
     kStaysOpen},
    {"Cancel", kNothing, [](SetupTest&, HWND w) { Click(Button(w, kCancel)); }, kCancelled},
    {"close command", kNothing,
     [](SetupTest&, HWND w) { PostMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0); }, kCancelled},
    // Setup still ends within seconds, and holds no lock after that.
    {"host hangs when let go",
     [](SetupTest& t) {
         t.host.Set(L"HangOnRelease", L"1");
         t.host.Set(L"HangMs", L"12000");
     },
     kEnter, kCompletes},
    // Meanwhile the window shows the wait cursor and keeps its buttons disabled, and a second
    // click does nothing; the close command stops the wait, and nothing has changed.
    {"host slow to start, OK clicked twice", [](SetupTest& t) { t.host.Set(L"StartDelay", L"5"); },
     [](SetupTest& t, HWND w) {
         const HWND ok = Button(w, kOK);
         const HCURSOR arrow = CursorOver(w);
         Click(ok);
         Click(ok);
         Sleep(1500);  // well into the host's start
         EXPECT_NE(CursorOver(w), arrow) << "no wait cursor while the host starts";
         EXPECT_EQ(FindTopWindow(t.program->id(), L"#32770", nullptr), nullptr);
         EXPECT_FALSE(IsWindowEnabled(ok));
         EXPECT_FALSE(IsWindowEnabled(Button(w, kCancel)));
         PostMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0);
     },
     kCancelled, L"", 0, kOutOfProcess},
    // Where COM does not hand the cancelled call back (Wine), Setup still ends within seconds.
    {"host hangs, the close command",
     [](SetupTest& t) {
         t.host.Set(L"HangOnRead", L"Version");
         t.host.Set(L"HangMs", L"12000");
     },
     [](SetupTest&, HWND w) {
         Click(Button(w, kOK));
         Sleep(2000);
         PostMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0);
     },
     kCancelled, L"", 0, kOutOfProcess},
    {"host ends during Version", [](SetupTest& t) { t.host.Set(L"ExitOnRead", L"Version"); },
     kEnter, kReports,
     L"运行时错误 '462'：\n\nMicrosoft Excel 意外结束（可能已崩溃或被关闭）。"
     L"安装未做任何更改，请重新运行 Setup：\nVersion（错误代码 0x800706BE）",
     462, kOutOfProcess},
};
INSTANTIATE_TEST_SUITE_P(Rows, WhatTheUserDoes, testing::ValuesIn(kUserRows), kRowName);

class SetupWindow : public testing::Test, public SetupTest {};

// A second Setup (a double-click too many, two administrators) brings the first one's window to
// the front and ends (1618) without a window of its own; a remover meanwhile removes nothing and
// says so (1618); where the lock is held and no Setup window can be found (a Setup in another
// session, or one that is ending), Setup says so.
TEST_F(SetupWindow, OneInstallationAtATime) {
    const HWND first = Start(setupExe);
    ASSERT_NE(first, nullptr);
    {
        Program other(TestProgram(L"minimal_window.exe"));
        ASSERT_NE(WaitForWindowWithFocus(other, L"minimal"), nullptr);
        Program second(setupExe);
        EXPECT_EQ(second.WaitForExit(), 1618u);
        EXPECT_EQ(GetForegroundWindow(), first) << "the first Setup is not in front";
    }
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
    PostMessageW(first, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(program->WaitForExit(), 1602u);

    const InstallationLock held;
    ASSERT_TRUE(held.taken());
    Program blocked(setupExe);
    const HWND box = WaitForWindow(blocked, L"#32770", L"Setup");
    ASSERT_NE(box, nullptr) << "Setup said nothing";
    EXPECT_EQ(MessageOf(box).first,
              Utf8(L"另一个安装或卸载程序正在运行（可能在另一个用户的会话中）。请等它结束后，"
                   L"再运行 Setup。"));
    PressKey(box, VK_RETURN);
    EXPECT_EQ(blocked.WaitForExit(), 1618u);
}

// DLLs named like system DLLs that Windows' components load late (the common controls, COM,
// input, security), planted in the install set beside both programs, are never loaded: Setup's
// paths are WhatTheUserDoes, run in windows.planted_dlls too; here the removal with its
// notice. Wine prefers its built-in DLLs, so that test runs with WINEDLLOVERRIDES loading native
// DLLs first for the planted names. A program without the hardening loads some of them, which
// shows that the plant works.
TEST_F(SetupWindow, DllsPlantedInTheInstallSetAreNeverLoaded) {
    ASSERT_FALSE(planted.empty()) << "WINEDLLOVERRIDES names no DLLs to plant: proves nothing";
    const std::wstring remover = installSet + L"\\remover.exe";
    CopyFileW((BinFolder() + L"\\remover.exe").c_str(), remover.c_str(), FALSE);
    WriteBytes(addIn, kAddIn);
    program = std::make_unique<Program>(remover);
    const HWND notice = WaitForWindowWithFocus(*program, L"提示");
    ASSERT_NE(notice, nullptr);
    PressKey(notice, VK_RETURN);
    EXPECT_EQ(program->WaitForExit(), 0u);
    EXPECT_EQ(PlantedDllsLoaded(), "") << "removal, notice";

    const std::wstring control = installSet + L"\\minimal_window.exe";
    CopyFileW(TestProgram(L"minimal_window.exe").c_str(), control.c_str(), FALSE);
    Program unhardened(control);
    EXPECT_NE(WaitForWindow(unhardened, nullptr, L"minimal"), nullptr);
    Sleep(500);
    EXPECT_NE(PlantedDllsLoaded(), "") << "the planted DLLs are not even considered";
}

}  // namespace
