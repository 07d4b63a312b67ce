// The removal against the stand-in host: what it takes away, what it leaves, and what the notice
// of the real remover.exe says.
#include <windows.h>

#include <functional>
#include <memory>
#include <optional>

#include <gtest/gtest.h>

#include "fake_clock.h"
#include "files.h"
#include "removal.h"
#include "scoped.h"
#include "ui_driver.h"

namespace {

constexpr wchar_t kHalvorsk[] = L"Software\\VB and VBA Program Settings\\Halvorsk";
constexpr wchar_t kRemoved[] = L"Morvane\r\n\r\n已从你的系统中移除!";

bool ValueExists(const std::wstring& key, const wchar_t* name) {
    return RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_ANY, nullptr, nullptr,
                        nullptr) == ERROR_SUCCESS;
}

void SetValue(const std::wstring& key, const wchar_t* name, const wchar_t* value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), name, REG_SZ, value,
                    static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
}

// A PC with the add-in installed: in Excel's start-up folder beside another workbook, the host
// profile, and the add-in's settings beside those of other programs of the same maker.
class RemovalPc {
public:
    RemovalPc() {
        RegDeleteTreeW(HKEY_CURRENT_USER, kHalvorsk);
        fs::create_directories(startup);
        WriteBytes(addIn, "add-in workbook");
        WriteBytes(startup + L"\\Personal.xlsb", "another workbook");
        WriteBytes(root / L"QorvelProfile.ini", "[CurveInformation]\r\nVer=1.0\r\n");
        SetValue(kHalvorsk, L"Owner", L"lab");
        SetValue(std::wstring(kHalvorsk) + L"\\Vorn\\Window", L"Left", L"120");
        SetValue(std::wstring(kHalvorsk) + L"\\Other", L"Keep", L"yes");
        host.Set(L"Path", root.path());
        host.Set(L"StartupPath", startup);
        // A start-up folder without a drive would be taken from here.
        SetCurrentDirectoryW(root.path().c_str());
    }
    ~RemovalPc() { RegDeleteTreeW(HKEY_CURRENT_USER, kHalvorsk); }

    // The settings are gone, and nothing else is: the other workbook, the host profile, the
    // sibling settings.
    void ExpectOnlyTheAddInsOwnGone() const {
        EXPECT_FALSE(ValueExists(std::wstring(kHalvorsk) + L"\\Vorn\\Window", L"Left"));
        EXPECT_TRUE(ValueExists(std::wstring(kHalvorsk) + L"\\Other", L"Keep"));
        EXPECT_TRUE(ValueExists(kHalvorsk, L"Owner"));
        EXPECT_EQ(ReadBytes(startup + L"\\Personal.xlsb"), "another workbook");
        EXPECT_TRUE(fs::exists(root / L"QorvelProfile.ini"));
    }

    TempFolder root{L"remover"};
    std::wstring startup = root / L"XLSTART";
    std::wstring addIn = startup + L"\\Qorv.xla";
    StandInHost host{root / L"host"};
};

struct CauseRow {
    const char* name;
    std::function<void(RemovalPc&)> arrange;
    const wchar_t* notice;
    bool addInRemains;
    DWORD heldFor = 0;  // the add-in held open by another program for so long
};

class Removal : public testing::TestWithParam<CauseRow>, public RemovalPc {};

// Whatever stands in the way, the settings go, and the notice says what is left and what to do. A
// start-up folder from Excel that is not a complete path locates nothing, and nothing is deleted;
// a read-only add-in is removed, and one held for a moment (a virus scanner) is waited for. A busy
// host is waited for on a clock of the test's own here.
TEST_P(Removal, TheNoticeSaysWhatIsLeft) {
    GetParam().arrange(*this);
    std::optional<LockedFile> held;
    if (GetParam().heldFor) held.emplace(addIn, GetParam().heldFor);
    FakeClock clock;
    ComPtr<IDispatch> application;
    const removal::Outcome outcome = removal::RemoveAll(application, clock);
    held.reset();
    EXPECT_EQ(Utf8(removal::NoticeText(outcome)), Utf8(GetParam().notice));
    EXPECT_EQ(fs::exists(addIn), GetParam().addInRemains);
    ExpectOnlyTheAddInsOwnGone();
}

