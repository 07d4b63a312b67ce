// The real Setup.exe and remover.exe, started from an install set and driven as a user drives
// them: one row per way out of each.
#include <windows.h>

#include <cwchar>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "files.h"
#include "lock.h"
#include "removal.h"
#include "ui_driver.h"

namespace {

using testing::StartsWith;

constexpr char kAddIn[] = "add-in workbook";
constexpr char kShipped[] = "[CurveInformation]\r\nVer=1.5\r\n";
constexpr wchar_t kOK[] = L"确\u3000定";
constexpr wchar_t kCancel[] = L"取\u3000消";
constexpr wchar_t kCompletion[] =
    L"程序安装完毕，打开Excel后，点击工具栏中的“Qorvel”按钮即可打开Qorvel主程序！！！   ";

// A file beside this test program: the test-only programs, and the build's programs in ..\bin.
fs::path BesideTheTest(const wchar_t* name) {
    wchar_t self[MAX_PATH];
    return fs::path(std::wstring(self, GetModuleFileNameW(nullptr, self, MAX_PATH)))
        .replace_filename(name);
}

HWND Button(HWND window, const wchar_t* caption) {
    return FindWindowExW(window, nullptr, L"Button", caption);
}

std::string MessageOf(HWND box) { return Utf8(TextOf(GetDlgItem(box, 0xFFFF))); }

// A client area of `width` by `height` twips, in pixels at the screen's DPI (96 in the main prefix,
// 144 in the alt one).
std::pair<LONG, LONG> Twips(int width, int height) {
    const int dpi = GetDeviceCaps(UniqueWindowDc(nullptr).get(), LOGPIXELSY);
    return {MulDiv(width, dpi, 1440), MulDiv(height, dpi, 1440)};
}

// A lab PC with both programs in its install set: the build's, or the signed ones in the folder
// that QORVEL_TEST_BIN_DIR names (a Unix path). Where WINEDLLOVERRIDES loads native DLLs first for
// many names (windows.planted_dlls), DLLs of those names are planted beside them.
class ProgramsTest : public LabPc {
public:
    ProgramsTest() : LabPc(L"programs", kAddIn, kShipped) {
        wchar_t named[MAX_PATH];
        const fs::path bin = GetEnvironmentVariableW(L"QORVEL_TEST_BIN_DIR", named, MAX_PATH)
                                 ? fs::path(L"Z:" + fs::path(named).make_preferred().wstring())
                                 : BesideTheTest(L"..\\bin");
        for (const auto& exe : {setupExe, removerExe}) {
            fs::copy_file(bin / fs::path(exe).filename(), exe);
        }
        wchar_t overrides[4096] = {};
        GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 4096);
        std::wstringstream names(std::wstring(overrides, wcscspn(overrides, L"=")));
        for (std::wstring name; std::getline(names, name, L',');) {
            fs::copy_file(BesideTheTest(L"planted_dll.dll"), installSet + L"\\" + name + L".dll");
        }
    }

    // Starts Setup and gives its window, once it is ready for keys.
    HWND Start(const std::wstring& exe) {
        program = std::make_unique<Program>(exe);
        const HWND window = WaitForWindow(*program, nullptr, L"安装");
        EXPECT_TRUE(window && WaitForFocus(window)) << "Setup showed no window";
        return window;
    }

    // Runs the remover: its notice shows within three seconds of the start, however long Excel
    // takes to answer, captioned 提示 and owned by no window; once it shows the outcome, its button
    // has the focus, and Enter ends the program. Gives the notice's text and the exit code.
    std::pair<std::string, DWORD> Remove() {
        Program remover(removerExe);
        const HWND notice = WaitForWindow(remover, nullptr, L"提示", 3000);
        if (!notice) return {"<no window at once>", 0};
        EXPECT_EQ(GetWindow(notice, GW_OWNER), nullptr);
        EXPECT_EQ(ClientSize(notice), Twips(3420, 2160));
        EXPECT_TRUE(WaitForFocus(notice, GetDlgItem(notice, 101), 20000));
        const std::string text = Utf8(TextOf(GetDlgItem(notice, 100)));
        PressKey(notice, VK_RETURN);
        return {text, remover.WaitForExit()};
    }

