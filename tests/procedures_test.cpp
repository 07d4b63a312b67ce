// The install and removal procedures, run directly against the stand-in host: what lands in
// Excel's folders or is taken away from them, and what the user is told. A failed installation,
// whatever its cause, changes nothing there; a removal takes away what it can, the settings
// whatever stands in the way, and nothing else of Excel's.
#include <windows.h>

#include <fstream>
#include <functional>
#include <optional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "file_ops.h"
#include "files.h"
#include "layout.h"
#include "install.h"
#include "profile.h"
#include "removal.h"

namespace {

using namespace testing;

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

// A clock that runs thirty times as fast as the real one: a minute passes in two seconds.
struct FastClock final : host::Clock {
    DWORD Now() override { return GetTickCount() * 30; }
    void Pause(DWORD milliseconds) override { Sleep(milliseconds / 30); }
};

// A small disk as drive F:, which a row fills (mounted when root makes the test prefixes).
bool HasSmallDisk() {
    ULARGE_INTEGER free = {};
    return GetDiskFreeSpaceExW(L"F:\\", &free, nullptr, nullptr) && free.QuadPart < 1024 * 1024;
}

struct InstallRow {
    const char* name;
    bool later;  // an earlier installation left its add-in and host profile
    std::function<void(class Install&)> arrange;
    std::optional<install::Cause> cause;  // why it stops, or kInstalled: it completes
    // What the report ends with (the path or value involved), or what the completion message
    // names.
    const wchar_t* subject = L"";
    bool onSmallDisk = false;
    install::Options options = {};
    HKEY listedIn = HKEY_CURRENT_USER;  // where Apps & features lists it once installed
    bool addInNotPutBack = false;       // the failure leaves the new add-in, the old one beside it
};

std::optional<LockedFile> heldOnceReplaced;  // by another program, once it was placed

bool IsLink(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Runs a command of the Unix shell in `folder`, which Wine starts but does not wait for: until
// `done` (for five seconds at most). Wine can neither make nor remove a Unix symbolic link.
void OnUnix(const std::wstring& command, const std::wstring& folder, std::function<bool()> done) {
    std::wstring line = L"sh -c \"" + command + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(L"Z:\\bin\\sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       folder.c_str(), &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    for (int i = 0; i < 500 && !done(); ++i) Sleep(10);
}

class Install : public testing::TestWithParam<InstallRow>, public LabPc {
public:
    Install()
        : LabPc(GetParam().onSmallDisk && HasSmallDisk() ? L"F:\\lab" : L"install", kAddIn,
                kShipped) {}
    ~Install() {
        if (!IsLink(startup)) return;
        OnUnix(L"rm -rf $(dirname $(readlink XLSTART)) XLSTART", excel,
               [&] { return !IsLink(startup); });
    }
};

// The host profile after a first installation (the shipped one with where the install set's
// files are) or after a later one (only FilePath and Ver change, in place); the add-in replaced;
// nothing else left in Excel's folders, nothing placed read-only, hidden or a system file but a
// host profile that was read-only before; the host asked nothing but its four names, all in locale
// 1033. A failure changes nothing at all, so that the next run starts from where this one did.
TEST_P(Install, EndsCompleteOrChangesNothing) {
    const InstallRow& row = GetParam();
    if (row.onSmallDisk && !HasSmallDisk()) GTEST_SKIP() << "no small disk in this test prefix";
    if (row.later) {
        WriteBytes(hostProfile, kEarlierProfile);
        WriteBytes(addIn, "add-in workbook, release 1");
        WriteBytes(shippedProfile, "[CurveInformation]\r\nVer=" + kLongVersion + "\r\n");
        Answer(L"Version", L"16.0");
    }
    row.arrange(*this);
    const DWORD readOnly = LookUp(hostProfile).attributes & FILE_ATTRIBUTE_READONLY;
    const auto before = TreeOf(excel);
    FastClock clock;
    host::Excel application(clock);
    const auto outcome = install::Run(install::InstallSet(installSet), application, row.options);
    const auto& failure = outcome.failure;
    held.clear();
    heldOnceReplaced.reset();
    install::replaceFile = ReplaceFileW;
    // The entry for the account or the PC, running the remover beside Setup.
    for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        EXPECT_EQ(EntryValue(root, L"UninstallString"),
                  root != row.listedIn || row.cause
                      ? L"<missing>"
                      : L"\"" + remover + (root == HKEY_LOCAL_MACHINE ? L"\" /allusers" : L"\""));
    }
    if (row.cause) {
        ASSERT_TRUE(failure) << "reported as complete";
        EXPECT_EQ(failure->cause, *row.cause) << Utf8(install::ErrorReportText(*failure));
        EXPECT_THAT(Utf8(install::ErrorReportText(*failure)), EndsWith(Utf8(row.subject)));
        auto expected = before;
        if (row.addInNotPutBack) {  // the new add-in in place, the old one at its backup place
            expected["Qorv.xla.bak"] = std::exchange(expected["XLSTART\\Qorv.xla"], kAddIn);
            EXPECT_THAT(Utf8(install::ErrorReportText(*failure)),
                        HasSubstr("原来的加载项也未能恢复"));
        }
        EXPECT_EQ(TreeOf(excel), expected);
        return;
    }
    ASSERT_FALSE(failure) << Utf8(install::ErrorReportText(*failure));
    const std::string set = Cp936(installSet);  // where the profile says the install set is
    wchar_t today[32];  // as the users' short date format (yyyy/M/d on Chinese Windows) writes it
    GetDateFormatW(LOCALE_INVARIANT, 0, nullptr, L"yyyy/M/d", today, 32);
    const std::string first =
        "[CurveInformation]\nUser=\xCA\xB5\xD1\xE9\xCA\xD2\nFilePath=" + set +
        "\\Qorvel.xltm\nDtPath=" + set + "\\Data\\Qorvel.mdb\nDeskPhoto=" + set +
        "\\Face\\face01.jpg\nWkPath=" + set + "\\Data\\Samples.mdb\nInstDate=" + Utf8(today);
    const std::string later = "[CurveInformation]\nFilePath=" + set +
                              "\\Qorvel.xlt\nDtPath=D:\\old\\Qorvel.mdb\nInstDate=2020/1/2\nVer=" +
                              kLongVersion.substr(0, 254) + "\nOwn=kept\n[Other]\nKeep=1";
    EXPECT_EQ(LinesOf(ProfileText(hostProfile)), LinesOf(row.later ? later : first));
    EXPECT_EQ(ReadBytes(addIn), kAddIn);
    auto tree = TreeOf(excel);
    tree.erase("EXCEL.EXE");
    EXPECT_THAT(tree,
                testing::ElementsAre(testing::Key("QorvelProfile.ini"), testing::Key("XLSTART"),
                                     testing::Key("XLSTART\\Qorv.xla")));
    // No account keeps a copy of its own beside one for every account.
    EXPECT_THAT(TreeOf(root / L"Users"), Each(Key(Not(HasSubstr("Qorv")))));
    EXPECT_THAT(Utf8(install::FinalMessage(outcome)), HasSubstr(Utf8(row.subject)));
    EXPECT_EQ(GetFileAttributesW(hostProfile.c_str()) & kProtectiveAttributes, readOnly);
    EXPECT_EQ(GetFileAttributesW(addIn.c_str()) & kProtectiveAttributes, 0u);
    // For every account, Excel is never started.
    EXPECT_THAT(HostCalls(),
                testing::Each(testing::AnyOf(
                    "CreateInstance", HasSubstr(" Application 1033"), HasSubstr(" Path 1033"),
                    HasSubstr(" StartupPath 1033"), HasSubstr(" Version 1033"))));
    if (row.options.allUsers) {
        EXPECT_THAT(HostCalls(), IsEmpty());
    }
}

// A row's arrangement: these files of the lab PC get these attributes.
auto Setting(DWORD attributes, std::vector<std::wstring LabPc::*> files) {
    return [=](LabPc& t) {
        for (const auto file : files) SetFileAttributesW((t.*file).c_str(), attributes);
    };
}

// Excel's folders on a disk that is full but for `pagesLeft` of 4 KB, holding an earlier add-in and
// a host profile just under a page (or, for a first installation, none, and a shipped one just
// under a page), which the edits take past it; a larger add-in to install.
auto OnAFullDisk(int pagesLeft, bool first = false) {
    return [=](Install& t) {
        WriteBytes(first ? t.shippedProfile : t.hostProfile,
                   "[CurveInformation]\r\nOwn=" + std::string(4060, 'k') + "\r\n");
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

// A host profile as an administrator saved it in Notepad: UTF-16 with its mark, and a comment
// after the section's name. The profile calls read and write it as they read and write any other.
void SavedAsUnicode(Install& t) {
    const std::string earlier = "[CurveInformation] ; settings" + std::string(kEarlierProfile + 18);
    const std::wstring text = L"\uFEFF" + std::wstring(earlier.begin(), earlier.end());
    WriteBytes(t.hostProfile, {reinterpret_cast<const char*>(text.data()), text.size() * 2});
}

// A hard link at the staging place to a file elsewhere, held open by another program that lets
// others write it.
void HeldLinkAtTheStagingPlace(Install& t) {
    WriteBytes(t.root / L"elsewhere", "someone else's");
    CreateHardLinkW(t.stagedAddIn.c_str(), (t.root / L"elsewhere").c_str(), nullptr);
    Holding(&LabPc::stagedAddIn, INFINITE, FILE_SHARE_READ | FILE_SHARE_WRITE)(t);
}

// ReplaceFileW as it fails on Windows when the replaced file has gone to the backup place and the
// replacement cannot follow (ERROR_UNABLE_TO_MOVE_REPLACEMENT_2).
BOOL WINAPI ReplacementNotMoved(LPCWSTR replaced, LPCWSTR, LPCWSTR backup, DWORD, LPVOID, LPVOID) {
    MoveFileExW(replaced, backup, 0);
    SetLastError(ERROR_UNABLE_TO_MOVE_REPLACEMENT_2);
    return FALSE;
}
// ReplaceFileW, after which another program opens the new file, so that it cannot be put back.
BOOL WINAPI ReplacedThenHeld(LPCWSTR replaced, LPCWSTR with, LPCWSTR backup, DWORD, LPVOID,
                             LPVOID) {
    const BOOL done = ReplaceFileW(replaced, with, backup, 0, nullptr, nullptr);
    if (done) heldOnceReplaced.emplace(replaced);
    return done;
}

// Two more accounts in the PC's profile list: one with its own copy of the add-in and what an
// earlier Setup left beside it, one whose profile is on a server out of reach.
void AccountsWithOwnCopies(LabPc& t) {
    const fs::path excel = t.root / L"Users\\student\\AppData\\Roaming\\Microsoft\\Excel";
    fs::create_directories(excel / L"XLSTART");
    WriteBytes(excel / L"XLSTART\\Qorv.xla", "an account's own copy");
    WriteBytes(excel / L"Qorv.xla.bak", "left by an earlier Setup");
    const std::pair<const wchar_t*, std::wstring> accounts[] = {
        {L"1001", t.root / L"Users\\student"}, {L"1002", L"\\\\server\\share\\student2"}};
    for (const auto& [id, folder] : accounts) {
        t.keys.push_back(std::make_unique<RegistryKey>(
            HKEY_LOCAL_MACHINE,
            std::wstring(
                L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-7-7-7-") +
                id,
            KEY_WOW64_64KEY));
        t.keys.back()->Set(L"ProfileImagePath", folder);
    }
}

// The add-in installed for every account, in Excel's program folder, and the account's own
// start-up folder elsewhere.
void InstalledForEveryAccount(LabPc& t) {
    fs::create_directories(t.root / L"Users\\me\\XLSTART");
    t.Answer(L"StartupPath", t.root / L"Users\\me\\XLSTART");
}

template <typename... Arrangements>
auto Both(Arrangements... arrangements) {
    return [=](auto& t) { (arrangements(t), ...); };
}

// The start-up folder a link to a folder on another file system (/dev/shm), as labs link it to
// another drive, holding the earlier add-in.
void LinkedToAnotherDisk(Install& t) {
    OnUnix(
        L"rm -r XLSTART && d=$(mktemp -d /dev/shm/qorvel-XXXXXX) && mkdir $d/XLSTART && "
        L"ln -s $d/XLSTART XLSTART",
        t.excel, [&] { return IsLink(t.startup); });
    EXPECT_TRUE(IsLink(t.startup)) << "no link made";
    WriteBytes(t.addIn, "add-in workbook, release 1");
}

const auto kNothing = [](LabPc&) {};
constexpr std::optional<install::Cause> kInstalled;
using install::Cause;

// clang-format off
const InstallRow kInstallRows[] = {
    {"first installation", false, kNothing, kInstalled},
    {"later installation", true, kNothing, kInstalled},
    // For every account: Excel found from its registration, never started; its version from its
    // program file.
    {"for every account, Excel 14", false, Registering(L"excel14.exe", L"\"{}\" /automation"), kInstalled,
     L"", false, {.allUsers = true}, HKEY_LOCAL_MACHINE},
    {"for every account, Excel 16, accounts' own copies", true,
     Both(Registering(L"excel16.exe", L"{} /automation"), AccountsWithOwnCopies), kInstalled,
     L"\\\\server\\share\\student2", false, {.allUsers = true}, HKEY_LOCAL_MACHINE},
    {"for every account, no program file", false, Registering(L"", L"{} /automation"),
     Cause::kHostNotRegistered, L"Office14\\EXCEL.EXE", false, {.allUsers = true}},
    {"for every account, nothing registered", false, kNothing, Cause::kHostNotRegistered,
     L"App Paths\\excel.exe", false, {.allUsers = true}},
    // The system account's own start-up folder is nobody's.
    {"as the system account", false, kNothing, Cause::kServiceAccount, L"", false, {.serviceAccount = true}},
    {"installed for every account already", true, InstalledForEveryAccount, kInstalled, L"", false, {},
     HKEY_LOCAL_MACHINE},
    {"no remover beside Setup", false, [](Install& t) { fs::remove(t.remover); }, kInstalled, L"", false, {},
     nullptr},
    {"host profile in UTF-16, with a comment", true, SavedAsUnicode, kInstalled},
    // A virus scanner holds a file that was just written for a moment: it is waited for.
    {"add-in held for a moment", true, Holding(&LabPc::addIn, 500), kInstalled},
    // Staged beside where the start-up folder really is: a move between volumes fails.
    {"start-up folder linked to another disk", true, LinkedToAnotherDisk, kInstalled},
    {"no setup.xla", false, [](Install& t) { fs::remove(t.addInSource); }, Cause::kSourceMissing,
     L"安装包\\setup.xla"},
    // Everything the host must answer is asked before the first change.
    {"version not a number", false, Answering(L"Version", L"abc"), Cause::kVersionNotANumber, L"“abc”"},
    {"Path drive-relative", false, Answering(L"Path", L"C:Office14"), Cause::kNotAFolderPath,
     L"Path = “C:Office14”"},
    {"StartupPath a file", false, [](Install& t) { t.Answer(L"StartupPath", t.shippedProfile); },
     Cause::kFileWhereAFolderBelongs, L"安装包\\QorvelProfile.ini"},
    // Converting an answer that is not text would call into Excel again, outside every bound.
    {"Version an object that hangs", false, Answering(L"ObjectOnRead", L"Version"),
     Cause::kHostReadFailed, L"Version（错误代码 0x80020005）"},
    // Excel that neither answers nor rejects a call (hung, or at a dialog it cannot show) is
    // given up after a minute.
    {"host never answers", false, Answering(L"HangOnRead", L"Version"), Cause::kHostNoAnswer,
     L"Version（错误代码 0x80010002）"},
    // A hidden or system host profile holds the recorded paths and the add-in's own keys.
    {"hidden host profile", true, Setting(FILE_ATTRIBUTE_HIDDEN, {&LabPc::hostProfile}),
     Cause::kHiddenHostProfile, L"QorvelProfile.ini"},
    {"system host profile", true, Setting(FILE_ATTRIBUTE_SYSTEM, {&LabPc::hostProfile}),
     Cause::kHiddenHostProfile, L"QorvelProfile.ini"},
    // A folder where a file belongs is named as such, at its place.
    {"a folder at the host profile's place", false, FolderAt(&LabPc::hostProfile), Cause::kFolderInTheWay,
     L"Office14\\QorvelProfile.ini"},
    {"a folder at the add-in's place", true, FolderAt(&LabPc::addIn), Cause::kFolderInTheWay,
     L"XLSTART\\Qorv.xla"},
    {"a folder at the staging place", true, FolderAt(&LabPc::stagedAddIn), Cause::kFolderInTheWay,
     L"Office14\\Qorv.xla.tmp"},
    // The add-in is staged outside the start-up folder, where Excel would open it as a second
    // add-in. What stands at a staging place is never written through: what cannot be cleared is
    // named, and nothing changes.
    {"a held link at the staging place", true, HeldLinkAtTheStagingPlace, Cause::kInUse,
     L"Office14\\Qorv.xla.tmp"},
    {"an earlier version's copy held", true, Holding(&LabPc::earlierStagedAddIn),
     Cause::kInUse, L"XLSTART\\Qorv.xla.tmp"},
    // Texts that code page 936 cannot hold are never written with "?" in their place.
    {"host folder outside code page 936", false,
     [](Install& t) { t.Answer(L"Path", t.root / L"오피스"); }, Cause::kHostFolderNotInCodePage, L"오피스"},
    {"install set outside code page 936", false,
     [](Install& t) { fs::rename(t.root / L"安装包", t.installSet = t.root / L"한글"); },
     Cause::kInstallSetNotInCodePage, L"한글"},
    {"shipped profile not code-page text", false,
     [](Install& t) { WriteBytes(t.shippedProfile, "[CurveInformation]\r\nUser=\xA1\x20\r\n"); },
     Cause::kProfileNotCodePageText, L"QorvelProfile.ini（第 2 行）"},
    {"shipped profile ends in half a character", false,
     [](Install& t) { WriteBytes(t.shippedProfile, "[CurveInformation]\r\n\r\nVer=2.0\xFE"); },
     Cause::kProfileNotCodePageText, L"QorvelProfile.ini（第 3 行）"},
    {"add-in open in Excel", true, Holding(&LabPc::addIn), Cause::kInUse, L"XLSTART\\Qorv.xla"},
    // The add-in moved into place before it is put back: both or neither.
    {"host profile open", true, Holding(&LabPc::hostProfile), Cause::kInUse,
     L"Office14\\QorvelProfile.ini"},
    // Where the old add-in cannot be put back, the new one stays, and the user is told so.
    {"host profile open, the add-in not put back", true,
     [](Install& t) { Holding(&LabPc::hostProfile)(t), install::replaceFile = ReplacedThenHeld; },
     Cause::kInUse, L"Office14\\QorvelProfile.ini", false, {}, HKEY_CURRENT_USER, true},
    // The old add-in returns to its place.
    {"the add-in cannot follow the old one", true,
     [](Install&) { install::replaceFile = ReplacementNotMoved; }, Cause::kWriteFailed,
     L"XLSTART\\Qorv.xla"},
    // The user is told the disk is full, naming the file, and the old files stay whole, whether the
    // disk fills before the profile is copied, while its edits are written (the profile call may
    // then cut the file without a word), or before the add-in is copied.
    {"disk full before the profile", false, OnAFullDisk(0), Cause::kDiskFull, L"QorvelProfile.ini.tmp", true},
    {"disk full in its edits", false, OnAFullDisk(1), Cause::kDiskFull, L"QorvelProfile.ini.tmp", true},
    {"disk full in a first installation's edits", false, OnAFullDisk(1, true), Cause::kDiskFull,
     L"QorvelProfile.ini.tmp", true},
    {"disk full before the add-in", false, OnAFullDisk(3), Cause::kDiskFull, L"Qorv.xla.tmp", true},
    // Excel opens every file in its start-up folder: at a drive's root there is no place beside it.
    {"start-up folder at a drive's root", false, Answering(L"StartupPath", L"R:\\"), Cause::kStartupFolderAtRoot, L"R:\\"},
    // Saved as UTF-8, which the add-in reads as ANSI: named so, with its mark or without, even where
    // its bytes are code-page text too.
    {"host profile in UTF-8", true,
     [](Install& t) { WriteBytes(t.hostProfile, kEarlierProfile + std::string("User=\xE5\xAE\x9E\xE9\xAA\x8C")); },
     Cause::kProfileInUtf8, L"Office14\\QorvelProfile.ini"},
    {"shipped profile in UTF-8 with its mark", false,
     [](Install& t) { WriteBytes(t.shippedProfile, "\xEF\xBB\xBF[CurveInformation]\r\nUser=\xE5\xAE\x9E\xE9\xAA\x8C\xE5\xAE\xA4"); },
     Cause::kProfileInUtf8, L"安装包\\QorvelProfile.ini"},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Rows, Install, testing::ValuesIn(kInstallRows), kRowName);
// Where the user's decimal separator is a comma, Excel's version ("14.0", written in locale 1033)
// still selects its template.
INSTANTIATE_TEST_SUITE_P(Alt, Install, testing::Values(kInstallRows[0]), kRowName);

// Read-only leftovers of a killed run at each staging place, and the copy an earlier version left.
void ReadOnlyLeftovers(Install& t) {
    for (const auto& leftover : {t.hostProfile + L".tmp", t.stagedAddIn, t.earlierStagedAddIn}) {
        WriteBytes(leftover, "[CurveInformation]\r\nFilePath=stale\r\nJunk=1\r\n");
        SetFileAttributesW(leftover.c_str(), FILE_ATTRIBUTE_READONLY);
    }
}

// Where Windows refuses what root may do: as an account without administrator rights. Install
// sets come on CDs and read-only shares; earlier runs may have left read-only files. Excel's
// program folder may be one that only the administrator may look into (C:\root-only, made with
// the test prefixes): whether a host profile stands there is not known.
// clang-format off
const InstallRow kAsUserRows[] = {
    {"read-only install set", false,
     Setting(kProtectiveAttributes, {&LabPc::shippedProfile, &LabPc::addInSource}), kInstalled},
    {"read-only earlier files", true,
     Setting(FILE_ATTRIBUTE_READONLY, {&LabPc::hostProfile, &LabPc::addIn}), kInstalled},
    {"read-only leftovers of a killed run", false, ReadOnlyLeftovers, kInstalled},
    {"host profile that cannot be looked at", false, Answering(L"Path", L"C:\\root-only"),
     Cause::kNoRightToLook, L"C:\\root-only\\QorvelProfile.ini"},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(AsUser, Install, testing::ValuesIn(kAsUserRows), kRowName);

// An edit of the staged profile that another program holds past the retries (a virus scanner)
// is reported as the file in use.
TEST(EditProfile, OfAHeldFileNamesTheFileInUse) {
    LabPc pc(L"edit", kAddIn, kShipped);
    const LockedFile held(pc.shippedProfile);
    const auto failure = profile::Edit(pc.shippedProfile, {{"FilePath", "x"}});
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->cause, install::Cause::kInUse);
}

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

struct RemovalRow {
    const char* name;
    std::function<void(class Removal&)> arrange;
    Excel excel;
    AddIn addIn;
    removal::Options options = {};
    bool forEveryAccount = false;  // a copy for every account stays
};

class Removal : public testing::TestWithParam<RemovalRow>, public LabPc {
public:
    Removal() : LabPc(L"removal", "", "") {}
};

// The add-in installed, in Excel's start-up folder beside another workbook, and the settings.
TEST_P(Removal, TakesAwayWhatItCanAndSaysWhatIsLeft) {
    const RemovalRow& row = GetParam();
    RegDeleteTreeW(HKEY_CURRENT_USER, kMaker);
    for (const auto& key : {std::wstring(kMaker), kSettings, kSibling}) {
        RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"v", REG_SZ, L"1", 4);
    }
    WriteBytes(addIn, "add-in");
    WriteBytes(startup + L"\\Personal.xlsb", "another workbook");
    WriteBytes(hostProfile, "profile");
    const HKEY entry = row.options.allUsers ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    RegSetKeyValueW(entry, layout::kUninstallKey, L"DisplayName", REG_SZ, L"Qorvel", 14);
    row.arrange(*this);
    InstallationLock lock(InstallationLock::Taker::kRemover);
    ASSERT_TRUE(lock.taken());
    FastClock clock;
    host::Excel excel(clock);
    const removal::Outcome outcome = removal::RemoveAll(excel, lock, row.options);
    held.clear();
    EXPECT_EQ(outcome.excel, row.excel);
    EXPECT_EQ(outcome.addIn, row.addIn);
    EXPECT_EQ(outcome.forEveryAccount, row.forEveryAccount);
    // The settings are each account's own: a removal for every account leaves them.
    EXPECT_FALSE(outcome.settingsRemain);
    EXPECT_EQ(ValueExists(kSettings), row.options.allUsers);
    EXPECT_EQ(fs::exists(addIn) || fs::exists(earlierStagedAddIn) || fs::exists(stagedAddIn) ||
                  fs::exists(addIn + L".bak") || fs::exists(LabPc::excel + L"\\Qorv.xla.bak"),
              row.addIn != AddIn::kGone || row.forEveryAccount);
    // The entry goes only with the last of the account's add-in (or the PC's).
    EXPECT_EQ(EntryValue(entry, L"DisplayName"),
              row.addIn == AddIn::kGone ? L"<missing>" : L"Qorvel");
    if (row.options.allUsers) {
        EXPECT_THAT(HostCalls(), IsEmpty()) << "Excel was started";
    }
    EXPECT_TRUE(ValueExists(kSibling) && ValueExists(kMaker));
    EXPECT_EQ(ReadBytes(startup + L"\\Personal.xlsb"), "another workbook");
    EXPECT_EQ(ReadBytes(hostProfile), "profile");
}

// A read-only add-in (from an installer that copied it off a CD), and what earlier or interrupted
// runs of Setup left in the start-up folder, which Excel opens too, and beside it.
void ReadOnlyWithAnEarlierCopy(Removal& t) {
    SetFileAttributesW(t.addIn.c_str(), FILE_ATTRIBUTE_READONLY);
    for (const auto& leftover : {t.earlierStagedAddIn, t.stagedAddIn, t.addIn + L".bak",
                                 t.excel + L"\\Qorv.xla.bak", t.hostProfile + L".tmp"}) {
        WriteBytes(leftover, "add-in");
    }
}

// clang-format off
const RemovalRow kRemovalRows[] = {
    {"removed", ReadOnlyWithAnEarlierCopy, Excel::kAnswered, AddIn::kGone},
    {"nothing left to remove", [](Removal& t) { fs::remove(t.addIn); }, Excel::kAnswered, AddIn::kGone},
    // One that a virus scanner holds for a moment is waited for.
    {"add-in held for a moment", Holding(&LabPc::addIn, 500), Excel::kAnswered, AddIn::kGone},
    {"add-in held open", Holding(&LabPc::addIn), Excel::kAnswered, AddIn::kInUse},
    {"a folder at the add-in's place", FolderAt(&LabPc::addIn), Excel::kAnswered, AddIn::kFolder},
    {"an earlier version's copy held", Holding(&LabPc::earlierStagedAddIn), Excel::kAnswered, AddIn::kInUse},
    // A share out of reach (AppData redirected to a server that is down): it may be there. (The
    // add-in in Excel's own start-up folder is then one for every account.)
    {"StartupPath out of reach", Answering(L"StartupPath", L"\\\\server\\share\\XLSTART"),
     Excel::kAnswered, AddIn::kMayRemain, {}, true},
    // A start-up folder that is not a complete path would be taken from the current folder.
    {"StartupPath relative", Answering(L"StartupPath", L"..\\XLSTART"), Excel::kNotAPath, AddIn::kMayRemain},
    {"Excel unreachable", Answering(L"CreateFails", L"80080005"), Excel::kUnreachable, AddIn::kMayRemain},
    {"Excel stays busy", Answering(L"RejectCalls", L"1000000"), Excel::kUnresponsive, AddIn::kMayRemain},
    // For every account: Excel found from its registration, never started.
    {"for every account", Registering(L"excel16.exe", L"\"{}\""), Excel::kAnswered, AddIn::kGone,
     {.allUsers = true}},
    {"for every account, without administrator rights", Registering(L"excel16.exe", L"\"{}\""),
     Excel::kAnswered, AddIn::kMayRemain, {.allUsers = true, .administrator = false}},
    {"for every account, nothing registered", kNothing, Excel::kNotFound, AddIn::kMayRemain,
     {.allUsers = true}},
    // The account's own copy goes; the one for every account stays.
    {"installed for every account too", InstalledForEveryAccount, Excel::kAnswered, AddIn::kGone,
     {}, true},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Rows, Removal, testing::ValuesIn(kRemovalRows), kRowName);

// Where Windows refuses what root may do: as an account without administrator rights. A start-up
// folder that only the administrator may look into (C:\root-only\XLSTART, made with the test
// prefixes, holding an add-in): the add-in may still be there.
INSTANTIATE_TEST_SUITE_P(AsUser, Removal,
                         testing::Values(RemovalRow{
                             "start-up folder that cannot be looked at",
                             Answering(L"StartupPath", L"C:\\root-only\\XLSTART"),
                             Excel::kAnswered,
                             AddIn::kMayRemain,
                             {},
                             true}),
                         kRowName);

}  // namespace
