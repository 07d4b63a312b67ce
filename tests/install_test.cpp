// The install procedure, run directly against the stand-in host: what lands in Excel's folders,
// what the host was asked, and what the user is told.
#include <windows.h>
#include <oleauto.h>

#include <functional>

#include <gtest/gtest.h>

#include "files.h"
#include "install.h"

namespace {

using Lines = std::vector<std::string>;

constexpr char kAddIn[] = "add-in workbook, release 2";
// The shipped profile, in code page 936: Ver=1.5, User=实验室.
constexpr char kShipped[] = "[CurveInformation]\r\nVer=1.5\r\nUser=\xCA\xB5\xD1\xE9\xCA\xD2\r\n";

struct RecordingUi final : install::UserInterface {
    int completions = 0;
    std::vector<install::Error> errors;
    void ShowCompletion() override { ++completions; }
    void ShowError(const install::Error& error) override { errors.push_back(error); }
};

// Today as the users' short date format (yyyy/M/d on Simplified-Chinese Windows) writes it.
std::string Today() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return std::to_string(now.wYear) + "/" + std::to_string(now.wMonth) + "/" +
           std::to_string(now.wDay);
}

class InstallTest : public testing::Test {
protected:
    InstallTest() {
        MakeFolder(installSet);
        MakeFolder(excel);
        MakeFolder(startup);
        WriteBytes(installSet + L"\\setup.xla", kAddIn);
        WriteBytes(installSet + L"\\QorvelProfile.ini", kShipped);
        host.Set(L"Path", excel);
        host.Set(L"StartupPath", startup);
        host.Set(L"Version", L"14.0");
    }

    int Install() {
        ui = {};
        application.Reset();
        return install::Run(installSet, application, ui);
    }

    // The install set's paths as they stand in the profile.
    std::string InSet(const char* suffix) const { return Cp936(installSet) + suffix; }

    Lines FirstInstallationProfile(const char* templateSuffix) const {
        return {"[CurveInformation]",
                "Ver=1.5",
                "User=\xCA\xB5\xD1\xE9\xCA\xD2",
                "FilePath=" + InSet(templateSuffix),
                "DtPath=" + InSet("\\Data\\Qorvel.mdb"),
                "DeskPhoto=" + InSet("\\Face\\face01.jpg"),
                "WkPath=" + InSet("\\Data\\Samples.mdb"),
                "InstDate=" + Today()};
    }

    void ExpectError(int number, const std::wstring& subject) {
        EXPECT_EQ(ui.completions, 0);
        ASSERT_EQ(ui.errors.size(), 1u);
        EXPECT_EQ(ui.errors[0].number, number) << Utf8(ui.errors[0].what);
        EXPECT_NE(ui.errors[0].subject.find(subject), std::wstring::npos)
            << "got " << Utf8(ui.errors[0].subject) << ", wanted it to name " << Utf8(subject);
    }

    TempFolder root{L"install"};
    std::wstring installSet = root / L"安装包";
    std::wstring excel = root / L"Office14";
    std::wstring startup = root / L"XLSTART";
    std::wstring hostProfile = excel + L"\\QorvelProfile.ini";
    std::wstring addIn = startup + L"\\Qorv.xla";
    StandInHost host{root / L"host"};
    RecordingUi ui;
    ComPtr<IDispatch> application;
};

TEST_F(InstallTest, FirstInstallationCopiesTheProfileAndRecordsTheInstallSet) {
    EXPECT_EQ(Install(), 0);

    EXPECT_EQ(ui.completions, 1);
    EXPECT_TRUE(ui.errors.empty());
    EXPECT_EQ(ReadBytes(addIn), kAddIn);
    EXPECT_EQ(ProfileLines(hostProfile), FirstInstallationProfile("\\Qorvel.xltm"));
    EXPECT_FALSE(FileExists(hostProfile + L".tmp"));
    EXPECT_TRUE(application) << "the host application object is handed back to the window";
}

TEST_F(InstallTest, TheHostIsAskedForThreePropertiesInLocale1033AndNothingElse) {
    Install();
    EXPECT_EQ(host.Calls(), (Lines{"GetIDsOfNames Application 1033", "Invoke Application 1033 2",
                                   "GetIDsOfNames Path 1033", "Invoke Path 1033 2",
                                   "GetIDsOfNames StartupPath 1033", "Invoke StartupPath 1033 2",
                                   "GetIDsOfNames Version 1033", "Invoke Version 1033 2"}));
}