    // The planted DLLs that a program loaded: each leaves "<its path>.loaded" beside itself.
    std::string PlantedDllsLoaded() const {
        std::string names;
        for (const auto& file : fs::directory_iterator(installSet)) {
            if (file.path().extension() == L".loaded")
                names += Utf8(file.path().stem().wstring()) + " ";
        }
        return names;
    }

    std::wstring setupExe = installSet + L"\\Setup.exe";
    std::wstring removerExe = installSet + L"\\remover.exe";
    std::unique_ptr<Program> program;
};

// The cursor shown now (of the window in the foreground).
HCURSOR CursorNow() {
    CURSORINFO info = {};
    info.cbSize = sizeof info;
    GetCursorInfo(&info);
    return info.hCursor;
}

// Whether the installation lock is free within half a second of `window`'s end.
bool LockFreeSoonAfter(HWND window) {
    for (int i = 0; i < 500 && IsWindow(window); ++i) Sleep(10);
    for (int i = 0; i < 25; ++i, Sleep(20)) {
        if (InstallationLock(InstallationLock::Taker::kSetup).taken()) return true;
    }
    return false;
}

struct UserRow {
    const char* name;
    std::function<void(ProgramsTest&)> arrange;
    std::function<void(ProgramsTest&, HWND window)> act;
    DWORD exitCode;                // 0: completes, 1602: cancelled, or the error reported
    const wchar_t* report = L"";   // the error report shown
    const wchar_t* exe = nullptr;  // the install set's Setup.exe when null
};

class WhatTheUserDoes : public testing::TestWithParam<UserRow>, public ProgramsTest {};

// What the user does in Setup, and what follows, within seconds: the installation completes with
// its message (owned by the window) and exit code 0, asking the host to start once; or an error
// report and its number; or the program ends as cancelled (1602), with nothing written and the
// host not asked. Where DLLs are planted beside Setup, none is loaded on any path.
TEST_P(WhatTheUserDoes, AndWhatFollows) {
    const UserRow& row = GetParam();
    const bool completes = row.exitCode == 0, cancelled = row.exitCode == 1602;
    row.arrange(*this);
    const HWND window = Start(row.exe ? row.exe : setupExe);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ClientSize(window), Twips(5700, 3900));
    row.act(*this, window);
    if (!cancelled) {
        const HWND box = WaitForWindow(*program, L"#32770", L"Setup", 20000);
        ASSERT_NE(box, nullptr) << "no message";
        EXPECT_EQ(GetWindow(box, GW_OWNER), window);
        // The report ends with the path or value involved.
        EXPECT_THAT(MessageOf(box), StartsWith(Utf8(completes ? kCompletion : row.report)));
        PressKey(box, VK_RETURN);
    }
    // The lock goes with the window, before Excel is let go (which may hang).
    EXPECT_TRUE(LockFreeSoonAfter(window));
    EXPECT_EQ(program->WaitForExit(), row.exitCode);
    if (completes) {
        EXPECT_EQ(ReadBytes(addIn), kAddIn);
        const std::string set = row.exe ? "R:\\" : Cp936(installSet);
        EXPECT_THAT(LinesOf(ReadBytes(hostProfile)),
                    testing::IsSupersetOf({"FilePath=" + set + "\\Qorvel.xltm",
                                           "DtPath=" + set + "\\Data\\Qorvel.mdb"}));
        EXPECT_THAT(TreeOf(excel), testing::ElementsAre(testing::Key("QorvelProfile.ini"),
                                                        testing::Key("XLSTART"),
                                                        testing::Key("XLSTART\\Qorv.xla")));
        EXPECT_THAT(HostCalls(), testing::Contains("CreateInstance").Times(1));
    } else {
        EXPECT_THAT(TreeOf(excel), testing::ElementsAre(testing::Key("XLSTART")));
        if (cancelled && !HostOutOfProcess()) {
            EXPECT_THAT(HostCalls(), testing::IsEmpty());
        }
    }
    EXPECT_EQ(PlantedDllsLoaded(), "");
}

