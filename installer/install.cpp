#include <windows.h>
#include <oleauto.h>

#include <optional>
#include <utility>

#include "file_ops.h"
#include "install.h"
#include "layout.h"
#include "logbook.h"
#include "profile.h"
#include "registered_host.h"
#include "text.h"
#include "uninstall_entry.h"

namespace install {
namespace {

// What the host answered, checked.
struct HostAnswers {
    std::wstring folder;         // Path: Excel's program folder, where the host profile lives
    std::wstring startupFolder;  // StartupPath: whose files Excel opens when it starts
    const char* templateName = nullptr;  // by Version
};

// Where the installation puts things: the installed layout, and where each file is staged.
struct Places {
    explicit Places(const HostAnswers& answers)
        : profile{Staged(answers.folder + layout::kHostProfileName, answers.folder, true)},
          addIn{Staged(answers.startupFolder + layout::kAddInName,
                       StagingFolderFor(answers.startupFolder, &addInOnAnotherDrive), false)},
          earlierStagedAddIn(answers.startupFolder + layout::kAddInName + layout::kStagedEnding) {}

    static Staging Staged(const std::wstring& place, const std::wstring& stagingFolder,
                          bool keepsReadOnly) {
        const std::wstring name = place.substr(place.find_last_of(L'\\'));
        if (stagingFolder.empty()) return {place, L"", L"", keepsReadOnly};
        return {place, stagingFolder + name + layout::kStagedEnding,
                stagingFolder + name + layout::kBackupEnding, keepsReadOnly};
    }

