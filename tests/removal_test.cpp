// The removal, run directly against the stand-in host: what it takes away, what it leaves, and
// what it makes of it. Whatever stands in the way, the settings go and nothing else of Excel's
// does.
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "files.h"
#include "removal.h"

namespace {

using Excel = removal::Outcome::Excel;
using AddIn = removal::Outcome::AddIn;

// The add-in's settings, beside those of other programs of the same maker.
constexpr wchar_t kMaker[] = L"Software\\VB and VBA Program Settings\\Halvorsk";
const std::wstring kSettings = std::wstring(kMaker) + L"\\Vorn\\Window";
const std::wstring kSibling = std::wstring(kMaker) + L"\\Other";

bool ValueExists(const std::wstring& key) {
    return RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"v", RRF_RT_ANY, nullptr, nullptr,
                        nullptr) == ERROR_SUCCESS;
}

// A clock that moves only while the busy wait pauses: thirty seconds of a busy host pass at once.
struct JumpingClock final : host::Clock {
    std::atomic<DWORD> now{0};
    DWORD Now() override { return now; }
    void Pause(DWORD milliseconds) override { now += milliseconds; }
};

struct RemovalRow {
    const char* name;
    std::function<void(class Removal&)> arrange;
    Excel excel;
    AddIn addIn;
    Needs needs = Needs::kNothing;
};

class Removal : public testing::TestWithParam<RemovalRow>, public LabPc {
public:
    Removal() : LabPc(L"removal", "", "") {}
    std::vector<std::unique_ptr<LockedFile>> held;  // by other programs while the remover runs
};

// The add-in installed, in Excel's start-up folder beside another workbook, and the settings.
TEST_P(Removal, TakesAwayWhatItCanAndSaysWhatIsLeft) {
    const RemovalRow& row = GetParam();
    if (!Has(row.needs)) GTEST_SKIP() << "not in this test prefix";
    RegDeleteTreeW(HKEY_CURRENT_USER, kMaker);
    for (const auto& key : {std::wstring(kMaker), kSettings, kSibling}) {
        RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"v", REG_SZ, L"1", 4);
    }
    WriteBytes(addIn, "add-in");
    WriteBytes(startup + L"\\Personal.xlsb", "another workbook");
    WriteBytes(hostProfile, "profile");
    row.arrange(*this);
    InstallationLock lock(InstallationLock::Taker::kRemover);
    ASSERT_TRUE(lock.taken());
    JumpingClock clock;
    host::Excel excel(clock);
    const removal::Outcome outcome = removal::RemoveAll(excel, lock);
    held.clear();
    EXPECT_EQ(outcome.excel, row.excel);
    EXPECT_EQ(outcome.addIn, row.addIn);
    EXPECT_FALSE(outcome.settingsRemain || ValueExists(kSettings));
    EXPECT_EQ(fs::exists(addIn) || fs::exists(earlierStagedAddIn), row.addIn != AddIn::kGone);
    EXPECT_TRUE(ValueExists(kSibling) && ValueExists(kMaker));
    EXPECT_EQ(ReadBytes(startup + L"\\Personal.xlsb"), "another workbook");
    EXPECT_EQ(ReadBytes(hostProfile), "profile");
}

// A row's arrangement: another program holds this file open while the remover runs, for
// `milliseconds` only when given.
auto Holding(std::wstring LabPc::*file, DWORD milliseconds = INFINITE) {
    return [=](Removal& t) { t.held.push_back(std::make_unique<LockedFile>(t.*file, milliseconds)); };
}

const auto kNothing = [](Removal&) {};

const RemovalRow kRemovalRows[] = {
    {"removed", kNothing, Excel::kAnswered, AddIn::kGone},
    {"nothing left to remove", [](Removal& t) { fs::remove(t.addIn); }, Excel::kAnswered,
     AddIn::kGone},
    // A read-only add-in (from an installer that copied it off a CD) is removed all the same; one
    // that a virus scanner holds for a moment is waited for.
    {"add-in read-only",
     [](Removal& t) { SetFileAttributesW(t.addIn.c_str(), FILE_ATTRIBUTE_READONLY); },
     Excel::kAnswered, AddIn::kGone},
    {"add-in held for a moment", Holding(&LabPc::addIn, 500), Excel::kAnswered, AddIn::kGone},
    {"add-in held open", Holding(&LabPc::addIn), Excel::kAnswered, AddIn::kInUse},
    {"a folder at the add-in's place",
     [](Removal& t) {
         fs::remove(t.addIn);
         fs::create_directories(t.addIn);
     },
     Excel::kAnswered, AddIn::kFolder},
    // What an earlier Setup left in the start-up folder, which Excel opens as a second add-in.
    {"an earlier version's copy", [](Removal& t) { WriteBytes(t.earlierStagedAddIn, "add-in"); },
     Excel::kAnswered, AddIn::kGone},
    {"an earlier version's copy held",
     [](Removal& t) {
         WriteBytes(t.earlierStagedAddIn, "add-in");
         Holding(&LabPc::earlierStagedAddIn)(t);
     },
     Excel::kAnswered, AddIn::kInUse},
    // A share out of reach (AppData redirected to a server that is down): it may be there.
    {"StartupPath out of reach", Answering(L"StartupPath", L"\\\\server\\share\\XLSTART"),
     Excel::kAnswered, AddIn::kMayRemain},
    // A start-up folder that is not a complete path would be taken from the current folder.
    {"StartupPath relative", Answering(L"StartupPath", L"..\\XLSTART"), Excel::kNotAPath,
     AddIn::kMayRemain},
    {"Excel unreachable", Answering(L"CreateFails", L"80080005"), Excel::kUnreachable,
     AddIn::kMayRemain},
    {"Excel stays busy", Answering(L"RejectCalls", L"1000000"), Excel::kUnresponsive,
     AddIn::kMayRemain},
};
INSTANTIATE_TEST_SUITE_P(Rows, Removal, testing::ValuesIn(kRemovalRows), kRowName);

// Where Windows refuses what root may do: as an account without administrator rights. A start-up
// folder that only the administrator may look into (C:\root-only\XLSTART, made by root with the
// test prefixes, holding an add-in): the add-in may still be there.
const RemovalRow kAsUserRows[] = {
    {"start-up folder that cannot be looked at",
     Answering(L"StartupPath", L"C:\\root-only\\XLSTART"), Excel::kAnswered, AddIn::kMayRemain,
     Needs::kRootOnlyFolder},
};
INSTANTIATE_TEST_SUITE_P(AsUser, Removal, testing::ValuesIn(kAsUserRows), kRowName);

// Against the stand-in as a local server, in a process of its own, as Excel answers: in process,
// its end would be the test's own.
const RemovalRow kLocalServerRows[] = {
    {"Excel slow to start", Answering(L"StartDelay", L"3"), Excel::kAnswered, AddIn::kGone},
    {"Excel ends while asked", Answering(L"ExitOnRead", L"StartupPath"), Excel::kUnreachable,
     AddIn::kMayRemain},
};
INSTANTIATE_TEST_SUITE_P(LocalServer, Removal, testing::ValuesIn(kLocalServerRows), kRowName);

}  // namespace