const auto kOk = [](ProgramsTest&, HWND w) { Click(Button(w, kOK)); };
const auto kEnter = [](ProgramsTest&, HWND w) { PressKey(w, VK_RETURN); };
const auto kClose = [](ProgramsTest&, HWND w) { PostMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0); };
const auto kNothing = [](ProgramsTest&) {};

// Esc does nothing: the Enter after it presses OK.
const UserRow kPlainInstallation = {"Esc, then Enter", kNothing,
                                    [](ProgramsTest&, HWND w) {
                                        PressKey(w, VK_ESCAPE);
                                        PressKey(w, VK_RETURN);
                                    },
                                    0};

const UserRow kUserRows[] = {
    kPlainInstallation,
    // The test prefix maps R: to a folder of the build.
    {"install set at a drive root",
     [](ProgramsTest& t) {
         CopyFileW(t.setupExe.c_str(), L"R:\\Setup.exe", FALSE);
         WriteBytes(L"R:\\setup.xla", kAddIn);
         WriteBytes(L"R:\\QorvelProfile.ini", kShipped);
     },
     kOk, 0, L"", L"R:\\Setup.exe"},
    {"no setup.xla", [](ProgramsTest& t) { fs::remove(t.addInSource); }, kEnter, 53,
     L"运行时错误 '53'："},
    // The mouse pressed on Cancel and released off it gives Cancel the focus without making it
    // the default button: Enter then reaches the window as IDOK, and presses Cancel.
    {"Cancel pressed and released off it, Enter", kNothing,
     [](ProgramsTest&, HWND w) {
         const HWND cancel = Button(w, kCancel);
         PostMessageW(cancel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
         PostMessageW(cancel, WM_LBUTTONUP, 0, MAKELPARAM(-50, -50));
         ASSERT_TRUE(WaitForFocus(w, cancel));
         PressKey(w, VK_RETURN);
     },
     1602},
    {"close command", kNothing, kClose, 1602},
    // Setup still ends within seconds, and holds no lock after that.
    {"host hangs when let go", Answering(L"HangOnRelease", L"1"), kEnter, 0},
};
INSTANTIATE_TEST_SUITE_P(Rows, WhatTheUserDoes, testing::ValuesIn(kUserRows), kRowName);
// At 144 dpi.
INSTANTIATE_TEST_SUITE_P(Alt, WhatTheUserDoes, testing::Values(kPlainInstallation), kRowName);

// Against the stand-in host as a local server, in a process of its own, as Excel answers.
const UserRow kLocalServerRows[] = {
    // Meanwhile the window shows the wait cursor and keeps its buttons disabled, and a second
    // click does nothing: one installation, one message.
    {"host slow to start, OK clicked twice", Answering(L"StartDelay", L"3"),
     [](ProgramsTest& t, HWND w) {
         const HCURSOR idle = CursorNow();
         // Two clicks at once, the second as a tool that drives windows sends it.
         const HWND ok = Button(w, kOK);
         Click(ok);
         PostMessageW(w, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(ok), BN_CLICKED),
                      reinterpret_cast<LPARAM>(ok));
         Sleep(1500);  // well into the host's start
         // The wait cursor, also after the mouse moves over the window.
         const HCURSOR working = CursorNow();
         SendMessageW(w, WM_SETCURSOR, reinterpret_cast<WPARAM>(w),
                      MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
         EXPECT_NE(working, idle);
         EXPECT_EQ(CursorNow(), working);
         EXPECT_EQ(FindTopWindow(t.program->id(), L"#32770", nullptr), nullptr);
         EXPECT_FALSE(IsWindowEnabled(Button(w, kOK)) || IsWindowEnabled(Button(w, kCancel)));
     },
     0},
    // The close command stops the wait, and nothing has changed.
    {"host slow to start, the close command", Answering(L"StartDelay", L"5"),
     [](ProgramsTest& t, HWND w) {
         Click(Button(w, kOK));
         Sleep(1500);
         kClose(t, w);
     },
     1602},
    // A host that hangs is not waited for once the user closes the window.
    {"host hangs, the close command", Answering(L"HangOnRead", L"Version"),
     [](ProgramsTest& t, HWND w) {
         Click(Button(w, kOK));
         Sleep(2000);
         kClose(t, w);
     },
     1602},
    {"host ends during Version", Answering(L"ExitOnRead", L"Version"), kEnter, 462,
     L"运行时错误 '462'：\n\nMicrosoft Excel 意外结束"},
};
INSTANTIATE_TEST_SUITE_P(LocalServer, WhatTheUserDoes, testing::ValuesIn(kLocalServerRows), kRowName);

struct RemovalRow {
    const char* name;
    bool held;  // the add-in held open by another program
    removal::Outcome outcome;
};

class TheRemover : public testing::TestWithParam<RemovalRow>, public ProgramsTest {};

// The remover, on each way out: its notice says what the removal came to, and its exit code
// tells a script.
TEST_P(TheRemover, SaysWhatIsLeft) {
    WriteBytes(addIn, kAddIn);
    std::optional<LockedFile> held;
    if (GetParam().held) held.emplace(addIn);
    EXPECT_EQ(Remove(), std::pair(Utf8(removal::NoticeText(GetParam().outcome)),
                                  static_cast<DWORD>(removal::ExitCodeOf(GetParam().outcome))));
    held.reset();
    EXPECT_EQ(fs::exists(addIn), GetParam().held);
    EXPECT_EQ(PlantedDllsLoaded(), "");
}

const RemovalRow kRemovalRows[] = {
    {"removed", false, {}},
    {"add-in held open", true, {.addIn = removal::Outcome::AddIn::kInUse}},
};
INSTANTIATE_TEST_SUITE_P(Rows, TheRemover, testing::ValuesIn(kRemovalRows), kRowName);

struct CommandRow {
    const char* name;
    const wchar_t* exe;        // of the install set; run in the lab PC's folder
    const wchar_t* arguments;  // the log, where asked for, is run.log there
    std::function<void(class Unattended&)> arrange;
    DWORD exitCode;
    bool usage = false;                    // the usage is shown, and nothing else is done
    std::vector<const char*> logged = {};  // what the log says, among the rest
};

class Unattended : public testing::TestWithParam<CommandRow>, public ProgramsTest {
public:
    std::optional<InstallationLock> lock;  // held by another installation
};

// An administrator's command line: nothing is shown where it says /quiet, the usage where it asks
// for it or cannot be run; the add-in is installed or removed as with the window, and the exit
// code and the log say what happened.
TEST_P(Unattended, DoesWhatTheCommandLineSays) {
    const CommandRow& row = GetParam();
    const bool setup = row.exe == std::wstring(L"Setup.exe");
    WriteBytes(addIn, "an earlier add-in");
    row.arrange(*this);
    Program program(installSet + L"\\" + row.exe, row.arguments, root.c_str());
    if (row.usage) {
        const HWND box = WaitForWindow(program, L"#32770", nullptr);
        ASSERT_NE(box, nullptr) << "no usage";
        EXPECT_THAT(MessageOf(box), StartsWith(Utf8(L"用法：") + Utf8(row.exe)));
        PressKey(box, VK_RETURN);
    } else {
        EXPECT_EQ(WaitForWindow(program, nullptr, nullptr), nullptr) << "a window was shown";
    }
    EXPECT_EQ(program.WaitForExit(), row.exitCode);
    const bool done = row.exitCode == 0 || row.exitCode == 1622;
    EXPECT_EQ(ReadBytes(addIn), !done || row.usage ? "an earlier add-in" : setup ? kAddIn : "<missing>");
    const auto log = LinesOf(ReadBytes(root / L"run.log"));
    for (const char* said : row.logged) EXPECT_THAT(log, testing::Contains(testing::HasSubstr(said)));
}

const CommandRow kCommandRows[] = {
    {"Setup, quiet, with a log", L"Setup.exe", L"/quiet /log run.log", [](Unattended&) {}, 0,
     false, {"Excel StartupPath：", "放入：", "XLSTART\\Qorv.xla", "安装完毕", "退出代码：0"}},
    {"Setup, quiet, another installation runs", L"Setup.exe", L"-QUIET /LOG run.log",
     [](Unattended& t) { t.lock.emplace(InstallationLock::Taker::kSetup); }, 1618, false,
     {"另一个安装或卸载程序正在运行", "退出代码：1618"}},
    {"Setup, quiet, Excel does not start", L"Setup.exe", L"/quiet /log run.log",
     Answering(L"CreateFails", L"80080005"), 429, false, {"未能启动", "退出代码：429"}},
    {"Setup, quiet, no setup.xla", L"Setup.exe", L"/quiet",
     [](Unattended& t) { fs::remove(t.addInSource); }, 53},
    // The log cannot be written: the installation is done all the same, and the code says so.
    {"Setup, quiet, the log cannot be written", L"Setup.exe", L"/quiet /log C:\\无\\run.log",
     [](Unattended&) {}, 1622},
    {"Setup, the usage", L"Setup.exe", L"/?", [](Unattended&) {}, 0, true},
    {"Setup, an unknown switch", L"Setup.exe", L"/silent", [](Unattended&) {}, 1639, true},
    {"Setup, quiet, an unknown switch", L"Setup.exe", L"/silent /quiet", [](Unattended&) {}, 1639},
    {"remover, quiet, with a log", L"remover.exe", L"/quiet /log run.log", [](Unattended&) {}, 0,
     false, {"设置已删除", "删除：", "XLSTART\\Qorv.xla", "退出代码：0"}},
    {"remover, the usage", L"remover.exe", L"-?", [](Unattended&) {}, 0, true},
};
INSTANTIATE_TEST_SUITE_P(Rows, Unattended, testing::ValuesIn(kCommandRows), kRowName);

class OneAtATime : public testing::Test, public ProgramsTest {};

// A second Setup (a double-click too many, two administrators) ends (1618); a remover meanwhile
// removes nothing and says so (1618); where the lock is held and no Setup window can be found (a
// Setup in another session, or one that is ending), Setup says so.
TEST_F(OneAtATime, SetupAndRemover) {
    const HWND first = Start(setupExe);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Program(setupExe).WaitForExit(), 1618u);
    WriteBytes(addIn, kAddIn);
    EXPECT_EQ(Remove(), std::pair(Utf8(removal::NoticeText({.anotherRuns = true})), 1618ul));
    EXPECT_EQ(ReadBytes(addIn), kAddIn);
    PostMessageW(first, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(program->WaitForExit(), 1602u);

    const InstallationLock held(InstallationLock::Taker::kSetup);
    ASSERT_TRUE(held.taken());
    Program blocked(setupExe);
    const HWND box = WaitForWindow(blocked, L"#32770", L"Setup");
    ASSERT_NE(box, nullptr) << "Setup said nothing";
    EXPECT_THAT(MessageOf(box), StartsWith(Utf8(L"另一个安装或卸载程序正在运行")));
    PressKey(box, VK_RETURN);
    EXPECT_EQ(blocked.WaitForExit(), 1618u);
}

// DLLs named like system DLLs that Windows' components load late (the common controls, COM,
// input, security), planted in the install set, are never loaded by Setup or the remover: their
// rows run in windows.planted_dlls, where WINEDLLOVERRIDES loads native DLLs first for the
// planted names (Wine prefers its built-in ones). A program without the hardening loads some of
// them, which shows that the plant works.
TEST_F(OneAtATime, PlantedDllsLoadIntoAProgramWithoutHardening) {
    const std::wstring control = installSet + L"\\minimal_window.exe";
    fs::copy_file(BesideTheTest(L"minimal_window.exe"), control);
    Program unhardened(control);
    EXPECT_NE(WaitForWindow(unhardened, nullptr, L"minimal"), nullptr);
    Sleep(500);
    EXPECT_NE(PlantedDllsLoaded(), "");
}

}  // namespace
