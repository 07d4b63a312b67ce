// The real remover.exe against the stand-in host: what it takes away, what it leaves, and what
// its notice says; and the notice made in the test's own process, to see what it draws.
#include <windows.h>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "Form1.h"
#include "fake_clock.h"
#include "files.h"
#include "removal.h"
#include "scoped.h"
#include "ui_driver.h"

namespace {

constexpr wchar_t kHalvorsk[] = L"Software\\VB and VBA Program Settings\\Halvorsk";
constexpr wchar_t kRemoved[] = L"Morvane\r\n\r\n已从你的系统中移除!";
constexpr wchar_t kOK[] = L"确\u3000定";
constexpr wchar_t kUnreachable[] = L"无法连接 Excel，\r\n加载项可能仍安装着。";
constexpr wchar_t kBusy[] = L"Excel 一直忙碌，无应答，\r\n加载项可能仍安装着。";

bool KeyExists(const std::wstring& path) {
    UniqueHkey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

void SetValue(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), name, REG_SZ, value.c_str(),
                    static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool ValueExists(const std::wstring& path, const wchar_t* name) {
    return RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_ANY, nullptr, nullptr,
                        nullptr) == ERROR_SUCCESS;
}

class RemoverTest : public testing::Test {
protected:
    RemoverTest() {
        RegDeleteTreeW(HKEY_CURRENT_USER, kHalvorsk);
        MakeFolder(startup);
        CopyFileW((BinFolder() + L"\\remover.exe").c_str(), removerExe.c_str(), FALSE);
        WriteBytes(addIn, "add-in workbook");
        WriteBytes(startup + L"\\Personal.xlsb", "another workbook");
        WriteBytes(hostProfile, "[CurveInformation]\r\nVer=1.0\r\n");
        SetValue(kHalvorsk, L"Owner", L"lab");
        SetValue(std::wstring(kHalvorsk) + L"\\Vorn", L"LastCurve", L"C:\\data\\run7.crv");
        SetValue(std::wstring(kHalvorsk) + L"\\Vorn\\Window", L"Left", L"120");
        SetValue(std::wstring(kHalvorsk) + L"\\Other", L"Keep", L"yes");
        WriteBytes(atTheRoot, "not the add-in");
        AnswerLikeExcel();
    }
    ~RemoverTest() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kHalvorsk);
        DeleteFileW(atTheRoot.c_str());
    }

    // Runs the remover and gives its notice, once it is ready for keys. The notice shows within
    // seconds of the start, however long Excel takes to answer.
    HWND Run() {
        program = std::make_unique<Program>(removerExe);
        EXPECT_NE(WaitForWindow(*program, nullptr, L"提示", 3000), nullptr) << "no window at once";
        const HWND notice = WaitForWindowWithFocus(*program, L"提示", 20000);
        EXPECT_NE(notice, nullptr) << "no notice";
        return notice;
    }

    void AnswerLikeExcel() {
        host.Reset();
        host.Set(L"Path", root.path());
        host.Set(L"StartupPath", startup);
    }

    void ExpectSettingsGoneAndSiblingsKept() {
        EXPECT_FALSE(KeyExists(std::wstring(kHalvorsk) + L"\\Vorn"));
        EXPECT_TRUE(ValueExists(std::wstring(kHalvorsk) + L"\\Other", L"Keep"));
        EXPECT_TRUE(ValueExists(kHalvorsk, L"Owner"));
    }

    TempFolder root{L"remover"};
    std::wstring removerExe = root / L"remover.exe";
    std::wstring startup = root / L"XLSTART";
    std::wstring addIn = startup + L"\\Qorv.xla";
    std::wstring hostProfile = root / L"QorvelProfile.ini";
    // Where a start-up folder without a drive would put the add-in: the remover runs in `root`.
    std::wstring atTheRoot = L"C:\\Qorv.xla";
    StandInHost host{root / L"host"};
    std::unique_ptr<Program> program;
};

