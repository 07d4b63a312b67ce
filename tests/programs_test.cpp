// The real Setup.exe and remover.exe, started from an install set as a user or an administrator
// starts them, and driven as a user drives them: one row per way out.
#include <windows.h>
#include <sddl.h>

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
#include "ui_driver.h"

namespace {

using namespace testing;

constexpr char kAddIn[] = "add-in workbook";
constexpr char kEarlierAddIn[] = "an earlier add-in";
constexpr char kShipped[] = "[CurveInformation]\r\nVer=1.5\r\n";
constexpr wchar_t kOK[] = L"确\u3000定";
constexpr wchar_t kCancel[] = L"取\u3000消";

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

// Whether the installation lock is free within half a second of `window`'s end.
bool LockFreeSoonAfter(HWND window) {
    for (int i = 0; i < 500 && IsWindow(window); ++i) Sleep(10);
    for (int i = 0; i < 25; ++i, Sleep(20)) {
        if (InstallationLock(InstallationLock::Taker::kSetup).taken()) return true;
    }
    return false;
}

// A lab PC with both programs in its install set and an earlier add-in installed: the build's
// programs, or the signed ones in the folder that QORVEL_TEST_BIN_DIR names (a Unix path). Where
// WINEDLLOVERRIDES loads native DLLs first for many names (the windows entry), DLLs of those
// names are planted beside them.
class ProgramsTest : public LabPc {
public:
    ProgramsTest() : LabPc(L"programs", kAddIn, kShipped) {
        wchar_t named[MAX_PATH];
        const fs::path bin = GetEnvironmentVariableW(L"QORVEL_TEST_BIN_DIR", named, MAX_PATH)
                                 ? fs::path(L"Z:" + fs::path(named).make_preferred().wstring())
                                 : BesideTheTest(L"..\\bin");
        for (const auto& exe : {setupExe, removerExe}) {
            fs::copy_file(bin / fs::path(exe).filename(), exe,
                          fs::copy_options::overwrite_existing);
        }
        wchar_t overrides[4096] = {};
        GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 4096);
        std::wstringstream names(std::wstring(overrides, wcscspn(overrides, L"=")));
        for (std::wstring name; std::getline(names, name, L',');) {
            fs::copy_file(BesideTheTest(L"planted_dll.dll"), installSet + L"\\" + name + L".dll");
        }
        WriteBytes(addIn, kEarlierAddIn);
    }

