// The real Setup.exe and remover.exe, started from an install set and driven as a user drives
// them: one row per way out of each.
#include <windows.h>

#include <cwchar>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "files.h"
#include "lock.h"
#include "ui_driver.h"

namespace {

using testing::StartsWith;

constexpr char kAddIn[] = "add-in workbook";
constexpr char kShipped[] = "[CurveInformation]\r\nVer=1.5\r\n";
constexpr wchar_t kOK[] = L"确\u3000定";
constexpr wchar_t kCancel[] = L"取\u3000消";
constexpr wchar_t kCompletion[] =
    L"程序安装完毕，打开Excel后，点击工具栏中的“Qorvel”按钮即可打开Qorvel主程序！！！   ";
constexpr wchar_t kRemoved[] = L"Morvane\r\n\r\n已从你的系统中移除!";

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

struct UserRow {
    const char* name;
    std::function<void(ProgramsTest&)> arrange;
    std::function<void(ProgramsTest&, HWND window)> act;
    DWORD exitCode;                // 0: completes, 1602: cancelled, or the error reported
    const wchar_t* report = L"";   // the error report shown
    bool outOfProcess = false;     // the stand-in host must run in a process of its own
    const wchar_t* exe = nullptr;  // the install set's Setup.exe when null
};

class WhatTheUserDoes : public testing::TestWithParam<UserRow>, public ProgramsTest {};

// What the user does in Setup, and what follows, within seconds: the installation completes with
// its message (owned by the window) and exit code 0, asking the host to start once; or an error
// report and its number; or the program ends as cancelled (1602), with nothing written and the
// host not asked. Where DLLs are planted beside Setup, none is loaded on any path.
TEST_P(WhatTheUserDoes, AndWhatFollows) {
    const UserRow& row = GetParam();
    if (row.outOfProcess && !HostOutOfProcess()) GTEST_SKIP() << "needs windows.local_server";
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
    EXPECT_EQ(program->WaitForExit(), row.exitCode);
    if (completes) {
        EXPECT_EQ(ReadBytes(addIn), kAddIn);
        const std::string set = row.exe ? "R:\\" : Cp936(installSet);
        EXPECT_THAT(LinesOf(ReadBytes(hostProfile)),
                    testing::IsSupersetOf({"FilePath=" + set + "\\Qorvel.xltm",
                                           "DtPath=" + set + "\\Data\\Qorvel.mdb"}));
        EXPECT_THAT(TreeOf(excel), testing::ElementsAre(testing::Key("QorvelProfile.ini")));
        EXPECT_THAT(HostCalls(), testing::Contains("Invoke Application 1033 2").Times(1));
    } else {
        EXPECT_EQ(TreeOf(excel), TreeOf(startup)) << "both empty";
        if (cancelled && !row.outOfProcess) {
            EXPECT_THAT(HostCalls(), testing::IsEmpty());
        }
    }
    EXPECT_EQ(PlantedDllsLoaded(), "");
}

const auto kOk = [](ProgramsTest&, HWND w) { Click(Button(w, kOK)); };
const auto kEnter = [](ProgramsTest&, HWND w) { PressKey(w, VK_RETURN); };
const auto kClose = [](ProgramsTest&, HWND w) { PostMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0); };
const auto kNothing = [](ProgramsTest&) {};

const UserRow kUserRows[] = {
    // Esc does nothing: the Enter after it presses OK.
    {"Esc, then Enter", kNothing,
     [](ProgramsTest&, HWND w) {
         PressKey(w, VK_ESCAPE);
         PressKey(w, VK_RETURN);
     },
     0},
    // The test prefix maps R: to a folder of the build.
    {"install set at a drive root",
     [](ProgramsTest& t) {
         CopyFileW(t.setupExe.c_str(), L"R:\\Setup.exe", FALSE);
         WriteBytes(L"R:\\setup.xla", kAddIn);
         WriteBytes(L"R:\\QorvelProfile.ini", kShipped);
     },
     kOk, 0, L"", false, L"R:\\Setup.exe"},
    {"no setup.xla", [](ProgramsTest& t) { fs::remove(t.addInSource); }, kEnter, 53,
     L"运行时错误 '53'：\n\n找不到要复制的文件：\n"},
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
    // Meanwhile the window keeps its buttons disabled, and a second click does nothing; the close
    // command stops the wait, and nothing has changed.
    {"host slow to start, OK clicked twice", Answering(L"StartDelay", L"5"),
     [](ProgramsTest& t, HWND w) {
         Click(Button(w, kOK));
         Click(Button(w, kOK));
         Sleep(1500);  // well into the host's start
         EXPECT_EQ(FindTopWindow(t.program->id(), L"#32770", nullptr), nullptr);
         EXPECT_FALSE(IsWindowEnabled(Button(w, kOK)) || IsWindowEnabled(Button(w, kCancel)));
         kClose(t, w);
     },
     1602, L"", true},
    // Where COM does not hand the cancelled call back (Wine), Setup still ends within seconds.
    {"host hangs, the close command", Answering(L"HangOnRead", L"Version"),
     [](ProgramsTest& t, HWND w) {
         Click(Button(w, kOK));
         Sleep(2000);
         kClose(t, w);
     },
     1602, L"", true},
    {"host ends during Version", Answering(L"ExitOnRead", L"Version"), kEnter, 462,
     L"运行时错误 '462'：\n\nMicrosoft Excel 意外结束（可能已崩溃或被关闭）。"
     L"安装未做任何更改，请重新运行 Setup：\nVersion（错误代码 0x800706BE）",
     true},
};
INSTANTIATE_TEST_SUITE_P(Rows, WhatTheUserDoes, testing::ValuesIn(kUserRows), kRowName);

