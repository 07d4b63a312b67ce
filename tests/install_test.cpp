// The install procedure, run directly against the stand-in host: what lands in Excel's folders,
// what the host was asked, and what the user is told.
#include <windows.h>

#include <functional>
#include <optional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_clock.h"
#include "files.h"
#include "install.h"

namespace {

using Lines = std::vector<std::string>;

constexpr char kAddIn[] = "add-in workbook, release 2";
// The shipped profile, in code page 936: User=实验室, and no Ver, so that a first installation
// that wrote one would show.
constexpr char kShipped[] = "[CurveInformation]\r\nUser=\xCA\xB5\xD1\xE9\xCA\xD2\r\n";
constexpr char kShippedVer[] = "[CurveInformation]\r\nVer=1.5\r\n";

// Today as the users' short date format (yyyy/M/d on Simplified-Chinese Windows) writes it.
std::string Today() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return std::to_string(now.wYear) + "/" + std::to_string(now.wMonth) + "/" +
           std::to_string(now.wDay);
}

class InstallTest : public testing::Test, protected LabPc {
protected:
    InstallTest() : LabPc(L"install", kAddIn, kShipped) {
        // A folder path without a drive resolves against the current drive: drive C of the prefix.
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        SetCurrentDirectoryW(temp);
    }

    std::optional<install::Error> Install() {
        application.Reset();
        host.ClearCalls();
        return install::Run(installSet, application, clock);
    }

    // An install set path as it stands in the profile: the folder 安装包 in code page 936.
    std::string InSet(const char* suffix) const {
        return Cp936(root.path()) + "\\\xB0\xB2\xD7\xB0\xB0\xFC" + suffix;
    }

    Lines FirstInstallationProfile(const char* templateSuffix) const {
        return {"[CurveInformation]",
                "User=\xCA\xB5\xD1\xE9\xCA\xD2",
                "FilePath=" + InSet(templateSuffix),
                "DtPath=" + InSet("\\Data\\Qorvel.mdb"),
                "DeskPhoto=" + InSet("\\Face\\face01.jpg"),
                "WkPath=" + InSet("\\Data\\Samples.mdb"),
                "InstDate=" + Today()};
    }

    std::wstring shipped = installSet + L"\\QorvelProfile.ini";
    std::wstring addInSource = installSet + L"\\setup.xla";
    // Where the profile is built before it is moved into place.
    std::wstring pending = hostProfile + L".tmp";

    FakeClock clock;  // a busy host is waited for at once
    ComPtr<IDispatch> application;
};

// How the installation ended: complete (`number` 0), or with error `number` naming `subject`.
void ExpectOutcome(const std::optional<install::Error>& failure, int number = 0,
                   const std::wstring& subject = L"") {
    if (number == 0) {
        EXPECT_FALSE(failure) << Utf8(failure ? install::ErrorReportText(*failure) : L"");
        return;
    }
    ASSERT_TRUE(failure) << "reported as complete";
    EXPECT_EQ(failure->number, number) << Utf8(failure->what);
    EXPECT_NE(failure->subject.find(subject), std::wstring::npos)
        << "got " << Utf8(failure->subject) << ", wanted it to name " << Utf8(subject);
}

