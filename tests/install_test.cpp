// The install procedure, run directly against the stand-in host: what lands in Excel's folders,
// and what the user is told. A failure, whatever its cause, changes nothing there.
#include <windows.h>

#include <fstream>
#include <functional>
#include <optional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_clock.h"
#include "file_ops.h"
#include "files.h"
#include "install.h"

namespace {

using Lines = std::vector<std::string>;
using testing::HasSubstr;

constexpr char kAddIn[] = "add-in workbook, release 2";
// The shipped profile, in code page 936: User=实验室, and no Ver, so that a first installation
// that wrote one would show.
constexpr char kShipped[] = "[CurveInformation]\r\nUser=\xCA\xB5\xD1\xE9\xCA\xD2\r\n";
// What an earlier installation left: the recorded paths, the add-in's own keys, other sections.
constexpr char kEarlierProfile[] =
    "[CurveInformation]\r\nFilePath=D:\\old\\Qorvel.xltm\r\nDtPath=D:\\old\\Qorvel.mdb\r\n"
    "InstDate=2020/1/2\r\nVer=1.0\r\nOwn=kept\r\n[Other]\r\nKeep=1\r\n";

// Today as the users' short date format (yyyy/M/d on Simplified-Chinese Windows) writes it.
std::string Today() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return std::to_string(now.wYear) + "/" + std::to_string(now.wMonth) + "/" +
           std::to_string(now.wDay);
}

struct InstallRow;

class Install : public testing::TestWithParam<InstallRow>, public LabPc {
public:
    Install() : LabPc(L"install", kAddIn, kShipped) {}

    std::optional<install::Error> Run() { return install::Run(installSet, application, clock); }
    // What the installation places: everything in Excel's folders, by name, with its bytes.
    auto Placed() const { return std::pair(TreeOf(excel), TreeOf(startup)); }
    // An install set path as it stands in the profile: the folder 安装包 in code page 936.
    std::string InSet(const char* suffix) const { return Cp936(installSet) + suffix; }

    std::wstring shipped = installSet + L"\\QorvelProfile.ini";
    std::wstring addInSource = installSet + L"\\setup.xla";
    FakeClock clock;  // a busy host is waited for at once
    ComPtr<IDispatch> application;
};

struct InstallRow {
    const char* name;
    bool later;  // an earlier installation left its add-in and host profile
    std::function<void(Install&)> arrange;
    int number;                             // the error reported, or 0: the installation completes
    const wchar_t* subject = L"";           // what the report says
    std::wstring Install::*held = nullptr;  // held open by another program for `heldFor` ms
    DWORD heldFor = INFINITE;
};

// The host profile after a first installation (the shipped one with where the install set's
// files are) or after a later one (only FilePath and Ver change, in place); the add-in replaced;
// nothing else left in Excel's folders, nothing placed read-only, hidden or a system file; the
// host asked nothing but its four names, all in locale 1033. A failure changes nothing at all, so
// that the next run starts from where this one did.
TEST_P(Install, EndsCompleteOrChangesNothing) {
    const InstallRow& row = GetParam();
    if (row.later) {
        WriteBytes(hostProfile, kEarlierProfile);
        WriteBytes(addIn, "add-in workbook, release 1");
        WriteBytes(shipped, "[CurveInformation]\r\nVer=2.0\r\n");
        host.Set(L"Version", L"16.0");
    }
    row.arrange(*this);
    const auto before = Placed();
    std::optional<LockedFile> held;
    if (row.held) held.emplace(this->*row.held, row.heldFor);
    const auto failure = Run();
    held.reset();
    if (row.number) {
        ASSERT_TRUE(failure) << "reported as complete";
        EXPECT_EQ(failure->number, row.number);
        EXPECT_THAT(Utf8(install::ErrorReportText(*failure)), HasSubstr(Utf8(row.subject)));
        EXPECT_EQ(Placed(), before);
        return;
    }
    ASSERT_FALSE(failure) << Utf8(install::ErrorReportText(*failure));
    const Lines first = {"[CurveInformation]",
                         "User=\xCA\xB5\xD1\xE9\xCA\xD2",
                         "FilePath=" + InSet("\\Qorvel.xltm"),
                         "DtPath=" + InSet("\\Data\\Qorvel.mdb"),
                         "DeskPhoto=" + InSet("\\Face\\face01.jpg"),
                         "WkPath=" + InSet("\\Data\\Samples.mdb"),
                         "InstDate=" + Today()};
    const Lines later = {"[CurveInformation]",
                         "FilePath=" + InSet("\\Qorvel.xlt"),
                         "DtPath=D:\\old\\Qorvel.mdb",
                         "InstDate=2020/1/2",
                         "Ver=2.0",
                         "Own=kept",
                         "[Other]",
                         "Keep=1"};
    EXPECT_EQ(LinesOf(ReadBytes(hostProfile)), row.later ? later : first);
    EXPECT_EQ(ReadBytes(addIn), kAddIn);
    EXPECT_THAT(TreeOf(excel), testing::ElementsAre(testing::Key("QorvelProfile.ini")));
    for (const auto& placed : {hostProfile, addIn}) {
        EXPECT_EQ(GetFileAttributesW(placed.c_str()) & kProtectiveAttributes, 0u) << Utf8(placed);
    }
    EXPECT_THAT(host.Calls(), testing::Each(testing::AnyOf(
                                  HasSubstr(" Application 1033"), HasSubstr(" Path 1033"),
                                  HasSubstr(" StartupPath 1033"), HasSubstr(" Version 1033"))));
}