const auto kNothing = [](RemovalPc&) {};
const CauseRow kCauses[] = {
    {"everything there", kNothing, kRemoved, false},
    {"nothing left to remove", [](RemovalPc& pc) { DeleteFileW(pc.addIn.c_str()); }, kRemoved,
     false},
    {"add-in read-only",
     [](RemovalPc& pc) { SetFileAttributesW(pc.addIn.c_str(), FILE_ATTRIBUTE_READONLY); }, kRemoved,
     false},
    {"add-in held for a moment", kNothing, kRemoved, false, 500},
    {"add-in held open", kNothing, L"加载项未能移除，请关闭\r\nExcel 后再运行本程序。", true,
     INFINITE},
    {"a folder at the add-in's place",
     [](RemovalPc& pc) {
         DeleteFileW(pc.addIn.c_str());
         fs::create_directories(pc.addIn);
     },
     L"加载项的位置上是一个\r\n文件夹，未能移除。", true},
    {"StartupPath relative", [](RemovalPc& pc) { pc.host.Set(L"StartupPath", L"XLSTART"); },
     L"无法确定加载项的位置，\r\n加载项可能仍安装着。", true},
    {"Excel unreachable", [](RemovalPc& pc) { pc.host.Set(L"CreateFails", L"80080005"); },
     L"无法连接 Excel，\r\n加载项可能仍安装着。", true},
    {"Excel busy for good", [](RemovalPc& pc) { pc.host.Set(L"RejectCalls", L"1000000"); },
     L"Excel 一直忙碌，无应答，\r\n加载项可能仍安装着。", true},
};
INSTANTIATE_TEST_SUITE_P(Rows, Removal, testing::ValuesIn(kCauses), kRowName);

struct RunRow {
    const char* name;
    const wchar_t* answer;  // what the stand-in host is set to do
    const wchar_t* value;
    const wchar_t* notice;
    DWORD exitCode;
    bool outOfProcess = false;  // in process, the stand-in would end the remover itself
};

class TheRemover : public testing::TestWithParam<RunRow>, public RemovalPc {};

// The real remover.exe: its notice shows within three seconds of the start, however long Excel
// takes to answer, captioned 提示, owned by no window, and says what is left once the focus is on
// its button; Enter ends the program with its exit code.
TEST_P(TheRemover, ShowsItsNoticeAtOnceAndEndsWithItsCode) {
    const RunRow& row = GetParam();
    if (row.outOfProcess && !StandInHost::OutOfProcess()) {
        GTEST_SKIP() << "needs the host in a process of its own (windows.local_server)";
    }
    if (row.answer) host.Set(row.answer, row.value);
    const std::wstring exe = root / L"remover.exe";
    CopyFileW((BinFolder() + L"\\remover.exe").c_str(), exe.c_str(), FALSE);
    Program remover(exe);
    EXPECT_NE(WaitForWindow(remover, nullptr, L"提示", 3000), nullptr) << "no window at once";
    const HWND notice = WaitForWindowWithFocus(remover, L"提示", 20000);
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(Utf8(TextOf(GetDlgItem(notice, 100))), Utf8(row.notice));
    EXPECT_EQ(FocusIn(notice), GetDlgItem(notice, 101)) << "the focus is not on the button";
    EXPECT_EQ(GetWindow(notice, GW_OWNER), nullptr);
    PressKey(notice, VK_RETURN);
    EXPECT_EQ(remover.WaitForExit(), row.exitCode);
    ExpectOnlyTheAddInsOwnGone();
}

const RunRow kRuns[] = {
    {"removed", nullptr, nullptr, kRemoved, 0},
    {"something remains", L"StartupPath", L"", L"无法确定加载项的位置，\r\n加载项可能仍安装着。",
     1603},
    {"Excel slow to start", L"StartDelay", L"6", kRemoved, 0, true},
    {"Excel ends while asked", L"ExitOnRead", L"StartupPath",
     L"无法连接 Excel，\r\n加载项可能仍安装着。", 1603, true},
};
INSTANTIATE_TEST_SUITE_P(Rows, TheRemover, testing::ValuesIn(kRuns), kRowName);

}  // namespace