TEST_F(InstallTest, LaterInstallationChangesOnlyTheTemplateAndVersion) {
    WriteBytes(
        hostProfile,
        "[CurveInformation]\r\nFilePath=D:\\old\\Qorvel.xltm\r\nDtPath=D:\\old\\Qorvel.mdb\r\n"
        "DeskPhoto=D:\\old\\face01.jpg\r\nWkPath=D:\\old\\Samples.mdb\r\n"
        "InstDate=2020/1/2\r\nVer=1.0\r\nOwn=kept\r\n");
    WriteBytes(addIn, "add-in workbook, release 1");
    WriteBytes(installSet + L"\\QorvelProfile.ini", "[CurveInformation]\r\nVer=2.0\r\n");
    host.Set(L"Version", L"16.0");

    EXPECT_EQ(Install(), 0);

    EXPECT_EQ(ui.completions, 1);
    EXPECT_EQ(ReadBytes(addIn), kAddIn);
    EXPECT_EQ(ProfileLines(hostProfile),
              (Lines{"[CurveInformation]", "FilePath=" + InSet("\\Qorvel.xlt"),
                     "DtPath=D:\\old\\Qorvel.mdb", "DeskPhoto=D:\\old\\face01.jpg",
                     "WkPath=D:\\old\\Samples.mdb", "InstDate=2020/1/2", "Ver=2.0", "Own=kept"}));
}

TEST_F(InstallTest, LaterInstallationFromAProfileWithoutVerWritesItEmpty) {
    Install();
    WriteBytes(installSet + L"\\QorvelProfile.ini", "[CurveInformation]\r\nOther=1\r\n");
    EXPECT_EQ(Install(), 0);
    Lines want = FirstInstallationProfile("\\Qorvel.xltm");
    want[1] = "Ver=";  // replaced in place
    EXPECT_EQ(ProfileLines(hostProfile), want);
}

TEST_F(InstallTest, OnlyVersion14SelectsTheXltmTemplate) {
    const struct {
        const wchar_t* version;
        const char* templateSuffix;
    } rows[] = {{L"14.0", "\\Qorvel.xltm"}, {L"14", "\\Qorvel.xltm"},  {L"12.0", "\\Qorvel.xlt"},
                {L"15.0", "\\Qorvel.xlt"},  {L"16.0", "\\Qorvel.xlt"}, {L"14.5", "\\Qorvel.xlt"}};
    for (const auto& row : rows) {
        host.Set(L"Version", row.version);
        EXPECT_EQ(Install(), 0);
        EXPECT_EQ(ProfileLines(hostProfile)[3], "FilePath=" + InSet(row.templateSuffix))
            << "version " << Utf8(row.version);
    }
}

// A PC whose decimal separator is a comma reads "14.0" as 140 in the user's locale; the host
// wrote it in locale 1033, and it is read back in that one. Runs in the prefix set up that way.
TEST_F(InstallTest, DecimalCommaLocaleStillSelectsTheXltmTemplate) {
    double userReading = 0;
    VarR8FromStr(const_cast<OLECHAR*>(L"14.0"), LOCALE_USER_DEFAULT, 0, &userReading);
    if (userReading != 140) GTEST_SKIP() << "this prefix's decimal separator is not a comma";

    EXPECT_EQ(Install(), 0);
    EXPECT_EQ(ProfileLines(hostProfile)[3], "FilePath=" + InSet("\\Qorvel.xltm"));
}

TEST_F(InstallTest, ChinesePathsAreStoredInCodePage936) {
    Install();
    const std::string profile = ReadBytes(hostProfile);
    // 安装包 in code page 936.
    EXPECT_NE(profile.find("\\\xB0\xB2\xD7\xB0\xB0\xFC\\Qorvel.xltm\r\n"), std::string::npos)
        << profile;
}