// The notice: its caption, size, text and button (which has the focus, as the default), owned by
// no window. Whatever stands in the way, the settings go, and the notice says what is left and what
// to do; other workbooks, the host profile and sibling settings stay. Enter, Space and a click
// press its button; the close command ends it too. A start-up folder from Excel that is not a
// complete path locates nothing, and nothing is deleted; a read-only add-in is removed, and one
// held for a moment (a virus scanner) is waited for. Excel that ends while it is asked counts as
// unreachable; one that is busy for a while is waited for.
TEST_F(RemoverTest, TheNoticeSaysWhatIsLeft) {
    std::unique_ptr<LockedFile> excelHasItOpen;
    const wchar_t* const notLocated = L"无法确定加载项的位置，\r\n加载项可能仍安装着。";
    const auto enter = [](HWND notice) { PressKey(notice, VK_RETURN); };
    const auto space = [](HWND notice) { PressKey(notice, VK_SPACE); };
    const auto close = [](HWND notice) { PostMessageW(notice, WM_SYSCOMMAND, SC_CLOSE, 0); };
    const struct {
        const char* name;
        std::function<void()> arrange;
        bool addInRemains;
        const wchar_t* notice;
        std::function<void(HWND notice)> dismiss;
        bool outOfProcessOnly = false;  // in process, the stand-in would end the remover itself
    } rows[] = {
        {"everything there, the button clicked", [] {}, false, kRemoved,
         [](HWND notice) { Click(GetDlgItem(notice, 101)); }},
        {"nothing left to remove", [&] { DeleteFileW(addIn.c_str()); }, false, kRemoved, enter},
        {"Excel unreachable", [&] { host.Set(L"CreateFails", L"80080005"); }, true, kUnreachable,
         space},
        {"Excel ends while asked", [&] { host.Set(L"ExitOnRead", L"StartupPath"); }, true,
         kUnreachable, space, true},
        {"Excel slow to start", [&] { host.Set(L"StartDelay", L"6"); }, false, kRemoved, enter,
         true},
        {"Excel busy for three calls", [&] { host.Set(L"RejectCalls", L"3"); }, false, kRemoved,
         enter},
        {"add-in held open", [&] { excelHasItOpen = std::make_unique<LockedFile>(addIn); }, true,
         L"加载项未能移除，请关闭\r\nExcel 后再运行本程序。", close},
        {"StartupPath empty", [&] { host.Set(L"StartupPath", L""); }, true, notLocated, close},
        {"StartupPath relative", [&] { host.Set(L"StartupPath", L"XLSTART"); }, true, notLocated,
         close},
        {"add-in held for a moment",
         [&] { excelHasItOpen = std::make_unique<LockedFile>(addIn, 500); }, false, kRemoved,
         close},
        {"a folder at the add-in's place",
         [&] {
             DeleteFileW(addIn.c_str());
             MakeFolder(addIn);
         },
         true, L"加载项的位置上是一个\r\n文件夹，未能移除。", close},
        {"add-in read-only", [&] { SetFileAttributesW(addIn.c_str(), FILE_ATTRIBUTE_READONLY); },
         false, kRemoved, close},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.outOfProcessOnly && !StandInHost::OutOfProcess()) continue;
        row.arrange();
        const HWND notice = Run();
        ASSERT_NE(notice, nullptr);
        EXPECT_EQ(FileExists(addIn), row.addInRemains);
        EXPECT_EQ(ReadBytes(atTheRoot), "not the add-in");
        EXPECT_EQ(ReadBytes(startup + L"\\Personal.xlsb"), "another workbook");
        EXPECT_TRUE(FileExists(hostProfile));
        ExpectSettingsGoneAndSiblingsKept();

        EXPECT_EQ(TextOf(notice), L"提示");
        const SIZE client = ClientSize(notice);
        EXPECT_EQ(client.cx, 228);
        EXPECT_EQ(client.cy, 144);
        const auto children = ChildrenOf(notice);
        ASSERT_EQ(children.size(), 2u);
        EXPECT_EQ(Utf8(children[0].text), Utf8(row.notice));
        EXPECT_EQ(children[0].rect, (RECT{16, 24, 16 + 193, 24 + 57}));
        EXPECT_EQ(Utf8(children[1].text), Utf8(kOK));
        EXPECT_EQ(children[1].rect, (RECT{120, 104, 120 + 57, 104 + 25}));
        EXPECT_EQ(children[1].style & BS_TYPEMASK, static_cast<DWORD>(BS_PUSHBUTTON));
        EXPECT_TRUE(WaitForFocus(notice, children[1].window)) << "the focus is not on Command1";
        EXPECT_EQ(GetWindow(notice, GW_OWNER), nullptr);
        row.dismiss(notice);
        EXPECT_EQ(program->WaitForExit(), row.notice == std::wstring(kRemoved) ? 0u : 1603u);

        excelHasItOpen.reset();
        AnswerLikeExcel();
        SetFileAttributesW(addIn.c_str(), FILE_ATTRIBUTE_NORMAL);
        RemoveTree(addIn);
        WriteBytes(addIn, "add-in workbook");
        SetValue(std::wstring(kHalvorsk) + L"\\Vorn", L"LastCurve", L"C:\\data\\run7.crv");
    }
}