// The add-in's settings, beside those of other programs of the same maker.
constexpr wchar_t kMaker[] = L"Software\\VB and VBA Program Settings\\Halvorsk";
const std::wstring kSettings = std::wstring(kMaker) + L"\\Vorn\\Window";
const std::wstring kSibling = std::wstring(kMaker) + L"\\Other";

bool ValueExists(const std::wstring& key) {
    return RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"v", RRF_RT_ANY, nullptr, nullptr,
                        nullptr) == ERROR_SUCCESS;
}

struct RemovalRow {
    const char* name;
    std::function<void(ProgramsTest&)> arrange;
    const wchar_t* notice;
    DWORD exitCode;
    bool addInRemains = true;
    DWORD heldFor = 0;          // the add-in held open by another program for so long
    bool outOfProcess = false;  // in process, the stand-in would end the remover itself
};

class TheRemover : public testing::TestWithParam<RemovalRow>, public ProgramsTest {};

// The add-in installed, in Excel's start-up folder beside another workbook, and the settings:
// whatever stands in the way, the settings go and nothing else does, and the notice says what is
// left.
TEST_P(TheRemover, SaysWhatIsLeft) {
    const RemovalRow& row = GetParam();
    if (row.outOfProcess && !HostOutOfProcess()) GTEST_SKIP() << "needs windows.local_server";
    RegDeleteTreeW(HKEY_CURRENT_USER, kMaker);
    for (const auto& key : {std::wstring(kMaker), kSettings, kSibling}) {
        RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"v", REG_SZ, L"1", 4);
    }
    WriteBytes(addIn, kAddIn);
    WriteBytes(startup + L"\\Personal.xlsb", "another workbook");
    WriteBytes(hostProfile, kShipped);
    row.arrange(*this);
    std::optional<LockedFile> held;
    if (row.heldFor) held.emplace(addIn, row.heldFor);
    EXPECT_EQ(Remove(), std::pair(Utf8(row.notice), row.exitCode));
    held.reset();
    EXPECT_EQ(fs::exists(addIn), row.addInRemains);
    EXPECT_FALSE(ValueExists(kSettings));
    EXPECT_TRUE(ValueExists(kSibling) && ValueExists(kMaker));
    EXPECT_EQ(ReadBytes(startup + L"\\Personal.xlsb"), "another workbook");
    EXPECT_EQ(ReadBytes(hostProfile), kShipped);
    EXPECT_EQ(PlantedDllsLoaded(), "");
}

const RemovalRow kRemovalRows[] = {
    {"removed", kNothing, kRemoved, 0, false},
    {"nothing left to remove", [](ProgramsTest& t) { fs::remove(t.addIn); }, kRemoved, 0, false},
    // A read-only add-in (from an installer that copied it off a CD) is removed all the same; one
    // that a virus scanner holds for a moment is waited for.
    {"add-in read-only",
     [](ProgramsTest& t) { SetFileAttributesW(t.addIn.c_str(), FILE_ATTRIBUTE_READONLY); },
     kRemoved, 0, false},
    {"add-in held for a moment", kNothing, kRemoved, 0, false, 500},
    {"add-in held open", kNothing, L"加载项未能移除，请关闭\r\nExcel 后再运行本程序。", 1603, true,
     INFINITE},
    {"a folder at the add-in's place",
     [](ProgramsTest& t) {
         fs::remove(t.addIn);
         fs::create_directories(t.addIn);
     },
     L"加载项的位置上是一个\r\n文件夹，未能移除。", 1603},
    // A start-up folder that is not a complete path would be taken from the current folder.
    {"StartupPath relative", Answering(L"StartupPath", L"..\\XLSTART"),
     L"无法确定加载项的位置，\r\n加载项可能仍安装着。", 1603},
    {"Excel unreachable", Answering(L"CreateFails", L"80080005"),
     L"无法连接 Excel，\r\n加载项可能仍安装着。", 1603},
    {"Excel slow to start", Answering(L"StartDelay", L"6"), kRemoved, 0, false, 0, true},
    {"Excel ends while asked", Answering(L"ExitOnRead", L"StartupPath"),
     L"无法连接 Excel，\r\n加载项可能仍安装着。", 1603, true, 0, true},
};
INSTANTIATE_TEST_SUITE_P(Rows, TheRemover, testing::ValuesIn(kRemovalRows), kRowName);

class OneAtATime : public testing::Test, public ProgramsTest {};

// A second Setup (a double-click too many, two administrators) ends (1618); a remover meanwhile
// removes nothing and says so (1618); where the lock is held and no Setup window can be found (a
// Setup in another session, or one that is ending), Setup says so.
TEST_F(OneAtATime, SetupAndRemover) {
    const HWND first = Start(setupExe);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Program(setupExe).WaitForExit(), 1618u);
    WriteBytes(addIn, kAddIn);
    EXPECT_EQ(Remove(),
              std::pair(Utf8(L"安装程序正在运行，未做\r\n任何更改。请等它结束后\r\n再运行本程序。"),
                        1618ul));
    EXPECT_EQ(ReadBytes(addIn), kAddIn);
    PostMessageW(first, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(program->WaitForExit(), 1602u);

    const InstallationLock held;
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