void SetAttributes(const std::wstring& path, DWORD attributes) {
    SetFileAttributesW(path.c_str(), attributes);
}
constexpr DWORD kReadOnly = FILE_ATTRIBUTE_READONLY;

const InstallRow kInstallRows[] = {
    {"first installation", false, [](Install&) {}, 0},
    {"later installation", true, [](Install&) {}, 0},
    // Install sets come on CDs and read-only shares; earlier runs may have left read-only files
    // (matters where read-only is enforced: these also run without administrator rights).
    {"read-only install set", false,
     [](Install& t) {
         SetAttributes(t.shipped, kProtectiveAttributes);
         SetAttributes(t.addInSource, kProtectiveAttributes);
     },
     0},
    {"read-only earlier files", true,
     [](Install& t) {
         SetAttributes(t.hostProfile, kReadOnly);
         SetAttributes(t.addIn, kReadOnly);
     },
     0},
    {"read-only leftovers of a killed run", false,
     [](Install& t) {
         for (const auto& leftover : {t.hostProfile + L".tmp", t.addIn + L".tmp"}) {
             WriteBytes(leftover, "[CurveInformation]\r\nFilePath=stale\r\nJunk=1\r\n");
             SetAttributes(leftover, kReadOnly);
         }
     },
     0},
    // A virus scanner holds a file that was just written for a moment: it is waited for.
    {"add-in held for a moment", true, [](Install&) {}, 0, L"", &Install::addIn, 500},
    // Everything the host must answer is asked before the first change.
    {"version not a number", false, [](Install& t) { t.host.Set(L"Version", L"abc"); },
     install::kTypeMismatch, L"“abc”"},
    {"Path drive-relative", false, [](Install& t) { t.host.Set(L"Path", L"C:Office14"); },
     install::kPathNotFound, L"Path = “C:Office14”"},
    {"StartupPath a file", false,
     [](Install& t) {
         RemoveTree(t.startup);
         WriteBytes(t.startup, "not a folder");
     },
     install::kFileAccessError, L"XLSTART"},
    // A hidden host profile holds the recorded paths and the add-in's own keys all the same.
    {"hidden host profile", true,
     [](Install& t) { SetAttributes(t.hostProfile, FILE_ATTRIBUTE_HIDDEN); },
     install::kFileAccessError, L"QorvelProfile.ini"},
    // Texts that code page 936 cannot hold are never written with "?" in their place.
    {"host folder outside code page 936", false,
     [](Install& t) {
         fs::create_directories(t.root / L"오피스");
         t.host.Set(L"Path", t.root / L"오피스");
     },
     install::kInvalidArgument, L"오피스"},
    {"install set outside code page 936", false,
     [](Install& t) {
         t.installSet = t.root / L"한글";
         fs::rename(t.root / L"安装包", t.installSet);
     },
     install::kInvalidArgument, L"한글"},
    {"shipped profile not code-page text", false,
     [](Install& t) { WriteBytes(t.shipped, "[CurveInformation]\r\nUser=\xA1\x20\r\n"); },
     install::kInvalidArgument, L"第 2 行"},
    {"shipped profile ends in half a character", false,
     [](Install& t) { WriteBytes(t.shipped, "[CurveInformation]\r\n\r\nVer=2.0\xFE"); },
     install::kInvalidArgument, L"第 3 行"},
    {"add-in open in Excel", true, [](Install&) {}, install::kPermissionDenied, L"Qorv.xla",
     &Install::addIn},
};
INSTANTIATE_TEST_SUITE_P(Rows, Install, testing::ValuesIn(kInstallRows), kRowName);

