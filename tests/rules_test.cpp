// The rules that the programs' decisions follow, one table each: which answers of the host are
// folders, how a busy host is waited for, how profile text is cut and checked, which template a
// version takes, what each failure is reported as, and what the remover's notice says.
#include <windows.h>

#include <algorithm>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "command_line.h"
#include "dll_search.h"
#include "fLanguage.h"
#include "files.h"
#include "errors.h"
#include "host_wait.h"
#include "layout.h"
#include "profile.h"
#include "removal.h"

namespace {

using testing::HasSubstr;

// A clock for the busy wait that moves only when it pauses, and records its pauses.
struct FakeClock final : host::Clock {
    DWORD now = 0;
    std::vector<DWORD> pauses;
    DWORD Now() override { return now; }
    void Pause(DWORD milliseconds) override { now += pauses.emplace_back(milliseconds); }
};

// A row of a function's table: what it is given, and what it gives.
template <typename In, typename Out>
struct Row {
    const char* name;
    In given;
    Out gives;
};

using FolderPath = testing::TestWithParam<Row<const wchar_t*, bool>>;
TEST_P(FolderPath, OnlyCompletePathsLocateFiles) {
    EXPECT_EQ(layout::IsFolderPath(GetParam().given), GetParam().gives);
}
// clang-format off
const FolderPath::ParamType kFolderPaths[] = {
    {"drive", L"C:\\Office14", true},
    {"drive root", L"C:\\", true},
    {"share", L"\\\\lab\\xl\\XLSTART", true},
    {"empty", L"", false},
    {"no drive", L"\\Office14", false},
    {"relative", L"XLSTART", false},
    {"drive relative", L"C:XLSTART", false},
    {"bare server", L"\\\\lab", false},
    {"server, no share", L"\\\\lab\\\\x", false},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Rows, FolderPath, testing::ValuesIn(kFolderPaths), kRowName);

// A call that the host rejects is repeated after short pauses for up to thirty seconds in all;
// nothing else is repeated.
struct BusyRow {
    const char* name;
    int rejections;     // how many tries the host rejects before it answers
    HRESULT rejection;  // with what
    HRESULT answer;     // then what it answers
    DWORD callTakes;    // how long each try takes
    size_t tries;       // 0: as many as fit in the busy wait
};
using BusyWait = testing::TestWithParam<BusyRow>;
TEST_P(BusyWait, RejectedCallsAreRepeatedForUpToThirtySeconds) {
    const BusyRow& row = GetParam();
    FakeClock clock;
    std::vector<DWORD> tries;  // when each try started
    const HRESULT got = host::CallWhileBusy(clock, [&] {
        tries.push_back(clock.now);
        clock.now += row.callTakes;
        return static_cast<int>(tries.size()) <= row.rejections ? row.rejection : row.answer;
    });
    EXPECT_EQ(got, static_cast<int>(tries.size()) <= row.rejections ? row.rejection : row.answer);
    if (row.tries) {
        EXPECT_EQ(tries.size(), row.tries);
    } else {  // the last try falls within the limit, and not more than a pause before it
        EXPECT_THAT(tries.back(),
                    testing::AllOf(testing::Le(host::kBusyLimitMs),
                                   testing::Gt(host::kBusyLimitMs - 1000 - row.callTakes)));
    }
    EXPECT_THAT(clock.pauses, testing::Each(testing::Le(1000u)));
}
constexpr int kForever = 1000000;
// clang-format off
const BusyRow kBusyRows[] = {
    {"rejected three times", 3, RPC_E_CALL_REJECTED, S_OK, 0, 4},
    {"asked to retry later", 3, RPC_E_SERVERCALL_RETRYLATER, S_OK, 0, 4},
    {"stays busy", kForever, RPC_E_CALL_REJECTED, S_OK, 0, 0},
    {"stays busy, slow", kForever, RPC_E_SERVERCALL_RETRYLATER, S_OK, 4000, 0},
    {"host ended", 0, RPC_E_CALL_REJECTED, HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), 0, 1},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Rows, BusyWait, testing::ValuesIn(kBusyRows), kRowName);

