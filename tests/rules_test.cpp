// The rules that the programs' decisions follow, one table each: which answers of the host are
// folders, how a busy host is waited for, how profile text is cut and checked, which template a
// version takes, what each failure is reported as, and what the remover's notice says.
#include <windows.h>

#include <algorithm>
#include <regex>
#include <set>
#include <set>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "command_line.h"
#include "dll_search.h"
#include "exit_codes.h"
#include "fLanguage.h"
#include "files.h"
#include "errors.h"
#include "host_wait.h"
#include "layout.h"
#include "lock.h"
#include "profile.h"
#include "registered_host.h"
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
TEST_P(BusyWait, RejectedCallsAreRepeatedUntilTheBusyLimit) {
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

// The program that COM starts for a local server, from its command line as registered.
using ServerProgram = testing::TestWithParam<Row<const wchar_t*, const wchar_t*>>;
TEST_P(ServerProgram, IsThePathBeforeTheArguments) {
    EXPECT_EQ(host::ProgramOf(GetParam().given), GetParam().gives);
}
// clang-format off
const ServerProgram::ParamType kServerPrograms[] = {
    {"quoted", L"\"C:\\Program Files\\Office\\EXCEL.EXE\" /automation", L"C:\\Program Files\\Office\\EXCEL.EXE"},
    {"unquoted, with spaces", L"C:\\Program Files\\Office\\EXCEL.EXE /automation", L"C:\\Program Files\\Office\\EXCEL.EXE"},
    {"short names", L"C:\\PROGRA~1\\MICROS~1\\Office14\\EXCEL.EXE /automation", L"C:\\PROGRA~1\\MICROS~1\\Office14\\EXCEL.EXE"},
    {"no arguments", L"C:\\Office\\excel.exe", L"C:\\Office\\excel.exe"},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Rows, ServerProgram, testing::ValuesIn(kServerPrograms), kRowName);

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

// What each failure is taken for, by the system's code that it met: the cause, what the report
// names with it, and the log's line with the error number and the system's code.
struct ReportRow {
    const char* name;
    install::Error given;
    install::Cause cause;
    const wchar_t* names;  // in the report
    const wchar_t* logged;
};
using ErrorReport = testing::TestWithParam<ReportRow>;
TEST_P(ErrorReport, KeepsTheCauseAndTheSystemsCode) {
    EXPECT_EQ(GetParam().given.cause, GetParam().cause);
    EXPECT_THAT(Utf8(install::ErrorReportText(GetParam().given)),
                HasSubstr(Utf8(GetParam().names)));
    EXPECT_EQ(install::ErrorLogLine(GetParam().given), GetParam().logged);
}
using namespace install;  // the reports
using C = Cause;
// clang-format off
const ReportRow kReports[] = {
    {"busy", HostError(RPC_E_CALL_REJECTED, L"Version"), C::kHostBusy, L"Version（错误代码 0x80010001）", L"错误：440（错误代码 0x80010001）"},
    {"no answer", HostError(RPC_E_CALL_CANCELED, L"Path"), C::kHostNoAnswer, L"Path（错误代码 0x80010002）", L"错误：440（错误代码 0x80010002）"},
    {"read fails", HostError(E_FAIL, L"StartupPath"), C::kHostReadFailed, L"StartupPath（错误代码 0x80004005）", L"错误：440（错误代码 0x80004005）"},
    {"not installed", HostError(REGDB_E_CLASSNOTREG, L""), C::kHostNotInstalled, L"\n错误代码 0x80040154", L"错误：429（错误代码 0x80040154）"},
    {"unreachable", HostError(E_ACCESSDENIED, L""), C::kHostUnreachable, L"错误代码 0x80070005", L"错误：429（错误代码 0x80070005）"},
    {"stopped", HostError(E_ABORT, L"Path"), C::kStopped, L"", L"错误：1602（错误代码 0x80004004）"},
    {"disk full", WriteError(ERROR_HANDLE_DISK_FULL, L"F:\\a"), C::kDiskFull, L"磁盘已满）：\nF:\\a", L"错误：61（系统错误 39）"},
    {"in use", WriteError(ERROR_SHARING_VIOLATION, L"F:\\a"), C::kInUse, L"F:\\a", L"错误：70（系统错误 32）"},
    {"refused", WriteError(ERROR_ACCESS_DENIED, L"F:\\a"), C::kNoRightToWrite, L"F:\\a", L"错误：70（系统错误 5）"},
    {"other", WriteError(ERROR_WRITE_FAULT, L"F:\\a"), C::kWriteFailed, L"系统错误 29", L"错误：75（系统错误 29）"},
    {"not looked at", LookError(ERROR_BAD_NETPATH, L"\\\\s\\x"), C::kLookFailed, L"系统错误 53", L"错误：75（系统错误 53）"},
    // A profile that does not read back as written was cut where the disk is (nearly) full.
    {"read back cut, no room", ReadBackError(0, L"F:\\a"), C::kDiskFull, L"F:\\a", L"错误：61（系统错误 112）"},
    {"read back cut, a few bytes left", ReadBackError(600, L"F:\\a"), C::kDiskFull, L"F:\\a", L"错误：61（系统错误 112）"},
    {"read back wrong, room left", ReadBackError(1 << 20, L"F:\\a"), C::kProfileReadBackWrong, L"F:\\a", L"错误：75"},
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
    {"Excel not found", {.excel = Excel::kNotFound, .addIn = AddIn::kMayRemain}, {L"没有找到 Excel", 1603}},
    {"installed for every account", {.forEveryAccount = true}, {L"remover.exe\r\n/allusers", 1603}},
    {"stopped by the user", {.stopped = true}, {L"取消", 1602}},
    {"for every account, no rights", {.needsAdministrator = true}, {L"管理员权限", 740}},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Rows, Notice, testing::ValuesIn(kNotices), kRowName);

// The names of a PC as the lock sees them, played: the mutexes that others hold (or a lock
// taken here), and how long each that was held was waited for. The remover's mark, made or
// opened, is an event of the test's own; a namespace, a handle that closing leaves alone.
struct FakeLockCalls final : LockCalls {
    bool administrator;        // may make the namespace: Setup, not the remover
    bool markRefused = false;  // another account holds the mark's name
    std::set<Mutex> held;
    std::vector<DWORD> waits;

    UniqueNamespace OpenNamespace(bool create) override {
        const bool made = held.contains(Mutex::kInNamespace) || (create && administrator);
        return UniqueNamespace(made ? GetCurrentProcess() : nullptr);
    }
    HeldMutex Take(Mutex mutex, DWORD milliseconds) override {
        if (held.insert(mutex).second) return HeldMutex(CreateMutexW(nullptr, TRUE, nullptr));
        waits.push_back(milliseconds);
        return {};
    }
    UniqueHandle OpenMark(bool) override {
        const wchar_t* name = L"qorvel-tests-mark";
        return UniqueHandle(markRefused ? nullptr : CreateEventW(nullptr, TRUE, FALSE, name));
    }
};
using Arrange = std::function<void(FakeLockCalls&)>;
using enum LockCalls::Mutex;
using enum InstallationLock::Taker;

// One installation or removal at a time, whoever starts first; Setup waits a while for a remover,
// and a remover never deletes what a Setup that started after it installed.
struct LockRow {
    const char* name;
    InstallationLock::Taker taker;
    Arrange before, meanwhile;  // what others hold at the start; do before the second look
    bool taken, alone;          // alone: a remover's second look finds that no Setup has run
    std::vector<DWORD> waits;   // for each mutex that others held, how long it was waited for
};
using Lock = testing::TestWithParam<LockRow>;
TEST_P(Lock, OneAtATime) {
    const LockRow& row = GetParam();
    FakeLockCalls calls;
    calls.administrator = row.taker == kSetup;
    row.before(calls);
    InstallationLock lock(row.taker, calls);
    EXPECT_EQ(lock.taken(), row.taken);
    row.meanwhile(calls);
    EXPECT_EQ(row.taker == kRemover && lock.StillAlone(), row.alone);
    EXPECT_EQ(calls.waits, row.waits);
}
constexpr DWORD kGrace = InstallationLock::kRemovalGraceMs;
const Arrange kNone = [](FakeLockCalls&) {};
const Arrange kSetupRuns = [](FakeLockCalls& c) { c.held.insert(kInNamespace); };
const Arrange kRemoverRuns = [](FakeLockCalls& c) { c.held.insert(kGlobal); };
const Arrange kNoNamespaceARemoverRuns = [](FakeLockCalls& c) {
    c.administrator = false, c.held.insert(kGlobal);
};
const Arrange kMarkNameHeld = [](FakeLockCalls& c) { c.markRefused = true; };
const Arrange kSetupComesAndGoes = [](FakeLockCalls& c) {
    c.administrator = true, InstallationLock(kSetup, c).Release(), c.held.erase(kInNamespace);
};
// clang-format off
const LockRow kLockRows[] = {
    {"Setup, nothing runs", kSetup, kNone, kNone, true, false, {}},
    {"Setup waits for a remover, then goes on", kSetup, kRemoverRuns, kNone, true, false, {kGrace}},
    {"Setup, no namespace to be made, a remover runs", kSetup, kNoNamespaceARemoverRuns, kNone, false, false, {0}},
    {"remover, nothing runs", kRemover, kNone, kNone, true, true, {}},
    {"remover, a Setup runs", kRemover, kSetupRuns, kNone, false, false, {0}},
    {"remover, another account holds the mark's name", kRemover, kMarkNameHeld, kNone, false, false, {}},
    {"remover, a Setup starts before its second look", kRemover, kNone, kSetupRuns, true, false, {0}},
    {"remover, a Setup comes and goes before it", kRemover, kNone, kSetupComesAndGoes, true, false, {kGrace}},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Rows, Lock, testing::ValuesIn(kLockRows), kRowName);

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

// The exit codes that the README and the administrator's note list for administrators are the
// programs' own: those of exit_code::kMeanings, and Setup's error numbers, no more and no less.
std::set<std::string> Listed(const std::string& text, const char* pattern) {
    std::set<std::string> listed;
    const std::regex row(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), row); it != std::sregex_iterator();
         ++it) {
        const std::string who = (*it)[1];
        for (const char* program : {"Setup", "remover"}) {
            if (who == program || who == "both" || who.empty()) listed.insert(program + (" " + (*it)[2].str()));
        }
    }
    return listed;
}
TEST(ExitCodes, AreTheOnesTheDocumentsList) {
    std::set<std::string> own, setup;
    for (const exit_code::Meaning& meaning : exit_code::kMeanings) {
        for (const auto program : {exit_code::kSetup, exit_code::kRemover}) {
            if (meaning.program & program) {
                own.insert((program == exit_code::kSetup ? "Setup " : "remover ") +
                           std::to_string(meaning.code));
            }
        }
    }
    for (int cause = 0; cause < 100; ++cause) {
        own.insert("Setup " + std::to_string(install::NumberOf(static_cast<install::Cause>(cause))));
    }
    const fs::path source = fs::path(L"Z:" QORVEL_SOURCE_DIR).make_preferred();
    EXPECT_EQ(Listed(ReadBytes(source / "README.md"), R"(\n\| (both|Setup|remover) \| (\d+) \|)"), own);
    // The note lists each code at the start of a line of its exit codes' part, and says in words
    // whom it concerns.
    const std::string note = ReadBytes(source / "package/README.txt.in");
    const auto Codes = [](const std::set<std::string>& listed) {
        std::set<std::string> codes;
        for (const std::string& one : listed) codes.insert(one.substr(one.find(' ') + 1));
        return codes;
    };
    EXPECT_EQ(Codes(Listed(note.substr(note.find("退出代码（")), R"(\n  ()(\d+) {2,})")), Codes(own));
}

}  // namespace
