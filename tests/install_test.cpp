// The install procedure, run directly against the stand-in host: what lands in Excel's folders,
// and what the user is told. A failure, whatever its cause, changes nothing there.
#include <windows.h>

#include <fstream>
#include <functional>
#include <memory>
#include <optional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "file_ops.h"
#include "files.h"
#include "install.h"

namespace {

using testing::EndsWith;
using testing::HasSubstr;

constexpr char kAddIn[] = "add-in workbook, release 2";
// The shipped profile, in code page 936: User=实验室, and no Ver, so that a first installation
// that wrote one would show.
constexpr char kShipped[] = "[CurveInformation]\r\nUser=\xCA\xB5\xD1\xE9\xCA\xD2\r\n";
// What an earlier installation left: the recorded paths, the add-in's own keys, other sections.
constexpr char kEarlierProfile[] =
    "[CurveInformation]\r\nFilePath=D:\\old\\Qorvel.xltm\r\nDtPath=D:\\old\\Qorvel.mdb\r\n"
    "InstDate=2020/1/2\r\nVer=1.0\r\nOwn=kept\r\n[Other]\r\nKeep=1\r\n";
// A later install set's version, longer than the add-in's own read of it takes: 254 bytes of it.
const std::string kLongVersion(300, '2');

// Today as the users' short date format (yyyy/M/d on Simplified-Chinese Windows) writes it.
std::string Today() {
    wchar_t today[32];
    GetDateFormatW(LOCALE_INVARIANT, 0, nullptr, L"yyyy/M/d", today, 32);
    return Utf8(today);
}

// A clock that runs thirty times as fast as the real one: a minute passes in two seconds.
struct FastClock final : host::Clock {
    DWORD Now() override { return GetTickCount() * 30; }
    void Pause(DWORD milliseconds) override { Sleep(milliseconds / 30); }
};

struct InstallRow {
    const char* name;
    bool later;  // an earlier installation left its add-in and host profile
    std::function<void(class Install&)> arrange;
    int number;                    // the error reported, or 0: the installation completes
    const wchar_t* subject = L"";  // what the report ends with: the path or value involved
    Needs needs = Needs::kNothing;
};

class Install : public testing::TestWithParam<InstallRow>, public LabPc {
public:
    Install()
        : LabPc(GetParam().needs == Needs::kSmallDisk && Has(Needs::kSmallDisk) ? L"F:\\lab"
                                                                               : L"install",
                kAddIn, kShipped) {}