    // Why the add-in's stage is empty, where it has no staging folder: its start-up folder is on
    // another drive than the folder above it (or else at a root).
    bool addInOnAnotherDrive = false;
    Staging profile;
    Staging addIn;
    // Where earlier versions of Setup staged the add-in: in the start-up folder itself, where Excel
    // opens a copy left behind as a second add-in.
    std::wstring earlierStagedAddIn;
};

// What was found in Excel's folders.
struct Found {
    bool firstInstallation = false;  // no host profile yet
    bool addInThere = false;         // an add-in to replace
};

std::wstring TodayAsShortDate() {
    wchar_t date[80] = {};
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, 80);
    std::wstring text = date;
    const size_t first = text.find_first_not_of(L' ');
    if (first == std::wstring::npos) return {};
    return text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

// Text in the ANSI code page; checked before that it converts.
std::string Ansi(const std::wstring& text) {
    std::string ansi;
    ToAnsi(text, ansi);
    return ansi;
}

// The host formats its version in locale 1033, so it is read back in that locale: a PC whose
// decimal separator is a comma would otherwise read "14.0" as 140.
// The template the add-in opens, by the host's version as the host writes it: \\Qorvel.xltm for
// Excel 2010 (14), \\Qorvel.xlt for every other; null when the version is not a number.
const char* TemplateFor(const std::wstring& version) {
    double number = 0;
    if (FAILED(VarR8FromStr(const_cast<OLECHAR*>(version.c_str()), host::kLocale,
                            LOCALE_NOUSEROVERRIDE, &number))) {
        return nullptr;
    }
    return number == 14.0 ? "\\Qorvel.xltm" : "\\Qorvel.xlt";
}

// Everything the host must answer, in this order, each checked: nothing on disk changes before.
Failure AskHost(host::Excel& excel, HostAnswers& answers) {
    if (const HRESULT hr = excel.Connect(); FAILED(hr)) return HostError(hr, L"");
    std::wstring version;
    const std::pair<const wchar_t*, std::wstring*> reads[] = {
        {L"Path", &answers.folder},
        {L"StartupPath", &answers.startupFolder},
        {L"Version", &version}};
    for (const auto& [name, value] : reads) {
        if (const HRESULT hr = excel.ReadText(name, *value); FAILED(hr)) {
            return HostError(hr, name);
        }
        logbook::Note(L"Excel " + std::wstring(name) + L"：" + *value);
    }
    for (const auto& [name, value] : {reads[0], reads[1]}) {
        if (!layout::IsFolderPath(*value)) {
            return Fail(Cause::kNotAFolderPath, std::wstring(name) + L" = “" + *value + L"”");
        }
    }
    answers.templateName = TemplateFor(version);
    if (!answers.templateName) return Fail(Cause::kVersionNotANumber, L"“" + version + L"”");
    return std::nullopt;
}

// For every account: Excel's folder and version from its registration, without asking it; the
// start-up folder that it opens for every account is in its program folder.
Failure FindHost(HostAnswers& answers) {
    host::Registration excel;
    if (!host::FindRegistered(excel)) return Fail(Cause::kHostNotRegistered, excel.lookedAt);
    logbook::Note(L"Excel（注册信息）：" + excel.program + L"，版本 " + excel.version);
    answers.folder = excel.folder;
    answers.startupFolder = excel.folder + layout::kAllUsersStartup;
    answers.templateName = TemplateFor(excel.version);
    if (!answers.templateName) return Fail(Cause::kVersionNotANumber, L"“" + excel.version + L"”");
    return std::nullopt;
}

// Where the add-in is installed for every account already, an installation for the account
// updates that copy instead of adding a second one, which Excel would open too.
bool ForEveryAccountAlready(HostAnswers& answers) {
    const std::wstring shared = answers.folder + layout::kAllUsersStartup;
    if (shared == answers.startupFolder ||
        LookUp(shared + layout::kAddInName).found != Lookup::kFile) {
        return false;
    }
    logbook::Note(L"加载项已为本机所有账户安装，更新这一份：" + shared + layout::kAddInName);
    answers.startupFolder = shared;
    return true;
}

// What stands at a place that a file is to take: nothing or a file (`file` then), never a folder
// or something that cannot be looked at.
Failure LookAtPlace(const std::wstring& place, Lookup& file) {
    file = LookUp(place);
    if (file.found == Lookup::kFolder) return Fail(Cause::kFolderInTheWay, place);
    if (file.found == Lookup::kUnknown) return LookError(file.error, place);
    return std::nullopt;
}

// What can be known before anything changes: the texts that go into the profile fit the ANSI code
// page, Excel's folders are folders, the add-in has a staging place on its volume, what stands at
// the host profile's and the add-in's places can be used as it is, the install set's files that
// are copied are there, and the profile that is staged is text that the profile calls keep as it
// is.
Failure CheckBeforeChanges(const InstallSet& set, const HostAnswers& answers, const Places& places,
                           const std::wstring& today, Found& found) {
    const std::pair<Cause, const std::wstring*> texts[] = {
        {Cause::kInstallSetNotInCodePage, &set.folder},
        {Cause::kHostFolderNotInCodePage, &answers.folder},
        {Cause::kDateNotInCodePage, &today}};
    for (const auto& [cause, text] : texts) {
        std::string ignored;
        if (!ToAnsi(*text, ignored)) return Fail(cause, *text);
    }
    for (const std::wstring* folder : {&answers.folder, &answers.startupFolder}) {
        const Lookup there = LookUp(*folder);
        if (there.found == Lookup::kFile) return Fail(Cause::kFileWhereAFolderBelongs, *folder);
        if (there.found == Lookup::kNothing) return Fail(Cause::kFolderMissing, *folder);
        if (there.found == Lookup::kUnknown) return LookError(there.error, *folder);
    }
    if (places.addIn.stage.empty()) {
        return Fail(places.addInOnAnotherDrive ? Cause::kStartupFolderOnAnotherDrive
                                               : Cause::kStartupFolderAtRoot,
                    answers.startupFolder);
    }
    // A hidden or system profile holds the recorded paths and the add-in's own keys all the same,
    // which a first installation would replace.
    Lookup hostProfile, addIn;
    if (auto failure = LookAtPlace(places.profile.place, hostProfile)) return failure;
    if (hostProfile.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) {
        return Fail(Cause::kHiddenHostProfile, places.profile.place);
    }
    if (auto failure = LookAtPlace(places.addIn.place, addIn)) return failure;
    found.firstInstallation = hostProfile.found == Lookup::kNothing;
    found.addInThere = addIn.found == Lookup::kFile;

    for (const std::wstring* source : {&set.addIn, &set.profile}) {
        if (source == &set.profile && !found.firstInstallation) break;
        const Lookup there = LookUp(*source);
        if (there.found == Lookup::kNothing) return Fail(Cause::kSourceMissing, *source);
        if (there.found == Lookup::kFolder) return Fail(Cause::kSourceIsAFolder, *source);
        if (there.found == Lookup::kUnknown) return LookError(there.error, *source);
    }
    const std::wstring& staged = found.firstInstallation ? set.profile : places.profile.place;
    if (profile::SavedAsUtf8(staged)) return Fail(Cause::kProfileInUtf8, staged);
    if (const int line = profile::FirstLineNotInCodePage(staged)) {
        return Fail(Cause::kProfileNotCodePageText,
                    staged + L"（第 " + Decimal(static_cast<unsigned long>(line)) + L" 行）");
    }
    return std::nullopt;
}

// The profile's new text, staged: on the first installation the shipped profile with where the
// install set's files are; on a later one the host profile with the template for this version
// and the install set's version.
Failure StageProfile(const InstallSet& set, const HostAnswers& answers, const Found& found,
                     const std::wstring& today, const std::wstring& hostProfile,
                     const StagedFile& staged) {
    if (auto failure = staged.CopyFrom(found.firstInstallation ? set.profile : hostProfile)) {
        return failure;
    }
    profile::Keys keys = {{"FilePath", Ansi(set.folder) + answers.templateName}};
    if (found.firstInstallation) {
        keys.insert(keys.end(), {{"DtPath", Ansi(set.database)},
                                 {"DeskPhoto", Ansi(set.picture)},
                                 {"WkPath", Ansi(set.samples)},
                                 {"InstDate", Ansi(today)}});
    } else {
        // The shipped version's bytes, as they stand: nothing is converted on the way.
        keys.emplace_back("Ver", profile::MyKeyValue(set.profile, "Ver"));
    }
    return profile::Edit(staged.stage(), keys);
}

// Asks the host (or, for every account, finds it), checks everything, stages the files, and moves
// them into place.
Failure Install(const InstallSet& set, host::Excel& excel, const Options& options,
                bool& forEveryAccount) {
    if (options.serviceAccount && !options.allUsers) return Fail(Cause::kServiceAccount, L"");
    const std::wstring today = TodayAsShortDate();
    HostAnswers answers;
    if (auto failure = options.allUsers ? FindHost(answers) : AskHost(excel, answers)) {
        return failure;
    }
    forEveryAccount = options.allUsers || ForEveryAccountAlready(answers);
    const Places places(answers);
    logbook::Begin(
        {places.profile.place, places.profile.stage, places.profile.backup, places.addIn.place,
         places.addIn.stage, places.addIn.backup, set.addIn, set.profile},
        {answers.startupFolder});
    Found found;
    if (auto failure = CheckBeforeChanges(set, answers, places, today, found)) return failure;

    StagedFile profile(places.profile), addIn(places.addIn);
    if (auto failure = profile.Clear()) return failure;
    if (auto failure = addIn.Clear()) return failure;
    if (auto failure = RemoveLeftover(places.earlierStagedAddIn)) return failure;
    if (auto failure = StageProfile(set, answers, found, today, places.profile.place, profile)) {
        return failure;
    }
    if (auto failure = addIn.CopyFrom(set.addIn)) return failure;

    // The add-in first, on every run: the common failure (Excel has it open) then changes
    // nothing. Then the profile, which a first installation places only where none has appeared
    // meanwhile; where it cannot be placed, the add-in before it is put back.
    if (auto failure = addIn.MoveIntoPlace(found.addInThere)) return failure;
    if (auto failure = profile.MoveIntoPlace(!found.firstInstallation)) {
        failure->addInNotPutBack = !addIn.PutBack();
        return failure;
    }
    addIn.Commit();
    profile.Commit();
    return std::nullopt;
}

}  // namespace

Outcome Run(const InstallSet& set, host::Excel& excel, const Options& options) {
    logbook::Note(L"安装文件所在文件夹：" + set.folder);
    Outcome outcome;
    outcome.failure = Install(set, excel, options, outcome.forEveryAccount);
    if (!outcome.failure) {
        ListInAppsAndFeatures(set, outcome.forEveryAccount);
        if (outcome.forEveryAccount) outcome.accountCopies = RemoveAccountCopies();
    }
    if (outcome.failure) logbook::Note(ErrorLogLine(*outcome.failure));
    if (const std::wstring text = FinalMessage(outcome); !text.empty()) {
        logbook::Note(L"提示：" + text);
    }
    return outcome;
}

std::wstring FinalMessage(const Outcome& outcome) {
    std::wstring text = OutcomeText(outcome.failure);
    const auto list = [&](const wchar_t* heading, const std::vector<std::wstring>& paths) {
        if (paths.empty()) return;
        text += heading;
        for (const std::wstring& path : paths) text += L"\n" + path;
    };
    list(L"\n\n已删除各账户自己的启动文件夹中的副本：", outcome.accountCopies.removed);
    list(L"\n\n以下副本未能删除，请手动删除：", outcome.accountCopies.left);
    return text;
}

}  // namespace install
