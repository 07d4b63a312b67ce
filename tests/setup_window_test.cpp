// The real Setup.exe, started from an install set and driven as a user would drive it.
#include <windows.h>

#include <memory>

#include <gtest/gtest.h>

#include "files.h"
#include "ui_driver.h"

namespace {

using Lines = std::vector<std::string>;

constexpr char kAddIn[] = "add-in workbook";
constexpr char kShipped[] = "[CurveInformation]\r\nVer=1.5\r\n";
constexpr wchar_t kAnnouncement[] =
    L"安装程序将要安装“Morvane”\r\r\r到你的系统中，点击“确定”开始安装,\r\r\r"
    L"点击“取消”将放弃安装！　　　　　　　　　　　";
constexpr wchar_t kCompletion[] =
    L"程序安装完毕，打开Excel后，点击工具栏中的“Qorvel”按钮即可打开Qorvel主程序！！！   ";

bool SameRect(const RECT& got, const RECT& want) {
    return got.left == want.left && got.top == want.top && got.right == want.right &&
           got.bottom == want.bottom;
}

std::string Describe(const RECT& r) {
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" +
           std::to_string(r.right) + "," + std::to_string(r.bottom) + ")";
}

class SetupWindowTest : public testing::Test {
protected:
    SetupWindowTest() {
        MakeFolder(installSet);
        MakeFolder(excel);
        MakeFolder(startup);
        CopyFileW((BinFolder() + L"\\Setup.exe").c_str(), setupExe.c_str(), FALSE);
        WriteBytes(installSet + L"\\setup.xla", kAddIn);
        WriteBytes(installSet + L"\\QorvelProfile.ini", kShipped);
        host.Set(L"Path", excel);
        host.Set(L"StartupPath", startup);
        host.Set(L"Version", L"14.0");
    }

    // Starts Setup and gives its window.
    HWND Start(const std::wstring& exe) {
        program = std::make_unique<Program>(exe);
        const HWND window = WaitForWindowWithFocus(*program, L"安装");
        EXPECT_NE(window, nullptr) << "Setup showed no window";
        return window;
    }
    HWND Start() { return Start(setupExe); }

    HWND Button(HWND window, const wchar_t* caption) {
        const auto children = ChildrenOf(window);
        const Control* button = FindChild(children, caption);
        return button ? button->window : nullptr;
    }

    // Waits for the completion message, checks it, and presses its one button.
    void ExpectCompletionAndDismiss(HWND window) {
        const HWND box = WaitForWindow(*program, L"#32770", L"Setup");
        ASSERT_NE(box, nullptr) << "no completion message";
        EXPECT_EQ(GetWindow(box, GW_OWNER), window) << "the message is owned by the window";
        HWND onlyButton = nullptr;
        int buttons = 0;
        for (const auto& child : ChildrenOf(box)) {
            if (child.id == 0xFFFF) {
                EXPECT_EQ(Utf8(child.text), Utf8(kCompletion));
            }
            if (child.className == L"Button" && (child.style & WS_VISIBLE)) {
                ++buttons;
                onlyButton = child.window;
            }
        }
        EXPECT_EQ(buttons, 1);
        EXPECT_EQ(GetDlgCtrlID(onlyButton), IDOK);
        Click(onlyButton);
        EXPECT_EQ(program->WaitForExit(), 0u);
        EXPECT_FALSE(IsWindow(window));
    }

    void ExpectNothingWritten() {
        EXPECT_FALSE(FileExists(hostProfile));
        EXPECT_FALSE(FileExists(addIn));
        EXPECT_TRUE(host.Calls().empty()) << "the host was asked " << host.Calls().size();
    }

    TempFolder root{L"setup-window"};
    std::wstring installSet = root / L"安装包";
    std::wstring setupExe = installSet + L"\\Setup.exe";
    std::wstring excel = root / L"Office14";
    std::wstring startup = root / L"XLSTART";
    std::wstring hostProfile = excel + L"\\QorvelProfile.ini";
    std::wstring addIn = startup + L"\\Qorv.xla";
    StandInHost host{root / L"host"};
    std::unique_ptr<Program> program;
};

// Runs at 96 dpi in the main prefix and at 144 dpi in the alt one.
TEST_F(SetupWindowTest, LayoutFollowsTheTwipsAtTheScreensDpi) {
    const HWND window = Start();
    ASSERT_NE(window, nullptr);
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);

    struct Layout {
        SIZE client;
        RECT label, ok, cancel;
    };
    // Twips to pixels: 15 a pixel at 96 dpi, 10 at 144 dpi, rounded.
    const Layout at96 = {
        {380, 260}, {16, 32, 353, 153}, {280, 200, 345, 231}, {192, 200, 257, 231}};
    const Layout at144 = {
        {570, 390}, {24, 48, 530, 230}, {420, 300, 518, 346}, {288, 300, 386, 346}};
    ASSERT_TRUE(dpi == 96 || dpi == 144) << dpi;
    const Layout& want = dpi == 96 ? at96 : at144;