    // Starts a program with its window, and gives the window: Setup's once it is ready for keys;
    // the remover's notice within three seconds of its start, however long Excel takes.
    HWND Start(const fs::path& exe, const std::wstring& arguments = L"") {
        program = std::make_unique<Program>(exe, arguments, root.c_str());
        if (exe.stem() != L"Setup") return WaitForWindow(*program, nullptr, L"提示", 3000);
        const HWND window = WaitForWindow(*program, nullptr, L"安装");
        EXPECT_TRUE(window && WaitForFocus(window)) << "Setup showed no window";
        return window;
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
    std::optional<InstallationLock> lock;  // held by another installation
    std::optional<LockedFile> held;        // the add-in, held open by another program
    UniqueHandle squatter;                 // the lock's name, held by another account
};

// A way out of a program, started with `arguments` in the lab PC's folder (where run.log is the
// log that a row asks for).
// What follows for the add-in: installed (with the host profile's keys), removed, or nothing
// changed in Excel's folders.
enum Follows { kInstalled, kRemoved, kUnchanged };

struct WayOut {
    const char* name;
    const wchar_t* arguments;
    std::function<void(ProgramsTest&)> arrange;
    // What the user does in Setup's window (or nothing, in the remover's); null: no window.
    std::function<void(ProgramsTest&, HWND window)> act;
    Follows follows;
    DWORD exitCode;
    const wchar_t* says = L"";  // how the message at the end starts; empty: none is shown
    std::vector<const char*> logged = {};  // what the log says, among the rest
    const wchar_t* exe = L"Setup.exe";     // of the install set, or a complete path
    int hostStarts = 1;                    // how often Excel is started by an installation
};

class WhatFollows : public testing::TestWithParam<WayOut>, public ProgramsTest {};

// What the user or the administrator does, and what follows, within seconds: the installation
// completes, asking the host to start once, or the removal is done; or nothing changes. The
// message at the end (owned by Setup's window) says how it ended, and the exit code tells a
// script; where /quiet is given, nothing at all is shown. The lock goes with the window, before
// Excel is let go (which may hang). Where DLLs are planted beside the programs, none is loaded.
TEST_P(WhatFollows, AndTheExitCodeSaysHowItEnded) {
    const WayOut& row = GetParam();
    row.arrange(*this);
    const fs::path exe = fs::path(row.exe).is_absolute() ? row.exe : installSet + L"\\" + row.exe;
    const bool setup = exe.stem() == L"Setup";
    HWND window = nullptr;
    if (row.act) {
        window = Start(exe, row.arguments);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(ClientSize(window), setup ? Twips(5700, 3900) : Twips(3420, 2160));
        row.act(*this, window);
    } else {
        program = std::make_unique<Program>(exe, row.arguments, root.c_str());
    }
    if (*row.says && !setup && window) {
        // The remover's notice, owned by no window, says it; once it does, its button has the
        // focus, and Enter ends the program.
        EXPECT_EQ(GetWindow(window, GW_OWNER), nullptr);
        EXPECT_TRUE(WaitForFocus(window, GetDlgItem(window, 101), 20000));
        EXPECT_THAT(Utf8(TextOf(GetDlgItem(window, 100))), StartsWith(Utf8(row.says)));
        PressKey(window, VK_RETURN);
    } else if (*row.says) {
        const HWND box = WaitForWindow(*program, L"#32770", nullptr, 20000);
        ASSERT_NE(box, nullptr) << "no message";
        EXPECT_EQ(GetWindow(box, GW_OWNER), window);
        EXPECT_THAT(MessageOf(box), StartsWith(Utf8(row.says)));
        PressKey(box, VK_RETURN);
    } else if (!row.act) {
        EXPECT_EQ(WaitForWindow(*program, nullptr, nullptr), nullptr) << "a window was shown";
    }
    EXPECT_TRUE(!window || LockFreeSoonAfter(window));
    EXPECT_EQ(program->WaitForExit(), row.exitCode);
    held.reset();
    if (row.follows == kInstalled) {
        const std::string set = Cp936(exe.parent_path().wstring());  // "R:\" at a drive's root
        EXPECT_THAT(LinesOf(ReadBytes(hostProfile)),
                    testing::IsSupersetOf({"FilePath=" + set + "\\Qorvel.xltm",
                                           "DtPath=" + set + "\\Data\\Qorvel.mdb"}));
        EXPECT_THAT(HostCalls(), testing::Contains("CreateInstance").Times(row.hostStarts));
    } else if (setup) {
        EXPECT_THAT(TreeOf(excel), testing::ElementsAre(Key("XLSTART"), Key("XLSTART\\Qorv.xla")));
    }
    EXPECT_EQ(ReadBytes(addIn), row.follows == kInstalled ? kAddIn
                                : row.follows == kRemoved ? "<missing>"
                                                          : kEarlierAddIn);
    const std::string log = ReadBytes(root / L"run.log");
    // UTF-8 with its mark, which Notepad on Windows 7 needs to show the Chinese texts.
    if (!row.logged.empty()) {
        EXPECT_THAT(log, StartsWith("\xEF\xBB\xBF"));
    }
    for (const char* said : row.logged) EXPECT_THAT(LinesOf(log), Contains(HasSubstr(said)));
    EXPECT_EQ(PlantedDllsLoaded(), "");
}

const auto kNothing = [](ProgramsTest&) {};
const auto kRead = [](ProgramsTest&, HWND) {};  // the remover's notice
const auto kEnter = [](ProgramsTest&, HWND w) { PressKey(w, VK_RETURN); };
constexpr wchar_t kCompleted[] =
    L"程序安装完毕，打开Excel后，点击工具栏中的“Qorvel”按钮即可打开"
    L"Qorvel主程序！！！   ";

// Esc does nothing: the Enter after it presses OK.
void EscThenEnter(ProgramsTest&, HWND w) {
    PressKey(w, VK_ESCAPE);
    PressKey(w, VK_RETURN);
}

// The mouse pressed on Cancel and released off it gives Cancel the focus without making it the
// default button: Enter then reaches the window as IDOK, and presses Cancel.
void CancelPressedOffItThenEnter(ProgramsTest& t, HWND w) {
    const HWND cancel = Button(w, kCancel);
    PostMessageW(cancel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    PostMessageW(cancel, WM_LBUTTONUP, 0, MAKELPARAM(-50, -50));
    ASSERT_TRUE(WaitForFocus(w, cancel));
    PressKey(w, VK_RETURN);
    t.program->WaitForExit();
    EXPECT_THAT(t.HostCalls(), IsEmpty()) << "the host was asked";
}

// The test prefix maps R: to a folder of the build.
void InstallSetAtADriveRoot(ProgramsTest& t) {
    CopyFileW(t.setupExe.c_str(), L"R:\\Setup.exe", FALSE);
    WriteBytes(L"R:\\setup.xla", kAddIn);
    WriteBytes(L"R:\\QorvelProfile.ini", kShipped);
}

void AnotherInstallationRuns(ProgramsTest& t) { t.lock.emplace(InstallationLock::Taker::kSetup); }

// A program of another account holds the lock's name, with an access list that does not admit
// this one: two installations must never run at once.
void NameHeldByAnotherAccount(ProgramsTest& t) {
    SECURITY_ATTRIBUTES noAccess = {sizeof noAccess, nullptr, FALSE};
    ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:", SDDL_REVISION_1,
                                                         &noAccess.lpSecurityDescriptor, nullptr);
    t.squatter.reset(CreateMutexExW(&noAccess, L"Global\\Morvane.Qorvel.Installation", 0, 0));
    LocalFree(noAccess.lpSecurityDescriptor);
}
void AddInHeldOpen(ProgramsTest& t) { t.held.emplace(t.addIn); }

// The log's name a hard link to the install set's add-in, which must stay as it is (it is copied
// into the start-up folder).
void LogHardLinkedToTheAddIn(ProgramsTest& t) {
    CreateHardLinkW((t.root / L"run.log").c_str(), t.addInSource.c_str(), nullptr);
}
// A symbolic link as Wine has them (its CreateSymbolicLinkW makes none), made by Unix's ln beside
// the lab PC's folder, as Wine cannot delete one: `name`, to `target` there.
auto UnixLink(const wchar_t* target, const wchar_t* name) {
    return [=](ProgramsTest& t) {
        Program(L"Z:\\bin\\ln", std::wstring(L"-sfn ") + target + L" ../" + name, t.root.c_str());
        // ln runs on its own, as Wine does not wait for a Unix program.
        for (int i = 0; i < 250 && !fs::exists(t.root / L".." / name); ++i) Sleep(20);
        ASSERT_TRUE(fs::exists(t.root / L".." / name)) << "no link";
    };
}
void OlderLog(ProgramsTest& t) { WriteBytes(t.root / L"run.log", "an older log\r\n"); }

const WayOut kAnotherRemoval = {"remover, another installation runs",
                                L"",
                                AnotherInstallationRuns,
                                kRead,
                                kUnchanged,
                                1618,
                                L"另一个安装或卸载程序",
                                {},
                                L"remover.exe"};

const WayOut kPlainInstallation = {"Esc, then Enter", L"/log run.log",
                                   kNothing,          EscThenEnter,
                                   kInstalled,        0,
                                   kCompleted,        {"Excel Version：14.0", "退出代码：0"}};

// clang-format off
const WayOut kWaysOut[] = {
    kPlainInstallation,
    {"install set at a drive root", L"", InstallSetAtADriveRoot, kEnter, kInstalled, 0, kCompleted, {}, L"R:\\Setup.exe"},
    {"Cancel pressed and released off it, Enter", L"", kNothing, CancelPressedOffItThenEnter, kUnchanged, 1602},
    // Setup still ends within seconds, and holds no lock after its window has gone.
    {"host hangs when let go", L"", Answering(L"HangOnRelease", L"1"), kEnter, kInstalled, 0, kCompleted},
    // An administrator's command lines: /quiet installs as OK would, with nothing shown.
    {"quiet, with a log", L"/quiet /log run.log", kNothing, nullptr, kInstalled, 0, L"",
     {"Excel StartupPath：", "放入：", "XLSTART\\Qorv.xla", "安装完毕", "退出代码：0"}},
    {"quiet, another installation runs", L"-QUIET /LOG run.log", AnotherInstallationRuns, nullptr, kUnchanged,
     1618, L"", {"另一个安装或卸载程序正在运行", "退出代码：1618"}},
    {"another installation runs", L"", AnotherInstallationRuns, nullptr, kUnchanged, 1618, L"另一个安装或卸载程序"},
    {"quiet, another account holds the lock's name", L"/quiet", NameHeldByAnotherAccount, nullptr, kUnchanged, 1618},
    {"quiet, Excel does not start", L"/quiet /log run.log", Answering(L"CreateFails", L"80080005"),
     nullptr, kUnchanged, 429, L"", {"未能启动", "退出代码：429"}},
    // The log cannot be written: the installation is done all the same, and the code says so.
    {"quiet, the log cannot be written", L"/quiet /log C:\\无\\run.log", kNothing, nullptr, kInstalled, 1622},
    // A link at the log's name or on its way is never written through, nor deleted: no log.
    {"quiet, the log's name a hard link", L"/quiet /log run.log", LogHardLinkedToTheAddIn, nullptr, kInstalled, 1622},
    {"quiet, the log's name a symbolic link", L"/quiet /log ..\\linked.log", UnixLink(L"programs/安装包/setup.xla", L"linked.log"), nullptr, kInstalled, 1622},
    {"quiet, the log in a linked folder", L"/quiet /log ..\\linked\\run.log", UnixLink(L"programs", L"linked"), nullptr, kInstalled, 1622},
    // Nothing that Setup places or reads is the log, and no log is left where Excel opens files.
    {"quiet, log at the host profile", L"/quiet /log office14\\qorvelprofile.INI", kNothing, nullptr, kInstalled, 1622},
    {"quiet, log in the start-up folder", L"/quiet /log Office14\\XLSTART\\setup.log", kNothing, nullptr, kInstalled, 1622},
    {"the usage", L"/?", kNothing, nullptr, kUnchanged, 0, L"用法：Setup.exe"},
    {"an unknown switch", L"/silent", kNothing, nullptr, kUnchanged, 1639, L"用法：Setup.exe"},
    {"quiet, an unknown switch", L"/silent /quiet /log run.log", kNothing, nullptr, kUnchanged, 1639, L"",
     {"命令行无效：无法识别的参数：/silent", "用法：Setup.exe", "退出代码：1639"}},
    // An older log is replaced by a new one, never written into.
    {"remover, quiet, with a log", L"/quiet /log run.log", OlderLog, nullptr, kRemoved, 0, L"",
     {"\xEF\xBB\xBFMorvane remover", "设置已删除", "删除：", "XLSTART\\Qorv.xla", "退出代码：0"}, L"remover.exe"},
    {"remover, quiet, the add-in held open", L"/quiet", AddInHeldOpen, nullptr, kUnchanged, 1603, L"", {}, L"remover.exe"},
    // For every account, as a deployment tool runs them: Excel is never started.
    {"quiet, for every account", L"/allusers /quiet /log run.log",
     Registering(L"excel14.exe", L"\"{}\" /automation"), nullptr, kInstalled, 0, L"", {"退出代码：0"}, L"Setup.exe", 0},
    {"remover, quiet, for every account", L"/ALLUSERS /quiet", Registering(L"excel16.exe", L"{}"),
     nullptr, kRemoved, 0, L"", {}, L"remover.exe"},
    // Each log line is one line of printable text.
    {"remover, Excel's answer with control characters", L"/quiet /log run.log", Answering(L"StartupPath", L"\x1B\x0B\x7F\x85\u2028\u2029"),
     nullptr, kUnchanged, 1603, L"", {"StartupPath：\\x1B\\x0B\\x7F\\x85\\u2028\\u2029"}, L"remover.exe"},
    kAnotherRemoval,
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Rows, WhatFollows, testing::ValuesIn(kWaysOut), kRowName);
// At 144 dpi.
INSTANTIATE_TEST_SUITE_P(Alt, WhatFollows, testing::Values(kPlainInstallation, kAnotherRemoval),
                         kRowName);

// Meanwhile the window shows the wait cursor and keeps its buttons disabled, and a second click
// does nothing: one installation, one message.
void OkClickedTwiceWhileTheHostStarts(ProgramsTest& t, HWND w) {
    CURSORINFO cursor = {};  // of the window in the foreground
    const auto CursorNow = [&] {
        cursor.cbSize = sizeof cursor;
        return GetCursorInfo(&cursor) ? cursor.hCursor : nullptr;
    };
    const HCURSOR idle = CursorNow();
    // Two clicks at once, the second as a tool that drives windows sends it.
    const HWND ok = Button(w, kOK);
    Click(ok);
    PostMessageW(w, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(ok), BN_CLICKED),
                 reinterpret_cast<LPARAM>(ok));
    Sleep(1500);  // well into the host's start
    // The wait cursor, also after the mouse moves over the window.
    const HCURSOR working = CursorNow();
    SendMessageW(w, WM_SETCURSOR, reinterpret_cast<WPARAM>(w), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_NE(working, idle);
    EXPECT_EQ(CursorNow(), working);
    EXPECT_EQ(FindTopWindow(t.program->id(), L"#32770", nullptr), nullptr);
    EXPECT_FALSE(IsWindowEnabled(Button(w, kOK)) || IsWindowEnabled(Button(w, kCancel)));
}

// The close command stops the wait for a host that hangs, and nothing has changed.
void CloseWhileTheHostHangs(ProgramsTest&, HWND w) {
    Click(Button(w, kOK));
    Sleep(2000);
    PostMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0);
}