    std::vector<std::unique_ptr<LockedFile>> held;  // by other programs while Setup runs
};

// The host profile after a first installation (the shipped one with where the install set's
// files are) or after a later one (only FilePath and Ver change, in place); the add-in replaced;
// nothing else left in Excel's folders, nothing placed read-only, hidden or a system file, and
// nothing but the add-in ever appearing in the start-up folder, where Excel opens every file; the
// host asked nothing but its four names, all in locale 1033. A failure changes nothing at all, so
// that the next run starts from where this one did.
TEST_P(Install, EndsCompleteOrChangesNothing) {
    const InstallRow& row = GetParam();
    if (!Has(row.needs)) GTEST_SKIP() << "not in this test prefix";
    if (row.later) {
        WriteBytes(hostProfile, kEarlierProfile);
        WriteBytes(addIn, "add-in workbook, release 1");
        WriteBytes(shippedProfile, "[CurveInformation]\r\nVer=" + kLongVersion + "\r\n");
        Answer(L"Version", L"16.0");
    }
    row.arrange(*this);
    const auto before = TreeOf(excel);
    FastClock clock;
    FolderWatch startupFolder(startup);
    std::optional<install::Error> failure;
    {
        host::Excel application(clock);
        failure = install::Run(install::InstallSet(installSet), application);
    }
    held.clear();
    if (row.number) {
        ASSERT_TRUE(failure) << "reported as complete";
        EXPECT_EQ(failure->number, row.number);
        EXPECT_THAT(Utf8(install::ErrorReportText(*failure)), EndsWith(Utf8(row.subject)));
        EXPECT_EQ(TreeOf(excel), before);
        return;
    }
    ASSERT_FALSE(failure) << Utf8(install::ErrorReportText(*failure));
    const std::string set = Cp936(installSet);  // where the profile says the install set is
    const std::string first =
        "[CurveInformation]\nUser=\xCA\xB5\xD1\xE9\xCA\xD2\nFilePath=" + set +
        "\\Qorvel.xltm\nDtPath=" + set + "\\Data\\Qorvel.mdb\nDeskPhoto=" + set +
        "\\Face\\face01.jpg\nWkPath=" + set + "\\Data\\Samples.mdb\nInstDate=" + Today();
    const std::string later = "[CurveInformation]\nFilePath=" + set +
                              "\\Qorvel.xlt\nDtPath=D:\\old\\Qorvel.mdb\nInstDate=2020/1/2\nVer=" +
                              kLongVersion.substr(0, 254) + "\nOwn=kept\n[Other]\nKeep=1";
    EXPECT_EQ(LinesOf(ProfileText(hostProfile)), LinesOf(row.later ? later : first));
    EXPECT_EQ(ReadBytes(addIn), kAddIn);
    EXPECT_THAT(TreeOf(excel),
                testing::ElementsAre(testing::Key("QorvelProfile.ini"), testing::Key("XLSTART"),
                                     testing::Key("XLSTART\\Qorv.xla")));
    EXPECT_THAT(startupFolder.Appeared(), testing::Each(std::string("Qorv.xla")));
    for (const auto& placed : {hostProfile, addIn}) {
        EXPECT_EQ(GetFileAttributesW(placed.c_str()) & kProtectiveAttributes, 0u) << Utf8(placed);
    }
    EXPECT_THAT(HostCalls(), testing::Each(testing::AnyOf(
                                 "CreateInstance", HasSubstr(" Application 1033"), HasSubstr(" Path 1033"),
                                 HasSubstr(" StartupPath 1033"), HasSubstr(" Version 1033"))));
}

// A row's arrangement: these files of the lab PC get these attributes.
auto Setting(DWORD attributes, std::vector<std::wstring LabPc::*> files) {
    return [=](Install& t) {
        for (const auto file : files) SetFileAttributesW((t.*file).c_str(), attributes);
    };
}

// A row's arrangement: another program holds this file open while Setup runs, for `milliseconds`
// only when given, sharing it as `share` says.
auto Holding(std::wstring LabPc::*file, DWORD milliseconds = INFINITE,
             DWORD share = FILE_SHARE_READ) {
    return [=](Install& t) {
        t.held.push_back(std::make_unique<LockedFile>(t.*file, milliseconds, share));
    };
}

// A row's arrangement: a folder stands where a file belongs.
auto FolderAt(std::wstring LabPc::*file) {
    return [=](Install& t) {
        fs::remove(t.*file);
        fs::create_directories(t.*file);
    };
}

// Excel's folders on a disk that is full but for `pagesLeft` of 4 KB, holding an earlier add-in and
// a host profile just under a page, which the edits take past it; a larger add-in to install.
auto OnAFullDisk(int pagesLeft) {
    return [=](Install& t) {
        WriteBytes(t.hostProfile, "[CurveInformation]\r\nOwn=" + std::string(4060, 'k') + "\r\n");
        WriteBytes(t.addIn, std::string(8192, 'o'));
        WriteBytes(t.addInSource, std::string(40000, 'n'));
        const auto page = [&](int n) { return t.root / ("fill" + std::to_string(n)); };
        int pages = 0;
        while (pages < 256 &&
               std::ofstream(page(pages)).write(std::string(4096, 'f').data(), 4096).flush())
            ++pages;
        for (int i = 0; i < pagesLeft; ++i) fs::remove(page(--pages));
    };
}

const InstallRow kInstallRows[] = {
    {"first installation", false, [](Install&) {}, 0},
    {"later installation", true, [](Install&) {}, 0},
    // A host profile that the profile calls read and write as they read and write any other.
    {"host profile in UTF-16", true,
     [](Install& t) {
         const std::string earlier = kEarlierProfile;
         const std::wstring text = L"\uFEFF" + std::wstring(earlier.begin(), earlier.end());
         WriteBytes(t.hostProfile, std::string_view(reinterpret_cast<const char*>(text.data()),
                                                    text.size() * sizeof(wchar_t)));
     },
     0},
    {"comment after the section's name", true,
     [](Install& t) {
         WriteBytes(t.hostProfile,
                    "[CurveInformation] ; settings" + std::string(kEarlierProfile).substr(18));
     },
     0},
    // A virus scanner holds a file that was just written for a moment: it is waited for.
    {"add-in held for a moment", true, Holding(&LabPc::addIn, 500), 0},
    // Everything the host must answer is asked before the first change.
    {"version not a number", false, Answering(L"Version", L"abc"), install::kTypeMismatch,
     L"“abc”"},
    {"Path drive-relative", false, Answering(L"Path", L"C:Office14"), install::kPathNotFound,
     L"Path = “C:Office14”"},
    {"StartupPath a file", false, [](Install& t) { t.Answer(L"StartupPath", t.shippedProfile); },
     install::kFileAccessError, L"安装包\\QorvelProfile.ini"},
    // Converting an answer that is not text would call into Excel again, outside every bound.
    {"Version an object that hangs", false, Answering(L"ObjectOnRead", L"Version"),
     install::kAutomationError, L"Version（错误代码 0x80020005）"},
    // Excel that neither answers nor rejects a call (hung, or waiting at a dialog it cannot show)
    // is given up after a minute.
    {"host never answers", false,
     [](Install& t) {
         t.Answer(L"HangOnRead", L"Version");
         t.Answer(L"HangMs", L"6000");
     },
     install::kAutomationError, L"Version（错误代码 0x80010002）"},
    // A hidden or system host profile holds the recorded paths and the add-in's own keys.
    {"hidden host profile", true, Setting(FILE_ATTRIBUTE_HIDDEN, {&LabPc::hostProfile}),
     install::kFileAccessError, L"QorvelProfile.ini"},
    {"system host profile", true, Setting(FILE_ATTRIBUTE_SYSTEM, {&LabPc::hostProfile}),
     install::kFileAccessError, L"QorvelProfile.ini"},
    // A folder where a file belongs is named as such, at its place.
    {"a folder at the host profile's place", false, FolderAt(&LabPc::hostProfile),
     install::kFileAccessError, L"Office14\\QorvelProfile.ini"},
    {"a folder at the add-in's place", true, FolderAt(&LabPc::addIn), install::kFileAccessError,
     L"XLSTART\\Qorv.xla"},
    {"a folder at the staging place", true, FolderAt(&LabPc::stagedAddIn),
     install::kFileAccessError, L"Office14\\Qorv.xla.tmp"},
    // What stands at a staging place is never written through (a hard link to a file elsewhere):
    // one that cannot be cleared is named, and nothing changes.
    {"a held link at the staging place", true,
     [](Install& t) {
         WriteBytes(t.root / L"elsewhere", "someone else's");
         CreateHardLinkW(t.stagedAddIn.c_str(), (t.root / L"elsewhere").c_str(), nullptr);
         Holding(&LabPc::stagedAddIn, INFINITE, FILE_SHARE_READ | FILE_SHARE_WRITE)(t);
     },
     install::kPermissionDenied, L"Office14\\Qorv.xla.tmp"},
    {"an earlier version's copy held", true,
     [](Install& t) {
         WriteBytes(t.earlierStagedAddIn, "add-in workbook, release 1");
         Holding(&LabPc::earlierStagedAddIn)(t);
     },
     install::kPermissionDenied, L"XLSTART\\Qorv.xla.tmp"},
    // Texts that code page 936 cannot hold are never written with "?" in their place.
    {"host folder outside code page 936", false,
     [](Install& t) { t.Answer(L"Path", t.root / L"오피스"); }, install::kInvalidArgument,
     L"오피스"},
    {"install set outside code page 936", false,
     [](Install& t) {
         t.installSet = t.root / L"한글";
         fs::rename(t.root / L"安装包", t.installSet);
     },
     install::kInvalidArgument, L"한글"},
    {"shipped profile not code-page text", false,
     [](Install& t) { WriteBytes(t.shippedProfile, "[CurveInformation]\r\nUser=\xA1\x20\r\n"); },
     install::kInvalidArgument, L"QorvelProfile.ini（第 2 行）"},
    {"shipped profile ends in half a character", false,
     [](Install& t) { WriteBytes(t.shippedProfile, "[CurveInformation]\r\n\r\nVer=2.0\xFE"); },
     install::kInvalidArgument, L"QorvelProfile.ini（第 3 行）"},
    {"add-in open in Excel", true, Holding(&LabPc::addIn), install::kPermissionDenied,
     L"XLSTART\\Qorv.xla"},
    // The add-in moved into place before it is put back: both or neither.
    {"host profile open", true, Holding(&LabPc::hostProfile), install::kPermissionDenied,
     L"Office14\\QorvelProfile.ini"},
    // The user is told the disk is full, naming the file, and the old files stay whole, whether the
    // disk fills before the profile is copied, while its edits are written (the profile call may
    // then cut the file without a word), or before the add-in is copied.
    {"disk full before the profile", false, OnAFullDisk(0), install::kDiskFull,
     L"QorvelProfile.ini.tmp", Needs::kSmallDisk},
    {"disk full in its edits", false, OnAFullDisk(1), install::kDiskFull, L"QorvelProfile.ini.tmp",
     Needs::kSmallDisk},
    {"disk full before the add-in", false, OnAFullDisk(3), install::kDiskFull, L"Qorv.xla.tmp",
     Needs::kSmallDisk},
};
INSTANTIATE_TEST_SUITE_P(Rows, Install, testing::ValuesIn(kInstallRows), kRowName);

// Where Windows refuses what root may do: as an account without administrator rights.
const InstallRow kAsUserRows[] = {
    // Install sets come on CDs and read-only shares; earlier runs may have left read-only files.
    {"read-only install set", false,
     Setting(kProtectiveAttributes, {&LabPc::shippedProfile, &LabPc::addInSource}), 0},
    {"read-only earlier files", true,
     Setting(FILE_ATTRIBUTE_READONLY, {&LabPc::hostProfile, &LabPc::addIn}), 0},
    {"read-only leftovers of a killed run", false,
     [](Install& t) {
         for (const auto& leftover :
              {t.hostProfile + L".tmp", t.stagedAddIn, t.earlierStagedAddIn}) {
             WriteBytes(leftover, "[CurveInformation]\r\nFilePath=stale\r\nJunk=1\r\n");
             SetFileAttributesW(leftover.c_str(), FILE_ATTRIBUTE_READONLY);
         }
     },
     0},
    // Excel's program folder that only the administrator may look into (C:\root-only, made by
    // root with the test prefixes): whether a host profile stands there is not known.
    {"host profile that cannot be looked at", false, Answering(L"Path", L"C:\\root-only"),
     install::kPermissionDenied, L"C:\\root-only\\QorvelProfile.ini", Needs::kRootOnlyFolder},
};
INSTANTIATE_TEST_SUITE_P(AsUser, Install, testing::ValuesIn(kAsUserRows), kRowName);

// An edit of the staged profile that another program holds past the retries (a virus scanner)
// is reported as the file in use.
TEST(EditProfile, OfAHeldFileNamesTheFileInUse) {
    LabPc pc(L"edit", kAddIn, kShipped);
    const LockedFile held(pc.shippedProfile);
    const auto failure = install::EditProfile(pc.shippedProfile, {{"FilePath", "x"}});
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->number, install::kPermissionDenied);
}

}  // namespace
