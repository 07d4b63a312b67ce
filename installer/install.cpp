#include <windows.h>
#include <oleauto.h>

#include <optional>
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

// Why a write was refused, as the error report says it.
std::wstring WriteCause(DWORD error) {
    switch (error) {
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return L"文件正被其他程序使用";
        case ERROR_ACCESS_DENIED:
            return L"没有写入权限";
        case ERROR_WRITE_PROTECT:
            return L"磁盘有写保护";
        default:
            return L"系统错误 " + Decimal(error);
    }
}

int WriteErrorNumber(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                   error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT
               ? kPermissionDenied
               : kFileAccessError;
}

Failure Unrepresentable(const wchar_t* what, const std::wstring& text) {
    std::string ignored;
    if (ToAnsi(text, ignored)) return std::nullopt;
    return Error{kInvalidArgument, what, text};
}

// Copies `source` over `destination`, which ends up a plain file: neither read-only, hidden nor
// a system file, whatever the source carries (install sets come on CDs and read-only shares). An
// existing destination with those attributes is replaced all the same.
Failure Copy(const std::wstring& source, const std::wstring& destination) {
    if (IsFolder(source)) {
        return Error{kFileAccessError, L"要复制的是一个文件夹，而不是文件：", source};
    }
    const std::wstring folder = FolderOf(destination);
    if (!IsFolder(folder)) return Error{kPathNotFound, L"找不到目标文件夹：", folder};
    if (IsFolder(destination)) {
        return Error{kFileAccessError, L"无法写入文件（此位置是一个文件夹）：", destination};
    }
    MakePlainFile(destination);
    if (RetryWhileLocked([&] { return CopyFileW(source.c_str(), destination.c_str(), FALSE); })) {
        MakePlainFile(destination);
        return std::nullopt;
    }
    const DWORD copyError = GetLastError();

    const UniqueHandle readable = OwnFileHandle(CreateFileW(
        source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!readable) {
        const DWORD readError = GetLastError();
        if (readError == ERROR_FILE_NOT_FOUND || readError == ERROR_PATH_NOT_FOUND) {
            return Error{kFileNotFound, L"找不到要复制的文件：", source};
        }
        const bool inUse =
            readError == ERROR_SHARING_VIOLATION || readError == ERROR_LOCK_VIOLATION;
        return Error{kPermissionDenied,
                     inUse ? L"无法读取要复制的文件（文件正被其他程序使用）："
                           : L"无法读取要复制的文件（没有读取权限）：",
                     source};
    }
    return Error{WriteErrorNumber(copyError), L"无法写入文件（" + WriteCause(copyError) + L"）：",
                 destination};
}

Error ProfileRefused(const std::wstring& file, DWORD error) {
    return Error{WriteErrorNumber(error), L"无法写入配置文件（" + WriteCause(error) + L"）：",
                 file};
}

Failure Write(const std::wstring& file, const char* key, const std::wstring& value) {
    switch (profile::WriteKey(file, key, value)) {
        case profile::WriteResult::kWritten:
            return std::nullopt;
        case profile::WriteResult::kUnrepresentable:
            return Error{kInvalidArgument,
                         L"此文本含有系统代码页无法表示的字符，无法写入配置文件：", value};
        case profile::WriteResult::kRefused:
            break;
    }
    return ProfileRefused(file, GetLastError());
}

// The profile calls would replace bytes that are not text in the ANSI code page (a stray byte
// in a hand-edited file) with "?", so a shipped profile with such bytes is refused before it is
// copied or its Ver read. Gives the number of the first such line, or 0.
int FirstLineNotInCodePage(const std::string& bytes) {
    int number = 1;
    for (size_t start = 0; start < bytes.size(); ++number) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        if (end > start && !MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data() + start,
                                                static_cast<int>(end - start), nullptr, 0)) {
            return number;
        }
        start = end + 1;
    }
    return 0;
}

