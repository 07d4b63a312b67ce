// The install procedure, run directly against the stand-in host: what lands in Excel's folders,
// what the host was asked, and what the user is told.
#include <windows.h>
#include <oleauto.h>

#include <functional>
#include <optional>

#include <gtest/gtest.h>

#include "files.h"
#include "install.h"

namespace {

using Lines = std::vector<std::string>;

constexpr char kAddIn[] = "add-in workbook, release 2";
// The shipped profile, in code page 936: User=实验室, and no Ver, so that a first installation
// that wrote one would show.
constexpr char kShipped[] = "[CurveInformation]\r\nUser=\xCA\xB5\xD1\xE9\xCA\xD2\r\n";

// Today as the users' short date format (yyyy/M/d on Simplified-Chinese Windows) writes it.
std::string Today() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return std::to_string(now.wYear) + "/" + std::to_string(now.wMonth) + "/" +
           std::to_string(now.wDay);
}

class InstallTest : public testing::Test, protected LabPc {
protected:
    InstallTest() : LabPc(L"install", kAddIn, kShipped) {}

    std::optional<install::Error> Install() {
        application.Reset();
        host.ClearCalls();
        return install::Run(installSet, application);
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

    ComPtr<IDispatch> application;
};

void ExpectError(const std::optional<install::Error>& failure, int number,
                 const std::wstring& subject) {
    ASSERT_TRUE(failure) << "reported as complete";
    EXPECT_EQ(failure->number, number) << Utf8(failure->what);
    EXPECT_NE(failure->subject.find(subject), std::wstring::npos)
        << "got " << Utf8(failure->subject) << ", wanted it to name " << Utf8(subject);
}

// No host profile yet: the shipped one is copied and the install set's files are recorded, in
// this order; the template by the host's version, where only 14 takes the .xltm one.
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

        const auto failure = Install();
        EXPECT_FALSE(failure) << Utf8(failure ? install::ErrorReportText(*failure) : L"");
        EXPECT_EQ(ReadBytes(addIn), kAddIn);
        EXPECT_EQ(LinesOf(ReadBytes(hostProfile)), FirstInstallationProfile(row.templateSuffix));
        EXPECT_FALSE(FileExists(hostProfile + L".tmp"));
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

// A PC whose decimal separator is a comma reads "14.0" as 140 in the user's locale; the host
// wrote it in locale 1033, and it is read back in that one. Runs in the prefix set up that way.
TEST_F(InstallTest, DecimalCommaLocaleStillSelectsTheXltmTemplate) {
    double userReading = 0;
    VarR8FromStr(const_cast<OLECHAR*>(L"14.0"), LOCALE_USER_DEFAULT, 0, &userReading);
    if (userReading != 140) GTEST_SKIP() << "this prefix's decimal separator is not a comma";

    EXPECT_FALSE(Install());
    EXPECT_EQ(LinesOf(ReadBytes(hostProfile))[2], "FilePath=" + InSet("\\Qorvel.xltm"));
}

// Whatever stops a first installation, it leaves no host profile, half-written or not: the next
// run is a first installation again and records everything. What was done before the failure
// (the add-in copied) stays done. Texts that code page 936 cannot hold are refused before
// anything on disk changes: nothing is ever written with "?" in place of characters.
TEST_F(InstallTest, FailedFirstInstallationIsReportedAndCompletedByTheNextRun) {
    const std::wstring shipped = installSet + L"\\QorvelProfile.ini";
    const std::wstring addInSource = installSet + L"\\setup.xla";
    const std::wstring hangulSet = root / L"한글";
    const std::wstring hangulOffice = root / L"오피스";
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
        {"host folder outside code page 936", install::kInvalidArgument, hangulOffice, false,
         [&] {
             MakeFolder(hangulOffice);
             host.Set(L"Path", hangulOffice);
         },
         [&] { host.Set(L"Path", excel); }},
        {"install set outside code page 936", install::kInvalidArgument, hangulSet, false,
         [&] {
             MakeFolder(hangulSet);
             WriteBytes(hangulSet + L"\\setup.xla", kAddIn);
             WriteBytes(hangulSet + L"\\QorvelProfile.ini", kShipped);
             installSet = hangulSet;
         },
         [&] { installSet = root / L"安装包"; }},
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
        ExpectError(Install(), row.number, row.subject);
        EXPECT_FALSE(FileExists(hostProfile));
        EXPECT_FALSE(FileExists(hostProfile + L".tmp"));
        EXPECT_FALSE(FileExists(hangulOffice + L"\\QorvelProfile.ini"));
        EXPECT_EQ(FileExists(addIn), row.addInCopied);

        row.mendIt();
        EXPECT_FALSE(Install());
        EXPECT_EQ(LinesOf(ReadBytes(hostProfile)), FirstInstallationProfile("\\Qorvel.xltm"));
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
        std::optional<install::Error> failure;
        {
            LockedFile lock(row.locked);
            failure = Install();
        }
        ExpectError(failure, install::kPermissionDenied, row.locked);
        EXPECT_EQ(ReadBytes(addIn) == kAddIn, row.addInCopied);
        EXPECT_EQ(ReadBytes(hostProfile), profileBefore);
    }
}

// A run killed while it built the host profile leaves the file behind, read-only and hidden
// if the install set's copy was: the next run replaces it and places an ordinary host profile,
// which later runs see.
TEST_F(InstallTest, LeftoverTemporaryProfileIsReplaced) {
    const std::wstring leftover = hostProfile + L".tmp";
    WriteBytes(leftover, "[CurveInformation]\r\nFilePath=stale\r\nJunk=1\r\n");
    SetFileAttributesW(leftover.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);

    EXPECT_FALSE(Install());
    EXPECT_EQ(LinesOf(ReadBytes(hostProfile)), FirstInstallationProfile("\\Qorvel.xltm"));
    EXPECT_FALSE(FileExists(leftover));
    EXPECT_EQ(GetFileAttributesW(hostProfile.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
}

// A hidden or system host profile counts as absent: the run is a first installation.
TEST_F(InstallTest, HiddenOrSystemHostProfileCountsAsAbsent) {
    for (const DWORD attribute : {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM}) {
        SCOPED_TRACE(attribute);
        SetFileAttributesW(hostProfile.c_str(), FILE_ATTRIBUTE_NORMAL);
        WriteBytes(hostProfile, "[CurveInformation]\r\nFilePath=old\r\n");
        SetFileAttributesW(hostProfile.c_str(), attribute);
        Install();
        EXPECT_EQ(LinesOf(ReadBytes(hostProfile)), FirstInstallationProfile("\\Qorvel.xltm"));
    }
}

}  // namespace