// Against the stand-in host as a local server, in a process of its own, as Excel answers.
// clang-format off
const WayOut kLocalServerWaysOut[] = {
    {"host slow to start, OK clicked twice", L"", Answering(L"StartDelay", L"3"),
     OkClickedTwiceWhileTheHostStarts, kInstalled, 0, kCompleted},
    {"host hangs, the close command", L"", Answering(L"HangOnRead", L"Version"),
     CloseWhileTheHostHangs, kUnchanged, 1602},
    {"host ends during Version", L"", Answering(L"ExitOnRead", L"Version"), kEnter, kUnchanged, 462,
     L"运行时错误 '462'：\n\nMicrosoft Excel 意外结束"},
    {"remover, Excel slow to start", L"", Answering(L"StartDelay", L"6"), kRead, kRemoved, 0, L"Morvane", {},
     L"remover.exe"},
    // Closed while Excel is asked, the remover changes nothing.
    {"remover, the close command while Excel hangs", L"/log run.log",
     Answering(L"HangOnRead", L"StartupPath"), CloseWhileTheHostHangs, kUnchanged, 1602, L"",
     {"取消", "退出代码：1602"}, L"remover.exe"},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(LocalServer, WhatFollows, testing::ValuesIn(kLocalServerWaysOut),
                         kRowName);

class OneAtATime : public testing::Test, public ProgramsTest {};

// A second Setup (a double-click too many, two administrators) brings the first one's window to
// the front and ends (1618).
TEST_F(OneAtATime, ASecondSetup) {
    const HWND first = Start(setupExe);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Program(setupExe).WaitForExit(), 1618u);
    PostMessageW(first, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(program->WaitForExit(), 1602u);
}

// Apps & features lists an installation for the account, and removes it through the remover: Wine's
// own Add/Remove Programs reads the same keys as Windows'.
TEST_F(OneAtATime, AppsAndFeaturesRemovesTheAddIn) {
    ASSERT_EQ(Program(setupExe, L"/quiet").WaitForExit(), 0u);
    EXPECT_EQ(EntryValue(HKEY_CURRENT_USER, L"QuietUninstallString"),
              L"\"" + removerExe + L"\" /quiet");
    Program uninstaller(L"C:\\windows\\system32\\uninstaller.exe", L"--remove Morvane.Qorvel");
    HWND notice = nullptr;
    for (int i = 0; i < 1000 && !notice; ++i, Sleep(10))
        notice = FindTopWindow(0, nullptr, L"提示");
    ASSERT_TRUE(notice && WaitForFocus(notice, GetDlgItem(notice, 101), 20000));
    PressKey(notice, VK_RETURN);
    EXPECT_EQ(uninstaller.WaitForExit(), 0u);
    EXPECT_EQ(ReadBytes(addIn), "<missing>");
    EXPECT_EQ(EntryValue(HKEY_CURRENT_USER, L"UninstallString"), L"<missing>");
}

// DLLs named like system DLLs that Windows' components load late (the common controls, COM,
// input, security), planted in the install set, are never loaded by Setup or the remover: their
// rows run where WINEDLLOVERRIDES loads native DLLs first for the planted names (Wine prefers its
// built-in ones). A program without the hardening loads some of them, which shows that the plant
// works.
TEST_F(OneAtATime, PlantedDllsLoadIntoAProgramWithoutHardening) {
    const std::wstring control = installSet + L"\\minimal_window.exe";
    fs::copy_file(BesideTheTest(L"minimal_window.exe"), control);
    Program unhardened(control);
    EXPECT_NE(WaitForWindow(unhardened, nullptr, L"minimal"), nullptr);
    Sleep(500);
    EXPECT_NE(PlantedDllsLoaded(), "");
}

}  // namespace