// Whatever stops a first installation, it leaves no host profile, half-written or not: the next
// run is a first installation again and records everything. What was done before the failure
// (the add-in copied) stays done.
TEST_F(InstallTest, FailedFirstInstallationIsReportedAndCompletedByTheNextRun) {
    const std::wstring shipped = installSet + L"\\QorvelProfile.ini";
    const std::wstring addInSource = installSet + L"\\setup.xla";
    const struct {
        const char* name;
        int number;
        std::wstring subject;
        bool addInCopied;
        std::function<void()> breakIt, mendIt;
    } rows[] = {
        {"host unreachable", install::kCannotCreateObject, L"0x80080005", false,
         [&] { host.Set(L"CreateFails", L"80080005"); }, [&] { host.Set(L"CreateFails", L"0"); }},
        {"StartupPath read fails", install::kAutomationError, L"StartupPath", false,
         [&] { host.Set(L"FailRead", L"StartupPath"); }, [&] { host.Set(L"FailRead", L""); }},
        {"host folder missing", install::kPathNotFound, root / L"NoOffice", false,
         [&] { host.Set(L"Path", root / L"NoOffice"); }, [&] { host.Set(L"Path", excel); }},
        {"shipped profile missing", install::kFileNotFound, shipped, false,
         [&] { DeleteFileW(shipped.c_str()); }, [&] { WriteBytes(shipped, kShipped); }},
        {"add-in missing", install::kFileNotFound, addInSource, false,
         [&] { DeleteFileW(addInSource.c_str()); }, [&] { WriteBytes(addInSource, kAddIn); }},
        {"start-up folder missing", install::kPathNotFound, startup, false,
         [&] { RemoveTree(startup); }, [&] { MakeFolder(startup); }},
        {"version not a number", install::kTypeMismatch, L"“abc”", true,
         [&] { host.Set(L"Version", L"abc"); }, [&] { host.Set(L"Version", L"14.0"); }},
        {"Version read fails", install::kAutomationError, L"Version", true,
         [&] { host.Set(L"FailRead", L"Version"); }, [&] { host.Set(L"FailRead", L""); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        DeleteFileW(hostProfile.c_str());
        DeleteFileW(addIn.c_str());
        row.breakIt();
        EXPECT_EQ(Install(), row.number);
        ExpectError(row.number, row.subject);
        EXPECT_FALSE(FileExists(hostProfile));
        EXPECT_FALSE(FileExists(hostProfile + L".tmp"));
        EXPECT_EQ(FileExists(addIn), row.addInCopied);

        row.mendIt();
        EXPECT_EQ(Install(), 0);
        EXPECT_EQ(ProfileLines(hostProfile), FirstInstallationProfile("\\Qorvel.xltm"));
    }
}

// A refused write is an error, not a completion message; the host profile keeps what it had.
TEST_F(InstallTest, FailedLaterInstallationIsReportedAndKeepsTheHostProfile) {
    Install();
    const std::string profileBefore = ReadBytes(hostProfile);
    const struct {
        const char* name;
        std::wstring locked;
        bool addInCopied;
    } rows[] = {{"add-in open in Excel", addIn, false}, {"host profile locked", hostProfile, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WriteBytes(addIn, "old add-in");
        {
            LockedFile lock(row.locked);
            EXPECT_EQ(Install(), install::kPermissionDenied);
        }
        ExpectError(install::kPermissionDenied, row.locked);
        EXPECT_EQ(ReadBytes(addIn) == kAddIn, row.addInCopied);
        EXPECT_EQ(ReadBytes(hostProfile), profileBefore);
    }
}

TEST_F(InstallTest, LeftoverTemporaryProfileIsReplaced) {
    WriteBytes(hostProfile + L".tmp", "[CurveInformation]\r\nFilePath=stale\r\nJunk=1\r\n");
    SetFileAttributesW((hostProfile + L".tmp").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(Install(), 0);
    EXPECT_EQ(ProfileLines(hostProfile), FirstInstallationProfile("\\Qorvel.xltm"));
    EXPECT_FALSE(FileExists(hostProfile + L".tmp"));
}

// Nothing is ever written with characters replaced by "?": a folder name outside code page 936
// is reported before anything on disk changes.
TEST_F(InstallTest, InstallSetOutsideCodePage936IsRefusedBeforeAnythingChanges) {
    installSet = root / L"한글";
    MakeFolder(installSet);
    WriteBytes(installSet + L"\\setup.xla", kAddIn);
    WriteBytes(installSet + L"\\QorvelProfile.ini", kShipped);

    EXPECT_EQ(Install(), install::kInvalidArgument);
    ExpectError(install::kInvalidArgument, installSet);
    EXPECT_FALSE(FileExists(hostProfile));
    EXPECT_FALSE(FileExists(addIn));
}

TEST_F(InstallTest, HostFolderOutsideCodePage936IsRefusedBeforeAnythingChanges) {
    const std::wstring korean = root / L"오피스";
    MakeFolder(korean);
    host.Set(L"Path", korean);

    EXPECT_EQ(Install(), install::kInvalidArgument);
    ExpectError(install::kInvalidArgument, korean);
    EXPECT_FALSE(FileExists(korean + L"\\QorvelProfile.ini"));
    EXPECT_FALSE(FileExists(korean + L"\\QorvelProfile.ini.tmp"));
    EXPECT_FALSE(FileExists(addIn));
}

}  // namespace