// A value cut at the read buffer's end keeps whole characters only: a lone lead byte would be read
// back as another character and written on into the host profile.
using CutValue = testing::TestWithParam<Row<std::string_view, std::string_view>>;
TEST_P(CutValue, KeepsWholeCharacters) {
    EXPECT_EQ(profile::WholeCharacters(GetParam().given), GetParam().gives);
}
// clang-format off
const CutValue::ParamType kCuts[] = {
    {"whole", "a\xD6\xD0", "a\xD6\xD0"},                 // a中
    {"half of the last", "a\xD6\xD0\xD6", "a\xD6\xD0"},  // a中 and the first half of 中
    {"a lone lead byte", "\xD6", ""},
    {"single byte 80", "\xD6\xD0\x80", "\xD6\xD0\x80"},  // 0x80 (€) is one byte in code page 936
    {"lead byte after 啊", "\xB0\xA1\xB0", "\xB0\xA1"},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Rows, CutValue, testing::ValuesIn(kCuts), kRowName);

// Setup's announcement breaks its lines with carriage returns alone, each drawn as one break.
TEST(Announcement, EachLoneCarriageReturnBreaksTheLineOnce) {
    EXPECT_EQ(WithLineFeeds(L"a\r\r\rb\r"), L"a\r\n\r\n\r\nb\r\n");
}

// What the user is told of each failure: its number (the exit code too) and its cause, where the
// procedures' rows do not tell the causes of one number apart.
using ErrorReport = testing::TestWithParam<Row<install::Error, std::pair<int, const wchar_t*>>>;
TEST_P(ErrorReport, NamesTheCause) {
    EXPECT_EQ(GetParam().given.number, GetParam().gives.first);
    EXPECT_THAT(Utf8(install::ErrorReportText(GetParam().given)),
                HasSubstr(Utf8(GetParam().gives.second)));
}
using namespace install;  // the reports
// clang-format off
const ErrorReport::ParamType kReports[] = {
    {"busy", HostError(RPC_E_CALL_REJECTED, L"Version"), {440, L"正忙"}},
    {"no answer", HostError(RPC_E_CALL_CANCELED, L"Path"), {440, L"一分钟没有应答"}},
    {"read fails", HostError(E_FAIL, L"StartupPath"), {440, L"StartupPath（错误代码 0x80004005）"}},
    {"not installed", HostError(REGDB_E_CLASSNOTREG, L""), {429, L"没有安装"}},
    {"unreachable", HostError(E_ACCESSDENIED, L""), {429, L"无法连接"}},
    {"disk full", WriteError(ERROR_HANDLE_DISK_FULL, L"F:\\a"), {61, L"磁盘已满）：\nF:\\a"}},
    {"in use", WriteError(ERROR_SHARING_VIOLATION, L"F:\\a"), {70, L"正被其他程序使用"}},
    {"refused", WriteError(ERROR_ACCESS_DENIED, L"F:\\a"), {70, L"没有写入权限"}},
    {"other", WriteError(ERROR_WRITE_FAULT, L"F:\\a"), {75, L"系统错误 29"}},
    // A profile that does not read back as written was cut where the disk is (nearly) full.
    {"read back cut, no room", ReadBackError(0, L"F:\\a"), {61, L"磁盘已满"}},
    {"read back cut, a few bytes left", ReadBackError(600, L"F:\\a"), {61, L"磁盘已满"}},
    {"read back wrong, room left", ReadBackError(1 << 20, L"F:\\a"), {75, L"读回"}},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Rows, ErrorReport, testing::ValuesIn(kReports), kRowName);

// What the remover's notice says of each outcome, in at most three lines, and its exit code: the
// system is said to be removed only when nothing is left.
using Notice = testing::TestWithParam<Row<removal::Outcome, std::pair<const wchar_t*, int>>>;
TEST_P(Notice, SaysWhatIsLeft) {
    const std::wstring text = removal::NoticeText(GetParam().given);
    EXPECT_THAT(Utf8(text), HasSubstr(Utf8(GetParam().gives.first)));
    EXPECT_LE(std::count(text.begin(), text.end(), L'\n'), 2);
    EXPECT_EQ(removal::ExitCodeOf(GetParam().given), GetParam().gives.second);
}
using Excel = removal::Outcome::Excel;
using AddIn = removal::Outcome::AddIn;
// clang-format off
const Notice::ParamType kNotices[] = {
    {"removed", {}, {L"已从你的系统中移除", 0}},
    {"another runs", {.anotherRuns = true}, {L"另一个安装或卸载程序", 1618}},
    {"busy", {.excel = Excel::kUnresponsive, .addIn = AddIn::kMayRemain}, {L"忙碌", 1603}},
    {"unreachable", {.excel = Excel::kUnreachable, .addIn = AddIn::kMayRemain}, {L"无法连接", 1603}},
    {"not a path", {.excel = Excel::kNotAPath, .addIn = AddIn::kMayRemain}, {L"位置", 1603}},
    {"in use", {.addIn = AddIn::kInUse}, {L"关闭\r\nExcel", 1603}},
    {"no right", {.addIn = AddIn::kNoRight}, {L"权限", 1603}},
    {"a folder", {.addIn = AddIn::kFolder}, {L"文件夹", 1603}},
    {"may remain", {.addIn = AddIn::kMayRemain}, {L"可能仍在", 1603}},
    {"settings remain", {.settingsRemain = true}, {L"设置未能删除", 1603}},
    {"both remain", {.addIn = AddIn::kInUse, .settingsRemain = true}, {L"本程序。\r\n设置也", 1603}},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Rows, Notice, testing::ValuesIn(kNotices), kRowName);

}  // namespace