// No host profile yet: the shipped one is copied and the install set's files are recorded, in
// this order; the template by the host's version, where only 14 takes the .xltm one. Also runs
// where the user's decimal separator is a comma, which reads "14.0" as 140: the host wrote it in
// locale 1033, and it is read back in that one.
TEST_F(InstallTest, FirstInstallation) {
    const struct {
        const wchar_t* version;
        const char* templateSuffix;
    } rows[] = {{L"14.0", "\\Qorvel.xltm"}, {L"14", "\\Qorvel.xltm"},  {L"12.0", "\\Qorvel.xlt"},
                {L"15.0", "\\Qorvel.xlt"},  {L"16.0", "\\Qorvel.xlt"}, {L"14.5", "\\Qorvel.xlt"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(Utf8(row.version));
        DeleteFileW(hostProfile.c_str());
        DeleteFileW(addIn.c_str());
        host.Set(L"Version", row.version);

        ExpectOutcome(Install());
        EXPECT_EQ(ReadBytes(addIn), kAddIn);
        EXPECT_EQ(LinesOf(ReadBytes(hostProfile)), FirstInstallationProfile(row.templateSuffix));
        EXPECT_EQ(FilesIn(excel), Lines{"QorvelProfile.ini"}) << "nothing else is left there";
        EXPECT_TRUE(application) << "the host application object is handed back to the window";
        EXPECT_EQ(host.Calls(),
                  (Lines{"GetIDsOfNames Application 1033", "Invoke Application 1033 2",
                         "GetIDsOfNames Path 1033", "Invoke Path 1033 2",
                         "GetIDsOfNames StartupPath 1033", "Invoke StartupPath 1033 2",
                         "GetIDsOfNames Version 1033", "Invoke Version 1033 2"}));
    }
}

// The host profile is there: the add-in is replaced, and only FilePath and Ver change, in place.
TEST_F(InstallTest, LaterInstallation) {
    const struct {
        const char* name;
        const char* shipped;
        const wchar_t* version;
        const char* filePath;
        const char* ver;
    } rows[] = {
        {"newer install set", "[CurveInformation]\r\nVer=2.0\r\n", L"16.0", "\\Qorvel.xlt",
         "Ver=2.0"},
        {"shipped profile without Ver", "[CurveInformation]\r\nOther=1\r\n", L"14.0",
         "\\Qorvel.xltm", "Ver="},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WriteBytes(
            hostProfile,
            "[CurveInformation]\r\nFilePath=D:\\old\\Qorvel.xltm\r\nDtPath=D:\\old\\Qorvel.mdb\r\n"
            "DeskPhoto=D:\\old\\face01.jpg\r\nWkPath=D:\\old\\Samples.mdb\r\n"
            "InstDate=2020/1/2\r\nVer=1.0\r\nOwn=kept\r\n");
        WriteBytes(addIn, "add-in workbook, release 1");
        WriteBytes(installSet + L"\\QorvelProfile.ini", row.shipped);
        host.Set(L"Version", row.version);

        EXPECT_FALSE(Install());
        EXPECT_EQ(ReadBytes(addIn), kAddIn);
        EXPECT_EQ(LinesOf(ReadBytes(hostProfile)),
                  (Lines{"[CurveInformation]", "FilePath=" + InSet(row.filePath),
                         "DtPath=D:\\old\\Qorvel.mdb", "DeskPhoto=D:\\old\\face01.jpg",
                         "WkPath=D:\\old\\Samples.mdb", "InstDate=2020/1/2", row.ver, "Own=kept"}));
    }
}

// Whatever stops a first installation, it leaves no host profile, half-written or not, and
// nothing else in Excel's program folder changes: the next run is a first installation again and
// records everything. What was done before the failure (the add-in copied) stays done. Texts
// that code page 936 cannot hold, folders from the host that are not complete paths, a hidden
// host profile (which holds the recorded paths and the add-in's own keys) and a shipped profile
// with bytes that are not code-page text are refused before anything on disk changes: nothing
// is ever written with "?" in place of characters, and no host profile is destroyed.
TEST_F(InstallTest, FailedFirstInstallationIsReportedAndCompletedByTheNextRun) {
    const std::string hiddenProfile =
        "[CurveInformation]\r\nDtPath=D:\\lab\\Qorvel.mdb\r\nOwn=1\r\n";
    std::optional<LockedFile> lock;
    const std::wstring hangulSet = root / L"한글";
    const std::wstring hangulOffice = root / L"오피스";
    const struct {
        const char* name;
        int number;
        std::wstring subject;
        bool addInCopied;
        std::function<void()> breakIt;
    } rows[] = {
        {"host unreachable", install::kCannotCreateObject, L"0x80080005", false,
         [&] { host.Set(L"CreateFails", L"80080005"); }},
        {"StartupPath read fails", install::kAutomationError, L"StartupPath", false,
         [&] { host.Set(L"FailRead", L"StartupPath"); }},
        {"host folder missing", install::kPathNotFound, root / L"NoOffice", false,
         [&] { host.Set(L"Path", root / L"NoOffice"); }},
        {"Path empty", install::kPathNotFound, L"Path = “”", false,
         [&] { host.Set(L"Path", L""); }},
        {"Path without a drive", install::kPathNotFound, L"Path = “\\Office14”", false,
         [&] { host.Set(L"Path", L"\\Office14"); }},
        {"StartupPath relative", install::kPathNotFound, L"StartupPath = “XLSTART”", false,
         [&] { host.Set(L"StartupPath", L"XLSTART"); }},
        {"StartupPath drive-relative", install::kPathNotFound, L"StartupPath = “C:XLSTART”", false,
         [&] { host.Set(L"StartupPath", L"C:XLSTART"); }},
        {"StartupPath a file", install::kFileAccessError, startup, false,
         [&] {
             RemoveTree(startup);
             WriteBytes(startup, "not a folder");
         }},
        {"StartupPath a bare server name", install::kPathNotFound, L"StartupPath = “\\\\lab”",
         false, [&] { host.Set(L"StartupPath", L"\\\\lab"); }},
        {"hidden host profile", install::kFileAccessError, hostProfile, false,
         [&] {
             WriteBytes(hostProfile, hiddenProfile);
             SetFileAttributesW(hostProfile.c_str(), FILE_ATTRIBUTE_HIDDEN);
         }},
        {"system host profile", install::kFileAccessError, hostProfile, false,
         [&] {
             WriteBytes(hostProfile, hiddenProfile);
             SetFileAttributesW(hostProfile.c_str(), FILE_ATTRIBUTE_SYSTEM);
         }},
        {"folder at the host profile's place", install::kFileAccessError, hostProfile, false,
         [&] { MakeFolder(hostProfile); }},
        {"host folder outside code page 936", install::kInvalidArgument, hangulOffice, false,
         [&] {
             MakeFolder(hangulOffice);
             host.Set(L"Path", hangulOffice);
         }},
        {"install set outside code page 936", install::kInvalidArgument, hangulSet, false,
         [&] {
             MakeFolder(hangulSet);
             WriteBytes(hangulSet + L"\\setup.xla", kAddIn);
             WriteBytes(hangulSet + L"\\QorvelProfile.ini", kShipped);
             installSet = hangulSet;
         }},
        {"shipped profile missing", install::kFileNotFound, shipped, false,
         [&] { DeleteFileW(shipped.c_str()); }},
        {"shipped profile a folder", install::kFileAccessError, shipped, false,
         [&] {
             DeleteFileW(shipped.c_str());
             MakeFolder(shipped);
         }},
        {"shipped profile not code-page-936 text", install::kInvalidArgument, shipped, false,
         [&] { WriteBytes(shipped, "[CurveInformation]\r\nUser=\xA1\x20\r\n"); }},
        {"pending profile held by another program", install::kPermissionDenied, hostProfile, false,
         [&] {
             WriteBytes(pending, "");
             lock.emplace(pending);
         }},
        {"add-in missing", install::kFileNotFound, addInSource, false,
         [&] { DeleteFileW(addInSource.c_str()); }},
        {"start-up folder missing", install::kPathNotFound, startup, false,
         [&] { RemoveTree(startup); }},
        {"version not a number", install::kTypeMismatch, L"“abc”", false,
         [&] { host.Set(L"Version", L"abc"); }},
        {"Version read fails", install::kAutomationError, L"Version", false,
         [&] { host.Set(L"FailRead", L"Version"); }},
        {"host stays busy", install::kAutomationError, L"错误代码 0x80010001", false,
         [&] { host.Set(L"RejectCalls", L"1000000"); }},
        {"host ends during Version", install::kHostEnded, L"Version（错误代码 0x800706BE）", false,
         [&] {
             host.Set(L"FailRead", L"Version");
             host.Set(L"FailReadHr", L"800706BE");
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        DeleteFileW(hostProfile.c_str());
        DeleteFileW(addIn.c_str());
        row.breakIt();
        const Lines excelBefore = FilesIn(excel);
        const std::string profileBefore = ReadBytes(hostProfile);
        ExpectOutcome(Install(), row.number, row.subject);
        EXPECT_EQ(FilesIn(excel), excelBefore);
        EXPECT_EQ(ReadBytes(hostProfile), profileBefore);
        EXPECT_EQ(FilesIn(hangulOffice), Lines{});
        EXPECT_EQ(FileExists(addIn), row.addInCopied);
        for (const wchar_t* atTheRoot : {L"\\QorvelProfile.ini", L"\\Qorv.xla"}) {
            EXPECT_FALSE(FileExists(atTheRoot)) << Utf8(atTheRoot);
            DeleteFileW(atTheRoot);
        }

        // Mended, whatever it was: the next run completes the first installation.
        ResetHost();
        installSet = root / L"安装包";
        lock.reset();
        DeleteFileW(pending.c_str());
        SetFileAttributesW(hostProfile.c_str(), FILE_ATTRIBUTE_NORMAL);
        RemoveTree(hostProfile);
        DeleteFileW(hostProfile.c_str());
        DeleteFileW(startup.c_str());
        RemoveTree(shipped);
        WriteBytes(shipped, kShipped);
        WriteBytes(addInSource, kAddIn);
        MakeFolder(startup);
        ExpectOutcome(Install());
        EXPECT_EQ(LinesOf(ReadBytes(hostProfile)), FirstInstallationProfile("\\Qorvel.xltm"));
        EXPECT_EQ(FilesIn(excel), Lines{"QorvelProfile.ini"});
    }
}

// Excel that neither answers nor rejects a call (hung, or waiting at a dialog it cannot show) is
// given up after a minute (on a clock that runs thirty times as fast here), and nothing on disk
// has changed. Excel runs in a process of its own for this: in process, a hung host would be
// the test itself (installer.local_server).
TEST_F(InstallTest, HostThatNeverAnswersIsGivenUpWithNothingChanged) {
    if (!StandInHost::OutOfProcess()) GTEST_SKIP() << "needs the host in a process of its own";
    host.Set(L"HangOnRead", L"Version");
    FastClock fast;
    // Wine hands the cancelled call back only when the host answers at last (after 15 s); Windows
    // at once.
    ExpectOutcome(install::Run(installSet, application, fast), install::kAutomationError,
                  L"Version（错误代码 0x80010002）");
    EXPECT_EQ(FilesIn(excel), Lines{});
    EXPECT_EQ(FilesIn(startup), Lines{});
    application.Detach();  // letting go would wait for the hung host
}

// Excel's folders on a disk that fills up: the user is told the disk is full, naming the file, and
// the old add-in and the old host profile stay whole, whether the disk is full before the profile
// is copied, while its edits are written (the profile call may then cut the file without a
// word), or before the add-in is copied. The test prefix mounts a small disk as drive F: when it
// is made by root.
TEST_F(InstallTest, AFullDiskLeavesTheOldFilesWhole) {
    if (GetDriveTypeW(L"F:\\") == DRIVE_NO_ROOT_DIR) {
        GTEST_SKIP() << "no small disk F: (wine-prefix start mounts one when run as root)";
    }
    const std::wstring office = L"F:\\Office14", xlstart = office + L"\\XLSTART";
    const std::wstring profile = office + L"\\QorvelProfile.ini",
                       oldAddIn = xlstart + L"\\Qorv.xla";
    RemoveTree(office);
    for (int i = 0; DeleteFileW((L"F:\\fill" + std::to_wstring(i)).c_str()); ++i) {
    }
    MakeFolder(xlstart);
    host.Set(L"Path", office);
    host.Set(L"StartupPath", xlstart);
    WriteBytes(addInSource, std::string(40000, 'n'));
    // Just under a page: the edits take the profile past it.
    const std::string oldProfile =
        "[CurveInformation]\r\nFilePath=D:\\old.xltm\r\nOwn=" + std::string(4000, 'k') +
        "\r\n[Other]\r\nKeep=1\r\n";
    WriteBytes(profile, oldProfile);
    WriteBytes(oldAddIn, std::string(8192, 'o'));
    // The disk filled with pages, then `free` of them given back.
    int pages = 0;
    for (;; ++pages) {
        const UniqueHandle fill =
            OwnFileHandle(CreateFileW((L"F:\\fill" + std::to_wstring(pages)).c_str(), GENERIC_WRITE,
                                      0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        if (!fill ||
            !WriteFile(fill.get(), std::string(4096, 'f').data(), 4096, &written, nullptr) ||
            written < 4096) {
            break;
        }
    }
    const struct {
        const char* name;
        int free;
        std::wstring named;
    } rows[] = {{"no room for the profile's copy", 0, profile},
                {"no room for its edits", 1, profile},
                {"no room for the add-in", 3, oldAddIn}};
    int given = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        for (; given < row.free; ++given)
            DeleteFileW((L"F:\\fill" + std::to_wstring(--pages)).c_str());
        const auto failure = Install();
        ExpectOutcome(failure, install::kDiskFull, row.named);
        EXPECT_EQ(ReadBytes(profile), oldProfile);
        EXPECT_EQ(ReadBytes(oldAddIn), std::string(8192, 'o'));
        EXPECT_THAT(FilesIn(office), testing::UnorderedElementsAre("XLSTART", "QorvelProfile.ini"));
    }
    RemoveTree(office);
    for (int i = 0; i <= pages; ++i) DeleteFileW((L"F:\\fill" + std::to_wstring(i)).c_str());
}

// A refused write is an error, not a completion message; the host profile keeps what it had. A
// lock held only for a moment, as virus scanners hold a file that was just written, is waited for.
// A shipped Ver that is not code-page text would reach the host profile altered: refused.
TEST_F(InstallTest, FailedLaterInstallationIsReportedAndKeepsTheHostProfile) {
    Install();
    WriteBytes(shipped, kShippedVer);
    Install();
    const std::string profileBefore = ReadBytes(hostProfile);
    const struct {
        const char* name;
        int number;  // 0: the installation completes
        std::wstring subject;
        bool addInCopied;
        std::wstring locked;  // held by another program for `lockedFor` ms
        DWORD lockedFor;
        const char* shippedProfile = kShippedVer;
    } rows[] = {
        {"add-in open in Excel", install::kPermissionDenied, addIn, false, addIn, INFINITE},
        {"host profile locked", install::kPermissionDenied, hostProfile, false, hostProfile,
         INFINITE},
        {"add-in held for a moment", 0, L"", true, addIn, 500},
        {"host profile held for a moment", 0, L"", true, hostProfile, 500},
        {"shipped Ver not code-page-936 text", install::kInvalidArgument, shipped, false, L"", 0,
         "[CurveInformation]\r\nVer=2.0\xA1\x20\xFE\r\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WriteBytes(addIn, "old add-in");
        WriteBytes(shipped, row.shippedProfile);
        std::optional<LockedFile> lock;
        if (!row.locked.empty()) lock.emplace(row.locked, row.lockedFor);
        ExpectOutcome(Install(), row.number, row.subject);
        lock.reset();
        EXPECT_EQ(ReadBytes(addIn) == kAddIn, row.addInCopied);
        EXPECT_EQ(ReadBytes(hostProfile), profileBefore);
    }
}

// Install sets come on CDs and read-only shares. Nothing Setup places in Excel's folders is
// read-only, hidden or a system file, whatever the source carries; what earlier runs left
// read-only is replaced, and pending files that a killed run left behind are removed. Matters where
// read-only is enforced: this also runs as an account without administrator rights.
TEST_F(InstallTest, ReadOnlyFilesAreReplacedAndNothingPlacedIsReadOnly) {
    constexpr DWORD kProtected =
        FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const struct {
        const char* name;
        bool later;
        std::function<void()> arrange;
    } rows[] = {
        {"install set read-only, hidden, system", false,
         [&] {
             SetFileAttributesW(shipped.c_str(), kProtected);
             SetFileAttributesW(addInSource.c_str(), kProtected);
         }},
        {"read-only pending profile and add-in of a killed run", false,
         [&] {
             for (const auto& leftover : {pending, addIn + L".tmp"}) {
                 WriteBytes(leftover, "[CurveInformation]\r\nFilePath=stale\r\nJunk=1\r\n");
                 SetFileAttributesW(leftover.c_str(), FILE_ATTRIBUTE_READONLY);
             }
         }},
        {"read-only add-in and host profile of an earlier run", true,
         [&] {
             SetFileAttributesW(shipped.c_str(), kProtected);
             SetFileAttributesW(addInSource.c_str(), kProtected);
             Install();
             SetFileAttributesW(hostProfile.c_str(), FILE_ATTRIBUTE_READONLY);
             SetFileAttributesW(addIn.c_str(), FILE_ATTRIBUTE_READONLY);
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        row.arrange();
        ExpectOutcome(Install());
        Lines want = FirstInstallationProfile("\\Qorvel.xltm");
        if (row.later) want.push_back("Ver=");
        EXPECT_EQ(LinesOf(ReadBytes(hostProfile)), want);
        EXPECT_EQ(ReadBytes(addIn), kAddIn);
        for (const auto& placed : {hostProfile, addIn}) {
            EXPECT_EQ(GetFileAttributesW(placed.c_str()) & kProtected, 0u) << Utf8(placed);
            SetFileAttributesW(placed.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(placed.c_str());
        }
        EXPECT_EQ(FilesIn(excel), Lines{});
        EXPECT_EQ(FilesIn(startup), Lines{});
        for (const auto& source : {shipped, addInSource}) {
            SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_NORMAL);
        }
    }
}

}  // namespace