// Excel that stays busy is given up after the busy wait (on a clock of the test's own here).
TEST_F(RemoverTest, ExcelThatStaysBusyIsGivenUpAndTheNoticeSaysTheAddInMayRemain) {
    host.Set(L"RejectCalls", L"1000000");
    FakeClock clock;
    ComPtr<IDispatch> application;
    const removal::Outcome outcome = removal::RemoveAll(application, clock);

    EXPECT_TRUE(outcome.hostUnresponsive);
    EXPECT_FALSE(outcome.hostReached);
    EXPECT_TRUE(FileExists(addIn));
    ExpectSettingsGoneAndSiblingsKept();
    EXPECT_EQ(Utf8(removal::NoticeText(outcome)), Utf8(kBusy));
}

// Every notice fits the label at 96 dpi, in the label's font, without clipping.
TEST(RemovalNotice, EveryTextFitsTheLabel) {
    LOGFONTW font = {};
    font.lfHeight = -14;  // 10.5 points at 96 dpi
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = GB2312_CHARSET;
    lstrcpyW(font.lfFaceName, L"宋体");
    const UniqueHfont songTi(CreateFontIndirectW(&font));
    const UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
    const SelectedObject selected(dc.get(), songTi.get());

    for (const bool settingsRemain : {false, true}) {
        const removal::Outcome outcomes[] = {
            {.setupRuns = true},
            {.settingsRemain = settingsRemain},                            // Excel unreachable
            {.settingsRemain = settingsRemain, .hostUnresponsive = true},  // Excel busy or hung
            {.hostReached = true, .settingsRemain = settingsRemain},       // add-in not located
            {.hostReached = true, .addInLocated = true, .settingsRemain = settingsRemain},
            {.hostReached = true,
             .addInLocated = true,
             .addInRemains = true,
             .addInInUse = true,
             .settingsRemain = settingsRemain},
            {.hostReached = true,
             .addInLocated = true,
             .addInRemains = true,
             .addInIsFolder = true,
             .settingsRemain = settingsRemain},
            {.hostReached = true,
             .addInLocated = true,
             .addInRemains = true,
             .settingsRemain = settingsRemain},
        };
        for (const auto& outcome : outcomes) {
            const std::wstring text = removal::NoticeText(outcome);
            RECT area = {0, 0, 193, 0};
            DrawTextW(dc.get(), text.c_str(), -1, &area, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
            EXPECT_LE(area.right, 193) << Utf8(text);
            EXPECT_LE(area.bottom, 57) << Utf8(text);
            const bool complete = outcome.addInLocated && !outcome.addInRemains && !settingsRemain;
            EXPECT_EQ(text == kRemoved, complete) << Utf8(text);
            EXPECT_EQ(removal::ExitCodeOf(outcome), outcome.setupRuns ? 1618
                                                    : complete        ? 0
                                                                      : 1603)
                << Utf8(text);
        }
    }
}

// The notice made in this process: its label's ink, and what Esc does.
class NoticeDrawing : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(notice.Show(GetModuleHandleW(nullptr), SW_HIDE));
        notice.ShowOutcome(kRemoved);
        label = GetDlgItem(notice.handle(), 100);
    }
    void TearDown() override { EndWindowMadeHere(notice.handle()); }

    Form1 notice;
    HWND label = nullptr;
};

// In 宋体 10.5 pt (14 pixels at 96 dpi), normal weight, GB2312. The text's own pixels are pure
// blue; where the font is smoothed, its edges blend blue into the background and take no other hue.
TEST_F(NoticeDrawing, LabelTextIsPureBlue) {
    EXPECT_EQ(FontOf(label), Utf8(L"宋体, -14, weight 400, charset 134"));
    const Bitmap drawn = Render(label);
    const COLORREF background = GetSysColor(COLOR_BTNFACE);
    int pure = 0;
    for (const COLORREF pixel : drawn.pixels) {
        if (pixel == background) continue;
        pure += pixel == RGB(0, 0, 255);
        const int red = GetRValue(pixel), green = GetGValue(pixel), blue = GetBValue(pixel);
        ASSERT_TRUE(red == green && blue > red)
            << "red " << red << ", green " << green << ", blue " << blue;
    }
    EXPECT_GT(pure, 0) << "no pixel of pure blue (0, 0, 255)";
    EXPECT_EQ(InkBands(drawn, background).size(), 2u) << "Morvane, an empty line, the message";
}

// Esc is handled before the quit that this test posts after it: the notice is still there.
TEST_F(NoticeDrawing, EscDoesNothing) {
    const HWND button = GetDlgItem(notice.handle(), 101);
    PostMessageW(button, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageW(button, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    PostQuitMessage(7);
    EXPECT_EQ(ui::RunMessageLoop(notice.handle()), 7);
    EXPECT_TRUE(IsWindow(notice.handle()));
}

}  // namespace