void PrintTo(const CommandLine& line, std::ostream* out) {
    *out << "{action " << line.action << (line.quiet ? ", quiet" : "") << ", log \""
         << Utf8(line.logFile) << (line.allUsers ? "\", all users" : "\"") << ", fault \""
         << Utf8(line.fault) << "\"}";
}

namespace {

// What each command line asks for: switches as Windows users write them, "/" or "-", any case.
using CommandLines = testing::TestWithParam<Row<std::vector<const wchar_t*>, CommandLine>>;
TEST_P(CommandLines, SayWhatToDo) {
    const auto& arguments = GetParam().given;
    EXPECT_EQ(ParseCommandLine(static_cast<int>(arguments.size()), arguments.data()),
              GetParam().gives);
}
// clang-format off
constexpr auto kRun = CommandLine::kRun, kUsage = CommandLine::kUsage, kInvalid = CommandLine::kInvalid;
const CommandLines::ParamType kCommandLines[] = {
    {"quiet", {L"/quiet"}, {kRun, true, L"", false, L""}},
    {"quiet with a dash, in capitals", {L"-QUIET"}, {kRun, true, L"", false, L""}},
    {"log", {L"/Log", L"C:\\安装 日志.txt"}, {kRun, false, L"C:\\安装 日志.txt", false, L""}},
    {"log with a colon", {L"/quiet", L"-LOG:x.log"}, {kRun, true, L"x.log", false, L""}},
    {"all users", {L"-ALLUSERS", L"/allusers"}, {kRun, false, L"", true, L""}},
    {"log without a file", {L"/quiet", L"/log"}, {kInvalid, true, L"", false, L"“/log”后面没有可用的文件名"}},
    // What `/log %LOG% /quiet` becomes when LOG is empty: the switch stays one.
    {"log followed by a switch", {L"/log", L"/quiet"}, {kInvalid, true, L"", false, L"“/log”后面没有可用的文件名"}},
    // `/log "C:\lab\" /quiet`, as the C runtime reads it.
    {"log name with a quote", {L"/log", L"C:\\lab\" /quiet"}, {kInvalid, true, L"", false, L"“/log”后面没有可用的文件名：C:\\lab\" /quiet"}},
    {"log twice", {L"/log:a.log", L"/log", L"b.log"}, {kInvalid, false, L"a.log", false, L"“/log”不止一次"}},
    {"usage", {L"/?"}, {kUsage, false, L"", false, L""}},
    {"usage with another switch", {L"-?", L"/quiet"}, {kInvalid, true, L"", false, L"“/?”须单独使用"}},
    {"unknown switch", {L"/silent"}, {kInvalid, false, L"", false, L"无法识别的参数：/silent"}},
    {"a word", {L"quiet"}, {kInvalid, false, L"", false, L"无法识别的参数：quiet"}},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Rows, CommandLines, testing::ValuesIn(kCommandLines), kRowName);

// After the programs' hardening, a DLL that stands only beside the program (planted_dll.dll
// stands beside this test program) is not loaded by name; before it, it is, which shows that the
// plant works.
TEST(DllSearch, ADllOnlyBesideTheProgramIsNotLoadedByName) {
    const HMODULE before = LoadLibraryW(L"planted_dll.dll");
    ASSERT_NE(before, nullptr) << "the plant is not even found";
    FreeLibrary(before);
    HardenDllSearch();
    EXPECT_EQ(LoadLibraryW(L"planted_dll.dll"), nullptr);
}

}  // namespace