class InstallOnTheEdge : public testing::Test, public LabPc {
protected:
    InstallOnTheEdge() : LabPc(L"install-edge", kAddIn, kShipped) {}
    ComPtr<IDispatch> application;
};

// Excel that neither answers nor rejects a call (hung, or waiting at a dialog it cannot show) is
// given up after a minute (on a clock that runs thirty times as fast here), and nothing on disk
// has changed. Excel runs in a process of its own for this: in process, a hung host would be
// the test itself (installer.local_server).
TEST_F(InstallOnTheEdge, HostThatNeverAnswersIsGivenUp) {
    if (!StandInHost::OutOfProcess()) GTEST_SKIP() << "needs the host in a process of its own";
    host.Set(L"HangOnRead", L"Version");
    host.Set(L"HangMs", L"6000");
    FastClock fast;
    HRESULT ended = S_OK;
    host::OnCancelledCallNotHandedBack([&](HRESULT why) { ended = why; });
    const auto failure = install::Run(installSet, application, fast);
    host::OnCancelledCallNotHandedBack(nullptr);
    // Wine hands the cancelled call back only when the host answers at last (after 6 s), Windows at
    // once: Setup would have told the user and ended before.
    EXPECT_EQ(ended, RPC_E_CALL_CANCELED);
    ASSERT_TRUE(failure);
    EXPECT_EQ(Utf8(failure->subject), Utf8(L"Version（错误代码 0x80010002）"));
    EXPECT_EQ(TreeOf(excel), TreeOf(startup)) << "both empty";
    application.Detach();  // letting go would wait for the hung host
}

// Excel's folders on a disk that fills up: the user is told the disk is full, naming the file, and
// the old add-in and the old host profile stay whole, whether the disk is full before the profile
// is copied, while its edits are written (the profile call may then cut the file without a
// word), or before the add-in is copied. The test prefix mounts a small disk as drive F: when it
// is made by root.
TEST_F(InstallOnTheEdge, AFullDiskLeavesTheOldFilesWhole) {
    if (GetDriveTypeW(L"F:\\") == DRIVE_NO_ROOT_DIR) {
        GTEST_SKIP() << "no small disk F: (wine-prefix start mounts one when run as root)";
    }
    const std::wstring office = L"F:\\Office14", profile = office + L"\\QorvelProfile.ini";
    const auto page = [](int n) { return L"F:\\fill" + std::to_wstring(n); };
    const auto clear = [&] {
        RemoveTree(office);
        for (int i = 0; DeleteFileW(page(i).c_str()); ++i) {
        }
    };
    clear();
    fs::create_directories(office + L"\\XLSTART");
    host.Set(L"Path", office);
    host.Set(L"StartupPath", office + L"\\XLSTART");
    WriteBytes(installSet + L"\\setup.xla", std::string(40000, 'n'));
    // Just under a page: the edits take the profile past it.
    WriteBytes(profile, "[CurveInformation]\r\nFilePath=D:\\old.xltm\r\nOwn=" +
                            std::string(4000, 'k') + "\r\n[Other]\r\nKeep=1\r\n");
    WriteBytes(office + L"\\XLSTART\\Qorv.xla", std::string(8192, 'o'));
    const auto before = TreeOf(office);
    // The disk filled with pages, then some of them given back before each run.
    int pages = 0;
    for (; pages < 256; ++pages) {
        std::ofstream fill(fs::path(page(pages)), std::ios::binary);
        if (!fill.write(std::string(4096, 'f').data(), 4096).flush()) break;
    }
    const struct {
        const char* name;
        int giveBack;
        const char* named;
    } rows[] = {{"no room for the profile's copy", 0, "QorvelProfile.ini"},
                {"no room for its edits", 1, "QorvelProfile.ini"},
                {"no room for the add-in", 2, "Qorv.xla"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        for (int i = 0; i < row.giveBack; ++i) DeleteFileW(page(--pages).c_str());
        const auto failure = install::Run(installSet, application);
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->number, install::kDiskFull);
        EXPECT_THAT(Utf8(failure->subject), HasSubstr(row.named));
        EXPECT_EQ(TreeOf(office), before);
    }
    clear();
}

}  // namespace