Failure ShippedProfileNotText(const std::wstring& shipped) {
    const UniqueHandle file =
        OwnFileHandle(CreateFileW(shipped.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;  // a missing profile is reported where it is needed
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
    }
    const int line = FirstLineNotInCodePage(bytes);
    if (line == 0) return std::nullopt;
    return Error{kInvalidArgument,
                 L"安装文件中的配置文件第 " + Decimal(static_cast<unsigned long>(line)) +
                     L" 行含有系统代码页中无效的字节，写入时会被改动。请改正该文件后重新运行：",
                 shipped};
}

// A complete folder path from the host, or the error report that shows what the host answered.
Failure NotAFolder(const wchar_t* name, const std::wstring& value) {
    if (host::IsFolderPath(value)) return std::nullopt;
    return Error{kPathNotFound,
                 L"Microsoft Excel 报告的文件夹不是完整的文件夹路径，安装未做任何更改：",
                 std::wstring(name) + L" = “" + value + L"”"};
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

// A busy host and a host that ended are told apart from other failures: the user can do
// something about the first, and the second is not Setup's fault.
std::optional<Error> HostTrouble(HRESULT hr, const std::wstring& subject) {
    if (host::IsBusy(hr)) {
        return Error{kAutomationError,
                     L"Microsoft Excel 正忙，或正停在一个对话框处等待，一直没有应答。"
                     L"请先手动启动一次 Excel，关闭它显示的对话框，然后重新运行 Setup：",
                     subject};
    }
    if (host::HasEnded(hr)) {
        return Error{kHostEnded,
                     L"Microsoft Excel 意外结束（可能已崩溃或被关闭）。"
                     L"已完成的步骤保持不变，请重新运行 Setup：",
                     subject};
    }
    return std::nullopt;
}

Failure ReadHost(IDispatch* application, const wchar_t* name, std::wstring& value,
                 host::Clock& clock) {
    const HRESULT hr = host::ReadText(application, name, value, clock);
    if (SUCCEEDED(hr)) return std::nullopt;
    const std::wstring subject = std::wstring(name) + L"（错误代码 " + Hex(hr) + L"）";
    if (auto trouble = HostTrouble(hr, subject)) return trouble;
    return Error{kAutomationError, L"无法从 Microsoft Excel 读取信息：", subject};
}

// The host formats its version in locale 1033, so it is read back in that locale: a PC whose
// decimal separator is a comma would otherwise read "14.0" as 140.
Failure ParseVersion(const std::wstring& text, double& version) {
    if (SUCCEEDED(VarR8FromStr(const_cast<OLECHAR*>(text.c_str()), host::kLocale,
                               LOCALE_NOUSEROVERRIDE, &version))) {
        return std::nullopt;
    }
    return Error{kTypeMismatch, L"类型不匹配：Microsoft Excel 报告的版本号不是数字：",
                 L"“" + text + L"”"};
}

std::wstring TodayAsShortDate() {
    wchar_t date[80] = {};
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, 80);
    std::wstring text = date;
    const size_t first = text.find_first_not_of(L' ');
    if (first == std::wstring::npos) return {};
    return text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

bool ProcessRuns(DWORD id) {
    const UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, id));
    if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
    return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

// The host profile of a first installation is built under a name of this process's own beside
// its place ("QorvelProfile.ini.<process id>.tmp"), so that no other process writes into it, and
// moved there only when all its keys are written, and only if no profile has appeared there
// meanwhile. Until then a failure or a killed process leaves no host profile, and the next run
// is a first installation again. That run removes what killed runs left behind.
class PendingProfile {
public:
    explicit PendingProfile(std::wstring destination)
        : destination_(std::move(destination)),
          path_(destination_ + L"." + Decimal(GetCurrentProcessId()) + L".tmp") {}
    PendingProfile(const PendingProfile&) = delete;
    PendingProfile& operator=(const PendingProfile&) = delete;
    ~PendingProfile() {
        if (!committed_) DeleteFileW(path_.c_str());
    }

    const std::wstring& path() const { return path_; }

    Failure Start(const std::wstring& shipped) {
        RemoveLeftovers();
        return Copy(shipped, path_);
    }

    Failure Commit() {
        if (RetryWhileLocked([&] {
                return MoveFileExW(path_.c_str(), destination_.c_str(), MOVEFILE_WRITE_THROUGH);
            })) {
            committed_ = true;
            return std::nullopt;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
            return Error{kFileAccessError,
                         L"安装期间另一个程序已放置了配置文件，它保持原样。请重新运行安装程序：",
                         destination_};
        }
        return ProfileRefused(destination_, error);
    }

private:
    // Pending profiles of processes that no longer run, this one's own name included.
    void RemoveLeftovers() const {
        const std::wstring folder = FolderOf(destination_);
        const std::wstring prefix = destination_.substr(folder.size() + 1) + L".";
        WIN32_FIND_DATAW entry;
        const HANDLE search = FindFirstFileW((destination_ + L".*.tmp").c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE) return;
        do {
            const std::wstring name = entry.cFileName;
            if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
                name.compare(name.size() - 4, 4, L".tmp") != 0) {
                continue;
            }
            const std::wstring id = name.substr(prefix.size(), name.size() - prefix.size() - 4);
            if (id.find_first_not_of(L"0123456789") != std::wstring::npos || id.size() > 10)
                continue;
            const DWORD process = wcstoul(id.c_str(), nullptr, 10);
            if (process != GetCurrentProcessId() && ProcessRuns(process)) continue;
            const std::wstring leftover = folder + L"\\" + name;
            MakePlainFile(leftover);
            RetryWhileLocked([&] { return DeleteFileW(leftover.c_str()); });
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }

    std::wstring destination_;
    std::wstring path_;
    bool committed_ = false;
};

}  // namespace

