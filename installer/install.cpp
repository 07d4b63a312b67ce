#include <windows.h>
#include <oleauto.h>

#include <optional>
#include <utility>
#include <vector>

#include "file_ops.h"
#include "host.h"
#include "install.h"
#include "profile.h"
#include "text.h"

namespace install {
namespace {

// Each step gives nothing when it is done, or the error that ends the procedure.
using Failure = std::optional<Error>;

constexpr wchar_t kAddInSource[] = L"\\setup.xla";

std::wstring Hex(HRESULT hr) {
    wchar_t text[16];
    wsprintfW(text, L"0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

std::wstring Decimal(unsigned long number) {
    wchar_t text[16];
    wsprintfW(text, L"%lu", number);
    return text;
}

std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadAll(const std::wstring& path) {
    const UniqueHandle file =
        OwnFileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (file && ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
    }
    return bytes;
}

Failure Unrepresentable(const wchar_t* what, const std::wstring& text) {
    std::string ignored;
    if (ToAnsi(text, ignored)) return std::nullopt;
    return Error{kInvalidArgument, what, text};
}

// What the host answered, checked.
struct HostAnswers {
    std::wstring folder;         // Path: Excel's program folder, where the host profile lives
    std::wstring startupFolder;  // StartupPath: whose workbooks Excel opens when it starts
    const char* templateName = nullptr;  // by Version
};

// A complete folder path from the host, or the error report that shows what the host answered.
Failure NotAFolderPath(const wchar_t* name, const std::wstring& value) {
    if (host::IsFolderPath(value)) return std::nullopt;
    return Error{kPathNotFound,
                 L"Microsoft Excel 报告的文件夹不是完整的文件夹路径，安装未做任何更改：",
                 std::wstring(name) + L" = “" + value + L"”"};
}

// Everything the host must answer, in this order, each checked: nothing on disk changes before.
Failure AskHost(ComPtr<IDispatch>& host, host::Clock& clock, HostAnswers& answers) {
    if (const HRESULT hr = host::Connect(host, clock); FAILED(hr)) return HostError(hr, L"");
    std::wstring version;
    const std::pair<const wchar_t*, std::wstring*> reads[] = {
        {L"Path", &answers.folder},
        {L"StartupPath", &answers.startupFolder},
        {L"Version", &version}};
    for (const auto& [name, value] : reads) {
        if (const HRESULT hr = host::ReadText(host.Get(), name, *value, clock); FAILED(hr)) {
            return HostError(hr, name);
        }
    }
    if (auto failure = NotAFolderPath(L"Path", answers.folder)) return failure;
    if (auto failure = NotAFolderPath(L"StartupPath", answers.startupFolder)) return failure;
    answers.templateName = TemplateFor(version);
    if (answers.templateName) return std::nullopt;
    return Error{kTypeMismatch, L"类型不匹配：Microsoft Excel 报告的版本号不是数字：",
                 L"“" + version + L"”"};
}

// A folder of the host's that files go into: there, and a folder.
Failure NotAFolder(const std::wstring& folder) {
    if (IsFolder(folder)) return std::nullopt;
    if (Exists(folder)) {
        return Error{kFileAccessError,
                     L"Microsoft Excel 报告的文件夹位置上是一个文件，而不是文件夹：", folder};
    }
    return Error{kPathNotFound, L"找不到目标文件夹：", folder};
}

// Whatever stands at the host profile location that is not an ordinary file stays untouched:
// a hidden or system profile counts as absent, yet it holds the recorded paths and the add-in's
// own keys, which a first installation would replace.
Failure HostProfileInTheWay(const std::wstring& hostProfile) {
    const DWORD attributes = GetFileAttributesW(hostProfile.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return Error{kFileAccessError,
                     L"配置文件的位置上有一个同名文件夹，安装未做任何更改。请移走它后重新运行：",
                     hostProfile};
    }
    if (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) {
        return Error{kFileAccessError,
                     L"已有的配置文件是隐藏文件或系统文件，为免其中的设置丢失，安装未做任何更改。"
                     L"请取消它的隐藏和系统属性（或将它删除）后重新运行：",
                     hostProfile};
    }
    return std::nullopt;
}

Failure ShippedProfileNotText(const std::wstring& shipped) {
    const int line = profile::FirstLineNotInCodePage(ReadAll(shipped));
    if (line == 0) return std::nullopt;
    return Error{kInvalidArgument,
                 L"安装文件中的配置文件第 " + Decimal(static_cast<unsigned long>(line)) +
                     L" 行含有系统代码页中无效的字节，写入时会被改动。请改正该文件后重新运行：",
                 shipped};
}

std::wstring TodayAsShortDate() {
    wchar_t date[80] = {};
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, 80);
    std::wstring text = date;
    const size_t first = text.find_first_not_of(L' ');
    if (first == std::wstring::npos) return {};
    return text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

// A file written whole beside its place ("<name>.tmp") and then moved there in one step, so
// that the old file stays whole until the new one is complete. One Setup runs at a time (the
// installation lock), so the name is fixed; what a killed run left under it is cleared first,
// and a pending file that is not moved into place is removed.
class PendingFile {
public:
    explicit PendingFile(std::wstring destination)
        : destination_(std::move(destination)), path_(destination_ + L".tmp") {
        Clear();
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile() { Clear(); }

    const std::wstring& path() const { return path_; }

    // Starts it as a plain copy of `source`: neither read-only, hidden nor a system file, whatever
    // the source carries (install sets come on CDs and read-only shares).
    Failure CopyFrom(const std::wstring& source) {
        if (IsFolder(source)) {
            return Error{kFileAccessError, L"要复制的是一个文件夹，而不是文件：", source};
        }
        if (RetryWhileLocked([&] { return CopyFileW(source.c_str(), path_.c_str(), FALSE); })) {
            MakePlainFile(path_);
            return std::nullopt;
        }
        const DWORD error = GetLastError();
        Clear();  // what was written before the disk filled
        if (!Exists(source)) return Error{kFileNotFound, L"找不到要复制的文件：", source};
        const UniqueHandle readable = OwnFileHandle(CreateFileW(
            source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!readable) {
            return Error{kPermissionDenied,
                         IsInUse(GetLastError()) ? L"无法读取要复制的文件（文件正被其他程序使用）："
                                                 : L"无法读取要复制的文件（没有读取权限）：",
                         source};
        }
        return WriteError(error, destination_);
    }

    // Moves it into place, over the file there if `replace`; otherwise only where none is.
    Failure MoveIntoPlace(bool replace) {
        if (replace) MakePlainFile(destination_);  // earlier installers copied a CD's read-only
        const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
        if (RetryWhileLocked([&] {
                if (MoveFileExW(path_.c_str(), destination_.c_str(), flags)) return true;
                // A file that another program has open refuses to be replaced as if it were
                // protected: it is told apart, and waited for, as a file in use.
                const DWORD error = GetLastError();
                const UniqueHandle open = OwnFileHandle(
                    CreateFileW(destination_.c_str(), DELETE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
                SetLastError(error == ERROR_ACCESS_DENIED && !open && IsInUse(GetLastError())
                                 ? ERROR_SHARING_VIOLATION
                                 : error);
                return false;
            })) {
            return std::nullopt;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
            return Error{kFileAccessError,
                         L"安装期间另一个程序已放置了配置文件，它保持原样。请重新运行安装程序：",
                         destination_};
        }
        return WriteError(error, destination_);
    }

private:
    void Clear() const {
        if (!Exists(path_)) return;
        MakePlainFile(path_);
        RetryWhileLocked([&] { return DeleteFileW(path_.c_str()); });
    }

    std::wstring destination_;
    std::wstring path_;
};

using Keys = std::vector<std::pair<const char*, std::string>>;

// Writes `keys` into the pending profile, which started as a copy of `original`, and checks that
// it then holds every entry it held before with those keys set: where the disk is full, the
// profile call may cut the file it rewrites without saying so.
Failure WriteKeys(const PendingFile& pending, const std::string& original, const Keys& keys,
                  const std::wstring& hostProfile) {
    profile::Entries wanted = profile::EntriesOf(original);
    for (const auto& [key, value] : keys) {
        if (profile::WriteKeyBytes(pending.path(), key, value) != profile::WriteResult::kWritten) {
            return WriteError(GetLastError(), hostProfile);
        }
        std::string lower = key;
        for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        wanted[{"curveinformation", lower}] = value;
    }
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, pending.path().c_str());  // flushed
    if (profile::EntriesOf(ReadAll(pending.path())) == wanted) return std::nullopt;
    ULARGE_INTEGER free = {};
    GetDiskFreeSpaceExW(FolderOf(hostProfile).c_str(), &free, nullptr, nullptr);
    return WriteError(free.QuadPart < 65536 ? ERROR_DISK_FULL : ERROR_WRITE_FAULT, hostProfile);
}

// The profile's new text, built beside the host profile: on the first installation the shipped
// profile with where the install set's files are; on a later one the host profile with the
// template for this version and the install set's version.
Failure StageProfile(const std::wstring& installSet, const HostAnswers& answers,
                     bool firstInstallation, const std::wstring& hostProfile,
                     PendingFile& pending) {
    const std::wstring shipped = installSet + profile::kFileName;
    const std::wstring& original = firstInstallation ? shipped : hostProfile;
    if (auto failure = pending.CopyFrom(original)) return failure;
    std::string set, date;
    ToAnsi(installSet, set);  // both checked before
    ToAnsi(TodayAsShortDate(), date);
    Keys keys = {{"FilePath", set + answers.templateName}};
    if (firstInstallation) {
        keys.insert(keys.end(), {{"DtPath", set + "\\Data\\Qorvel.mdb"},
                                 {"DeskPhoto", set + "\\Face\\face01.jpg"},
                                 {"WkPath", set + "\\Data\\Samples.mdb"},
                                 {"InstDate", date}});
    } else {
        // The shipped version's bytes, as they stand: nothing is converted on the way.
        keys.emplace_back("Ver", profile::MyKeyValue(installSet, "Ver"));
    }
    return WriteKeys(pending, ReadAll(original), keys, hostProfile);
}

// What can be known before anything changes: the texts that go into the profile fit the ANSI
// code page, Excel's folders are folders, and what stands at the host profile's place and the
// shipped profile can be used as they are.
Failure CheckBeforeChanges(const std::wstring& installSet, const HostAnswers& answers,
                           const std::wstring& hostProfile) {
    if (auto failure = Unrepresentable(
            L"Excel 程序文件夹的路径中含有系统代码页无法表示的字符，无法写入配置文件：",
            answers.folder)) {
        return failure;
    }
    if (auto failure = Unrepresentable(
            L"日期文本中含有系统代码页无法表示的字符，无法写入配置文件：", TodayAsShortDate())) {
        return failure;
    }
    for (const std::wstring* folder : {&answers.folder, &answers.startupFolder}) {
        if (auto failure = NotAFolder(*folder)) return failure;
    }
    if (auto failure = HostProfileInTheWay(hostProfile)) return failure;
    return ShippedProfileNotText(installSet + profile::kFileName);
}

}  // namespace

Failure Run(const std::wstring& installSet, ComPtr<IDispatch>& host, host::Clock& clock) {
    if (auto failure = Unrepresentable(
            L"安装文件所在文件夹的名称中含有系统代码页无法表示的字符，无法记录到配置文件中。"
            L"请将安装文件复制到其他文件夹后重新运行：",
            installSet)) {
        return failure;
    }
    HostAnswers answers;
    if (auto failure = AskHost(host, clock, answers)) return failure;
    const std::wstring hostProfile = answers.folder + profile::kFileName;
    if (auto failure = CheckBeforeChanges(installSet, answers, hostProfile)) return failure;

    // No host profile yet: this is the first installation.
    const bool firstInstallation = !Exists(hostProfile);
    PendingFile profile(hostProfile);
    if (auto failure = StageProfile(installSet, answers, firstInstallation, hostProfile, profile)) {
        return failure;
    }
    // The add-in, on every run; then the profile, which a first installation places only where
    // none has appeared meanwhile.
    PendingFile addIn(answers.startupFolder + host::kAddInName);
    if (auto failure = addIn.CopyFrom(installSet + kAddInSource)) return failure;
    if (auto failure = addIn.MoveIntoPlace(true)) return failure;
    return profile.MoveIntoPlace(!firstInstallation);
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

std::wstring ErrorReportText(const Error& error) {
    return L"运行时错误 '" + Decimal(static_cast<unsigned long>(error.number)) + L"'：\n\n" +
           error.what + L"\n" + error.subject;
}

Error HostError(HRESULT hr, const std::wstring& property) {
    const std::wstring subject =
        property.empty() ? L"错误代码 " + Hex(hr) : property + L"（错误代码 " + Hex(hr) + L"）";
    switch (host::FaultOf(hr)) {
        case host::Fault::kStopped:
            return Error{kCancelled, L"", L""};
        case host::Fault::kBusy:
            return Error{
                kAutomationError,
                L"Microsoft Excel 正忙，或正停在一个对话框处等待，一直没有应答。安装未做"
                L"任何更改。请先手动启动一次 Excel，关闭它显示的对话框，然后重新运行 Setup：",
                subject};
        case host::Fault::kNoAnswer:
            return Error{
                kAutomationError,
                L"Microsoft Excel 一分钟没有应答，它可能停在一个看不见的对话框处，或已停止"
                L"响应。安装未做任何更改。请关闭 Excel（必要时在任务管理器中结束 EXCEL.EXE）"
                L"后重新运行 Setup：",
                subject};
        case host::Fault::kEnded:
            return Error{kHostEnded,
                         L"Microsoft Excel 意外结束（可能已崩溃或被关闭）。安装未做任何更改，"
                         L"请重新运行 Setup：",
                         subject};
        case host::Fault::kOther:
            break;
    }
    if (!property.empty())
        return Error{kAutomationError, L"无法从 Microsoft Excel 读取信息：", subject};
    if (hr == REGDB_E_CLASSNOTREG) {
        return Error{kCannotCreateObject,
                     L"本机没有安装 Microsoft Excel（ActiveX 部件不能创建对象）。请先安装 Excel：",
                     subject};
    }
    if (hr == CO_E_SERVER_EXEC_FAILURE) {
        return Error{kCannotCreateObject,
                     L"Microsoft Excel 未能启动，或启动后一直没有应答。请先手动启动一次 Excel，"
                     L"关闭它显示的对话框，然后重新运行 Setup：",
                     subject};
    }
    return Error{kCannotCreateObject, L"无法连接 Microsoft Excel（ActiveX 部件不能创建对象）：",
                 subject};
}

Error WriteError(DWORD error, const std::wstring& file) {
    const auto refused = [&](int number, const std::wstring& cause) {
        return Error{number, L"无法写入文件（" + cause + L"）：", file};
    };
    switch (error) {
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return refused(kDiskFull, L"磁盘已满");
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return refused(kPermissionDenied, L"文件正被其他程序使用");
        case ERROR_ACCESS_DENIED:
            return refused(kPermissionDenied, L"没有写入权限");
        case ERROR_WRITE_PROTECT:
            return refused(kPermissionDenied, L"磁盘有写保护");
        default:
            return refused(kFileAccessError, L"系统错误 " + Decimal(error));
    }
}

std::wstring InstallSetPath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length < buffer.size()) {
            std::wstring folder = FolderOf(std::wstring(buffer.data(), length));
            if (folder.size() == 2 && folder[1] == L':') folder += L'\\';  // a drive root
            return folder;
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace install