    const SIZE client = ClientSize(window);
    EXPECT_EQ(client.cx, want.client.cx);
    EXPECT_EQ(client.cy, want.client.cy);

    const auto children = ChildrenOf(window);
    ASSERT_EQ(children.size(), 3u);
    const Control* label = FindChild(children, kAnnouncement);
    const Control* ok = FindChild(children, L"确\u3000定");
    const Control* cancel = FindChild(children, L"取\u3000消");
    ASSERT_TRUE(label && ok && cancel) << "controls: " << Utf8(children[0].text) << " | "
                                       << Utf8(children[1].text) << " | " << Utf8(children[2].text);
    EXPECT_TRUE(SameRect(label->rect, want.label)) << Describe(label->rect);
    EXPECT_TRUE(SameRect(ok->rect, want.ok)) << Describe(ok->rect);
    EXPECT_TRUE(SameRect(cancel->rect, want.cancel)) << Describe(cancel->rect);
    EXPECT_EQ(ok->style & BS_TYPEMASK, static_cast<DWORD>(BS_PUSHBUTTON)) << "not a default button";
    EXPECT_EQ(cancel->style & BS_TYPEMASK, static_cast<DWORD>(BS_PUSHBUTTON));
}

TEST_F(SetupWindowTest, WindowStandsCentredWithTheFocusOnOk) {
    const HWND window = Start();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(TextOf(window), L"安装");
    EXPECT_TRUE(WaitForFocus(window, Button(window, L"确\u3000定"))) << "the focus is not on OK";

    RECT frame, work;
    GetWindowRect(window, &frame);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_NEAR((frame.left + frame.right) / 2, (work.left + work.right) / 2, 1);
    EXPECT_NEAR((frame.top + frame.bottom) / 2, (work.top + work.bottom) / 2, 1);
}

TEST_F(SetupWindowTest, OkInstallsThenTheCompletionMessageEndsTheProgram) {
    const HWND window = Start();
    ASSERT_NE(window, nullptr);
    Click(Button(window, L"确\u3000定"));
    ExpectCompletionAndDismiss(window);
    EXPECT_EQ(ReadBytes(addIn), kAddIn);
    const Lines profile = ProfileLines(hostProfile);
    ASSERT_EQ(profile.size(), 7u);
    EXPECT_EQ(profile[2], "FilePath=" + Cp936(installSet) + "\\Qorvel.xltm");
}

TEST_F(SetupWindowTest, EnterRightAfterStartInstalls) {
    const HWND window = Start();
    ASSERT_NE(window, nullptr);
    PressKey(window, VK_RETURN);
    ExpectCompletionAndDismiss(window);
    EXPECT_EQ(ReadBytes(addIn), kAddIn);
}

// Tab moves the focus to Cancel; Enter and Space then press Cancel, not OK.
TEST_F(SetupWindowTest, EnterAndSpacePressOnlyTheFocusedButton) {
    for (const UINT key : {VK_RETURN, VK_SPACE}) {
        SCOPED_TRACE(key == VK_RETURN ? "Enter" : "Space");
        const HWND window = Start();
        ASSERT_NE(window, nullptr);
        PressKey(window, VK_TAB);
        ASSERT_TRUE(WaitForFocus(window, Button(window, L"取\u3000消")));
        PressKey(window, key);
        EXPECT_EQ(program->WaitForExit(), 0u);
        ExpectNothingWritten();
    }
}

TEST_F(SetupWindowTest, EscDoesNothing) {
    const HWND window = Start();
    ASSERT_NE(window, nullptr);
    PressKey(window, VK_ESCAPE);
    // Posted keys are handled in order: once Tab has moved the focus, Esc has been handled.
    PressKey(window, VK_TAB);
    EXPECT_TRUE(WaitForFocus(window, Button(window, L"取\u3000消")));
    EXPECT_TRUE(program->Running());
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_FALSE(HasWindow(*program, L"#32770"));
    ExpectNothingWritten();
}