Failure Run(const std::wstring& installSet, ComPtr<IDispatch>& host, host::Clock& clock) {
    if (auto failure = Unrepresentable(
            L"安装文件所在文件夹的名称中含有系统代码页无法表示的字符，无法记录到配置文件中。"
            L"请将安装文件复制到其他文件夹后重新运行：",
            installSet)) {
        return failure;
    }

    // The host application object, kept by the caller until the program ends.
    if (const HRESULT hr = host::Connect(host, clock); FAILED(hr)) {
        if (auto trouble = HostTrouble(hr, L"错误代码 " + Hex(hr))) return trouble;
        return Error{
            kCannotCreateObject,
            L"无法连接 Microsoft Excel（ActiveX 部件不能创建对象）。请确认本机已安装 Excel：",
            L"错误代码 " + Hex(hr)};
    }

    // Where the host keeps its program files and its start-up workbooks.
    std::wstring hostFolder, startupFolder;
    if (auto failure = ReadHost(host.Get(), L"Path", hostFolder, clock)) return failure;
    if (auto failure = ReadHost(host.Get(), L"StartupPath", startupFolder, clock)) return failure;
    if (auto failure = NotAFolder(L"Path", hostFolder)) return failure;
    if (auto failure = NotAFolder(L"StartupPath", startupFolder)) return failure;
    if (auto failure = Unrepresentable(
            L"Excel 程序文件夹的路径中含有系统代码页无法表示的字符，无法写入配置文件：",
            hostFolder)) {
        return failure;
    }
    const std::wstring hostProfile = hostFolder + profile::kFileName;
    if (auto failure = HostProfileInTheWay(hostProfile)) return failure;
    const std::wstring shipped = installSet + profile::kFileName;
    if (auto failure = ShippedProfileNotText(shipped)) return failure;

    // No host profile yet: this is the first installation. (Whatever else stands there, a folder
    // or a hidden or system file, has stopped the installation above.)
    const bool firstInstallation =
        GetFileAttributesW(hostProfile.c_str()) == INVALID_FILE_ATTRIBUTES;
    std::optional<PendingProfile> pending;
    std::wstring installDate;
    if (firstInstallation) {
        installDate = TodayAsShortDate();
        if (auto failure = Unrepresentable(
                L"日期文本中含有系统代码页无法表示的字符，无法写入配置文件：", installDate)) {
            return failure;
        }
        pending.emplace(hostProfile);
        if (auto failure = pending->Start(shipped)) return failure;
    } else {
        MakePlainFile(hostProfile);  // earlier installers copied a CD's read-only attribute
    }
    const std::wstring& profileToEdit = firstInstallation ? pending->path() : hostProfile;

    // The add-in, on every run.
    const std::wstring addIn = startupFolder + host::kAddInName;
    if (auto failure = Copy(installSet + kAddInSource, addIn)) return failure;

    // The template that suits the host's version: only 14 takes the .xltm one.
    std::wstring versionText;
    double version = 0;
    if (auto failure = ReadHost(host.Get(), L"Version", versionText, clock)) return failure;
    if (auto failure = ParseVersion(versionText, version)) return failure;
    const std::wstring templatePath =
        installSet + (version == 14.0 ? L"\\Qorvel.xltm" : L"\\Qorvel.xlt");

    // The template path on every run; where the install set's files are, on the first installation
    // only; the install set's version on a later one.
    if (auto failure = Write(profileToEdit, "FilePath", templatePath)) return failure;
    if (firstInstallation) {
        const struct {
            const char* key;
            std::wstring value;
        } keys[] = {
            {"DtPath", installSet + L"\\Data\\Qorvel.mdb"},
            {"DeskPhoto", installSet + L"\\Face\\face01.jpg"},
            {"WkPath", installSet + L"\\Data\\Samples.mdb"},
            {"InstDate", installDate},
        };
        for (const auto& [key, value] : keys) {
            if (auto failure = Write(profileToEdit, key, value)) return failure;
        }
        if (auto failure = pending->Commit()) return failure;
    } else {
        // The shipped version's bytes, as they stand: nothing is converted on the way.
        const std::string shippedVersion = profile::ReadKeyBytes(shipped, L"Ver");
        if (profile::WriteKeyBytes(hostProfile, "Ver", shippedVersion) !=
            profile::WriteResult::kWritten) {
            return ProfileRefused(hostProfile, GetLastError());
        }
    }
    return std::nullopt;
}

std::wstring ErrorReportText(const Error& error) {
    return L"运行时错误 '" + Decimal(static_cast<unsigned long>(error.number)) + L"'：\n\n" +
           error.what + L"\n" + error.subject;
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
