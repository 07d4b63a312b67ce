// The real remover.exe against the stand-in host: what it takes away, what it leaves, and what
// its notice says.
#include <windows.h>

#include <memory>

#include <gtest/gtest.h>

#include "files.h"
#include "removal.h"
#include "scoped.h"
#include "ui_driver.h"

namespace {

constexpr wchar_t kHalvorsk[] = L"Software\\VB and VBA Program Settings\\Halvorsk";
constexpr wchar_t kRemoved[] = L"Morvane\r\n\r\n已从你的系统中移除!";

bool KeyExists(const std::wstring& path) {
    UniqueHkey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

void SetValue(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
    UniqueHkey key;
    RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(),
                    nullptr);
    RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
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
        host.Set(L"Path", root.path());
        host.Set(L"StartupPath", startup);
    }
    ~RemoverTest() override { RegDeleteTreeW(HKEY_CURRENT_USER, kHalvorsk); }

    // Runs the remover and gives its notice.
    HWND Run() {
        program = std::make_unique<Program>(removerExe);
        const HWND notice = WaitForWindowWithFocus(*program, L"提示");
        EXPECT_NE(notice, nullptr) << "no notice";
        return notice;
    }

    std::wstring NoticeText(HWND notice) {
        const auto children = ChildrenOf(notice);
        return children.empty() ? L"" : children[0].text;
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
    StandInHost host{root / L"host"};
    std::unique_ptr<Program> program;
};

TEST_F(RemoverTest, RemovesTheAddInAndTheSettingsAndSaysSo) {
    const HWND notice = Run();
    ASSERT_NE(notice, nullptr);

    EXPECT_FALSE(FileExists(addIn));
    EXPECT_EQ(ReadBytes(startup + L"\\Personal.xlsb"), "another workbook");
    EXPECT_TRUE(FileExists(hostProfile));
    ExpectSettingsGoneAndSiblingsKept();
    EXPECT_EQ(host.Calls(), (std::vector<std::string>{
                                "GetIDsOfNames Application 1033", "Invoke Application 1033 2",
                                "GetIDsOfNames StartupPath 1033", "Invoke StartupPath 1033 2"}));

    EXPECT_EQ(TextOf(notice), L"提示");
    const SIZE client = ClientSize(notice);
    EXPECT_EQ(client.cx, 228);
    EXPECT_EQ(client.cy, 144);
    const auto children = ChildrenOf(notice);
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(Utf8(children[0].text), Utf8(kRemoved));
    EXPECT_EQ(children[0].rect.left, 16);
    EXPECT_EQ(children[0].rect.top, 24);
    EXPECT_EQ(children[0].rect.right, 16 + 193);
    EXPECT_EQ(children[0].rect.bottom, 24 + 57);
    EXPECT_EQ(Utf8(children[1].text), Utf8(L"确\u3000定"));
    EXPECT_EQ(children[1].rect.left, 120);
    EXPECT_EQ(children[1].rect.top, 104);
    EXPECT_EQ(children[1].rect.right, 120 + 57);
    EXPECT_EQ(children[1].rect.bottom, 104 + 25);
    EXPECT_EQ(children[1].style & BS_TYPEMASK, static_cast<DWORD>(BS_PUSHBUTTON));
    EXPECT_TRUE(WaitForFocus(notice, children[1].window)) << "the focus is not on Command1";
    EXPECT_EQ(GetWindow(notice, GW_OWNER), nullptr);

    PressKey(notice, VK_RETURN);
    EXPECT_EQ(program->WaitForExit(), 0u);
}

TEST_F(RemoverTest, SecondRunFindsNothingAndShowsTheSameNotice) {
    HWND notice = Run();
    ASSERT_NE(notice, nullptr);
    Click(FindChild(ChildrenOf(notice), L"确\u3000定")->window);
    EXPECT_EQ(program->WaitForExit(), 0u);

    notice = Run();
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(Utf8(NoticeText(notice)), Utf8(kRemoved));
    PressKey(notice, VK_SPACE);
    EXPECT_EQ(program->WaitForExit(), 0u);
}

TEST_F(RemoverTest, ExcelUnreachableStillDeletesTheSettingsAndSaysTheAddInMayRemain) {
    host.Set(L"CreateFails", L"80080005");
    const HWND notice = Run();
    ASSERT_NE(notice, nullptr);

    EXPECT_TRUE(FileExists(addIn));
    ExpectSettingsGoneAndSiblingsKept();
    EXPECT_EQ(Utf8(NoticeText(notice)), Utf8(L"无法连接 Excel，\r\n加载项可能仍安装着。"));

    PostMessageW(notice, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(program->WaitForExit(), 0u);
}

TEST_F(RemoverTest, AddInHeldOpenStaysAndTheNoticeSaysToCloseExcel) {
    LockedFile excelHasItOpen(addIn);
    const HWND notice = Run();
    ASSERT_NE(notice, nullptr);

    EXPECT_TRUE(FileExists(addIn));
    ExpectSettingsGoneAndSiblingsKept();
    EXPECT_EQ(Utf8(NoticeText(notice)), Utf8(L"加载项未能移除，请关闭\r\nExcel 后再运行本程序。"));
}

// Every notice fits the label at 96 dpi, in the label's font, without clipping.
TEST(RemovalNotice, EveryTextFitsTheLabel) {
    LOGFONTW font = {};
    font.lfHeight = -14;  // 10.5 points at 96 dpi
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = GB2312_CHARSET;
    lstrcpyW(font.lfFaceName, L"宋体");
    UniqueHfont songTi(CreateFontIndirectW(&font));
    const HDC dc = CreateCompatibleDC(nullptr);
    SelectObject(dc, songTi.get());

    for (const bool hostReached : {true, false}) {
        for (const bool addInRemains : {false, true}) {
            for (const bool settingsRemain : {false, true}) {
                if (!hostReached && addInRemains) continue;  // unknown without the host
                const std::wstring text =
                    removal::NoticeText({hostReached, addInRemains, settingsRemain});
                RECT area = {0, 0, 193, 0};
                DrawTextW(dc, text.c_str(), -1, &area, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
                EXPECT_LE(area.right, 193) << Utf8(text);
                EXPECT_LE(area.bottom, 57) << Utf8(text);
                const bool complete = hostReached && !addInRemains && !settingsRemain;
                EXPECT_EQ(text == kRemoved, complete) << Utf8(text);
            }
        }
    }
    DeleteDC(dc);
}

}  // namespace