TEST_F(SetupWindowTest, CancelAndTheCloseCommandWriteNothing) {
    const struct {
        const char* name;
        void (*close)(HWND window, HWND cancel);
    } rows[] = {
        {"Cancel", [](HWND, HWND cancel) { Click(cancel); }},
        {"close command",
         [](HWND window, HWND) { PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const HWND window = Start();
        ASSERT_NE(window, nullptr);
        row.close(window, Button(window, L"取\u3000消"));
        EXPECT_EQ(program->WaitForExit(), 0u);
        ExpectNothingWritten();
    }
}

TEST_F(SetupWindowTest, FailedInstallationShowsTheErrorReportAndEnds) {
    DeleteFileW((installSet + L"\\setup.xla").c_str());
    const HWND window = Start();
    ASSERT_NE(window, nullptr);
    Click(Button(window, L"确\u3000定"));

    const HWND box = WaitForWindow(*program, L"#32770", L"Setup");
    ASSERT_NE(box, nullptr) << "no error report";
    std::wstring text;
    for (const auto& child : ChildrenOf(box)) {
        if (child.id == 0xFFFF) text = child.text;
    }
    EXPECT_EQ(Utf8(text),
              Utf8(L"运行时错误 '53'：\n\n找不到要复制的文件：\n" + installSet + L"\\setup.xla"));
    PressKey(box, VK_RETURN);
    EXPECT_EQ(program->WaitForExit(), 53u);
    EXPECT_FALSE(FileExists(hostProfile)) << "a failed first installation leaves no host profile";
}

// The process killed while the host is asked for its version: the profile and the add-in have
// been copied by then. The next run is a first installation again and completes it.
TEST_F(SetupWindowTest, KilledFirstInstallationIsCompletedByTheNextRun) {
    host.Set(L"ExitOnRead", L"Version");
    HWND window = Start();
    ASSERT_NE(window, nullptr);
    PressKey(window, VK_RETURN);
    EXPECT_EQ(program->WaitForExit(), 99u) << "the stand-in host ends the process";
    EXPECT_FALSE(FileExists(hostProfile));

    host.Set(L"ExitOnRead", L"");
    window = Start();
    ASSERT_NE(window, nullptr);
    PressKey(window, VK_RETURN);
    ExpectCompletionAndDismiss(window);
    const Lines profile = ProfileLines(hostProfile);
    ASSERT_EQ(profile.size(), 7u);
    EXPECT_EQ(profile[3], "DtPath=" + Cp936(installSet) + "\\Data\\Qorvel.mdb");
    EXPECT_EQ(profile[6].substr(0, 9), "InstDate=");
    EXPECT_FALSE(FileExists(hostProfile + L".tmp"));
}

TEST_F(SetupWindowTest, InstallSetAtADriveRoot) {
    // The test prefix maps R: to a folder of the build.
    CopyFileW(setupExe.c_str(), L"R:\\Setup.exe", FALSE);
    WriteBytes(L"R:\\setup.xla", kAddIn);
    WriteBytes(L"R:\\QorvelProfile.ini", kShipped);
    const HWND window = Start(L"R:\\Setup.exe");
    ASSERT_NE(window, nullptr);
    PressKey(window, VK_RETURN);
    ExpectCompletionAndDismiss(window);
    const Lines profile = ProfileLines(hostProfile);
    ASSERT_EQ(profile.size(), 7u);
    EXPECT_EQ(profile[2], "FilePath=R:\\\\Qorvel.xltm");
    for (const wchar_t* file : {L"R:\\Setup.exe", L"R:\\setup.xla", L"R:\\QorvelProfile.ini"}) {
        DeleteFileW(file);
    }
}

// DLLs named like commonly hijacked system DLLs, planted beside Setup, are never loaded. Wine
// prefers its built-in DLLs, so this test runs with WINEDLLOVERRIDES set to load native ones
// first for the planted names; a program without the hardening loads them, which shows that the
// plant works.
TEST_F(SetupWindowTest, DllsPlantedInTheInstallSetAreNeverLoaded) {
    const wchar_t* planted[] = {L"uxtheme.dll", L"dwmapi.dll"};
    for (const wchar_t* name : planted) {
        CopyFileW((BinFolder() + L"\\..\\tests\\planted_dll.dll").c_str(),
                  (installSet + L"\\" + name).c_str(), FALSE);
    }
    const auto loaded = [&] {
        int count = 0;
        for (const wchar_t* name : planted) {
            count += FileExists(installSet + L"\\" + name + L".loaded");
        }
        return count;
    };

    const std::wstring control = installSet + L"\\minimal_window.exe";
    CopyFileW((BinFolder() + L"\\..\\tests\\minimal_window.exe").c_str(), control.c_str(), FALSE);
    {
        Program unhardened(control);
        EXPECT_NE(WaitForWindow(unhardened, nullptr, L"minimal"), nullptr);
        for (int i = 0; i < 500 && loaded() == 0; ++i) Sleep(10);
    }
    ASSERT_GT(loaded(), 0) << "the planted DLLs are not even considered (is WINEDLLOVERRIDES "
                              "set?): the test proves nothing";
    for (const wchar_t* name : planted)
        DeleteFileW((installSet + L"\\" + name + L".loaded").c_str());

    const HWND window = Start();
    ASSERT_NE(window, nullptr);
    PressKey(window, VK_RETURN);
    ExpectCompletionAndDismiss(window);
    EXPECT_EQ(loaded(), 0);
}

}  // namespace
