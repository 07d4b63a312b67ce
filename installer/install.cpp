#include <windows.h>
#include <oleauto.h>

#include <optional>
#include <utility>

#include "file_ops.h"
#include "install.h"
#include "layout.h"
#include "logbook.h"
#include "profile.h"
#include "text.h"

namespace install {
namespace {

// What the host answered, checked.
struct HostAnswers {
    std::wstring folder;         // Path: Excel's program folder, where the host profile lives
    std::wstring startupFolder;  // StartupPath: whose files Excel opens when it starts
    const char* templateName = nullptr;  // by Version
};

// Where the add-in is written before it is moved into the start-up folder, on the same volume
// but outside it, since Excel opens every file there: the folder above it. A start-up folder at
// the root of a drive or share has none: the add-in is written there.
std::wstring StagingFolderFor(std::wstring startupFolder) {
    while (startupFolder.size() > 3 && startupFolder.back() == L'\\') startupFolder.pop_back();
    const std::wstring above = startupFolder.substr(0, startupFolder.find_last_of(L'\\'));
    return layout::IsFolderPath(above + L"\\") ? above : startupFolder;
}

// Where the installation puts things: the installed layout, and where each file is staged.
struct Places {
    explicit Places(const HostAnswers& answers)
        : profile{Staged(answers.folder + profile::kFileName, answers.folder)},
          addIn{Staged(answers.startupFolder + layout::kAddInName,
                       StagingFolderFor(answers.startupFolder))},
          earlierStagedAddIn(answers.startupFolder + layout::kEarlierStagedAddIn) {}

    static Staging Staged(const std::wstring& place, const std::wstring& stagingFolder) {
        const std::wstring name = place.substr(place.find_last_of(L'\\'));
        return {place, stagingFolder + name + L".tmp", stagingFolder + name + L".bak"};
    }

    Staging profile;
    Staging addIn;
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

// Bytes in the ANSI code page, for the log.
std::wstring Wide(const std::string& ansi) {
    std::wstring text(ansi.size(), L'\0');
    text.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, ansi.data(),
                                                        static_cast<int>(ansi.size()), text.data(),
                                                        static_cast<int>(text.size()))));
    return text;
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

// What stands at a place that a file is to take: nothing or a file (`file` then), never a folder
// or something that cannot be looked at.
Failure LookAtPlace(const std::wstring& place, Lookup& file) {
    file = LookUp(place);
    if (file.found == Lookup::kFolder) return Fail(Cause::kFolderInTheWay, place);
    if (file.found == Lookup::kUnknown) return LookError(file.error, place);
    return std::nullopt;
}

// What can be known before anything changes: the texts that go into the profile fit the ANSI code
// page, Excel's folders are folders, what stands at the host profile's and the add-in's places
// can be used as it is, the install set's files that are copied are there, and the profile that is
// staged is text that the profile calls keep as it is.
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
    if (const int line = profile::FirstLineNotInCodePage(staged)) {
        return NotCodePageText(line, staged);
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
    Keys keys = {{"FilePath", Ansi(set.folder) + answers.templateName}};
    if (found.firstInstallation) {
        keys.insert(keys.end(), {{"DtPath", Ansi(set.database)},
                                 {"DeskPhoto", Ansi(set.picture)},
                                 {"WkPath", Ansi(set.samples)},
                                 {"InstDate", Ansi(today)}});
    } else {
        // The shipped version's bytes, as they stand: nothing is converted on the way.
        keys.emplace_back("Ver", profile::MyKeyValue(set.profile, "Ver"));
    }
    return EditProfile(staged.stage(), keys);
}

// Asks the host, checks everything, stages the files, and moves them into place.
Failure Install(const InstallSet& set, host::Excel& excel) {
    const std::wstring today = TodayAsShortDate();
    HostAnswers answers;
    if (auto failure = AskHost(excel, answers)) return failure;
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
        return addIn.PutBack() ? failure : AddInNotPutBack(*failure);
    }
    addIn.Commit();
    profile.Commit();
    return std::nullopt;
}

}  // namespace

Failure Run(const InstallSet& set, host::Excel& excel) {
    logbook::Note(L"安装文件夹：" + set.folder);
    auto failure = Install(set, excel);
    if (const std::wstring text = OutcomeText(failure); !text.empty()) {
        logbook::Note(L"提示：" + text);
    }
    return failure;
}

Failure EditProfile(const std::wstring& file, const Keys& keys) {
    profile::Entries wanted = profile::EntriesOf(file);
    for (const auto& [key, value] : keys) {
        if (!profile::WriteKey(file, key, value)) return WriteError(GetLastError(), file);
        logbook::Note(L"写入配置项：" + Wide(key) + L"=" + Wide(value));
        std::string lower = key;
        for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        wanted[{"curveinformation", lower}] = value;
    }
    // Flushed, so that it is read back from the disk.
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, file.c_str());
    if (profile::EntriesOf(file) == wanted) return std::nullopt;
    ULARGE_INTEGER free = {};
    GetDiskFreeSpaceExW(file.substr(0, file.find_last_of(L'\\') + 1).c_str(), &free, nullptr,
                        nullptr);
    return ReadBackError(free.QuadPart, file);
}

// The host formats its version in locale 1033, so it is read back in that locale: a PC whose
// decimal separator is a comma would otherwise read "14.0" as 140.
const char* TemplateFor(const std::wstring& version) {
    double number = 0;
    if (FAILED(VarR8FromStr(const_cast<OLECHAR*>(version.c_str()), host::kLocale,
                            LOCALE_NOUSEROVERRIDE, &number))) {
        return nullptr;
    }
    return number == 14.0 ? "\\Qorvel.xltm" : "\\Qorvel.xlt";
}

}  // namespace install
