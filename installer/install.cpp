#include <windows.h>
#include <oleauto.h>

#include <optional>
#include <vector>

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

// An ordinary file: present, not a folder, neither hidden nor a system file.
bool IsOrdinaryFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes &
             (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsAccessFailure(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
           error == ERROR_LOCK_VIOLATION || error == ERROR_WRITE_PROTECT;
}

Failure Unrepresentable(const wchar_t* what, const std::wstring& text) {
    std::string ignored;
    if (ToAnsi(text, ignored)) return std::nullopt;
    return Error{kInvalidArgument, what, text};
}

// Copies `source` over `destination`; a failure names `shown` as the destination.
Failure Copy(const std::wstring& source, const std::wstring& destination,
             const std::wstring& shown) {
    if (CopyFileW(source.c_str(), destination.c_str(), FALSE)) return std::nullopt;
    const DWORD copyError = GetLastError();

    const UniqueHandle readable = OwnFileHandle(CreateFileW(
        source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!readable) {
        const DWORD readError = GetLastError();
        if (readError == ERROR_FILE_NOT_FOUND || readError == ERROR_PATH_NOT_FOUND) {
            return Error{kFileNotFound, L"找不到要复制的文件：", source};
        }
        return Error{kPermissionDenied, L"无法读取要复制的文件（文件正被使用，或没有读取权限）：",
                     source};
    }

    const std::wstring folder = FolderOf(shown);
    if (!IsFolder(folder)) return Error{kPathNotFound, L"找不到目标文件夹：", folder};
    if (IsAccessFailure(copyError)) {
        return Error{kPermissionDenied, L"无法写入文件（文件正被使用，或没有写入权限）：", shown};
    }
    return Error{kFileAccessError, L"复制文件失败（系统错误 " + Decimal(copyError) + L"）：",
                 shown};
}

Error ProfileRefused(const std::wstring& file) {
    return Error{kPermissionDenied, L"无法写入配置文件（文件正被使用，或没有写入权限）：", file};
}

Failure Write(const std::wstring& file, const char* key, const std::wstring& value,
              const std::wstring& shown) {
    switch (profile::WriteKey(file, key, value)) {
        case profile::WriteResult::kWritten:
            return std::nullopt;
        case profile::WriteResult::kUnrepresentable:
            return Error{kInvalidArgument,
                         L"此文本含有系统代码页无法表示的字符，无法写入配置文件：", value};
        case profile::WriteResult::kRefused:
            break;
    }
    return ProfileRefused(shown);
}

Failure ReadHost(IDispatch* application, const wchar_t* name, std::wstring& value) {
    const HRESULT hr = host::ReadText(application, name, value);
    if (SUCCEEDED(hr)) return std::nullopt;
    return Error{kAutomationError, L"无法从 Microsoft Excel 读取信息：",
                 std::wstring(name) + L"（错误代码 " + Hex(hr) + L"）"};
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

// The host profile of a first installation is built under a temporary name beside its place and
// moved there only when all its keys are written. Until then a failure or a killed process leaves
// no host profile, and the next run is a first installation again. A leftover temporary file is
// replaced by that run.
class PendingProfile {
public:
    explicit PendingProfile(std::wstring destination)
        : destination_(std::move(destination)), path_(destination_ + L".tmp") {}
    PendingProfile(const PendingProfile&) = delete;
    PendingProfile& operator=(const PendingProfile&) = delete;
    ~PendingProfile() {
        if (!committed_) DeleteFileW(path_.c_str());
    }

    const std::wstring& path() const { return path_; }

    Failure Start(const std::wstring& shipped) {
        SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path_.c_str());
        return Copy(shipped, path_, destination_);
    }

    Failure Commit() {
        if (MoveFileExW(path_.c_str(), destination_.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            committed_ = true;
            return std::nullopt;
        }
        const DWORD error = GetLastError();
        if (IsAccessFailure(error)) return ProfileRefused(destination_);
        return Error{kFileAccessError, L"无法写入配置文件（系统错误 " + Decimal(error) + L"）：",
                     destination_};
    }

private:
    std::wstring destination_;
    std::wstring path_;
    bool committed_ = false;
};

}  // namespace

Failure Run(const std::wstring& installSet, ComPtr<IDispatch>& host) {
    if (auto failure = Unrepresentable(
            L"安装文件所在文件夹的名称中含有系统代码页无法表示的字符，无法记录到配置文件中。"
            L"请将安装文件复制到其他文件夹后重新运行：",
            installSet)) {
        return failure;
    }

    // The host application object, kept by the caller until the program ends.
    if (const HRESULT hr = host::Connect(host); FAILED(hr)) {
        return Error{
            kCannotCreateObject,
            L"无法连接 Microsoft Excel（ActiveX 部件不能创建对象）。请确认本机已安装 Excel：",
            L"错误代码 " + Hex(hr)};
    }

    // Where the host keeps its program files and its start-up workbooks.
    std::wstring hostFolder, startupFolder;
    if (auto failure = ReadHost(host.Get(), L"Path", hostFolder)) return failure;
    if (auto failure = ReadHost(host.Get(), L"StartupPath", startupFolder)) return failure;
    if (auto failure = Unrepresentable(
            L"Excel 程序文件夹的路径中含有系统代码页无法表示的字符，无法写入配置文件：",
            hostFolder)) {
        return failure;
    }
    const std::wstring hostProfile = hostFolder + profile::kFileName;

    // No host profile yet: this is the first installation.
    const bool firstInstallation = !IsOrdinaryFile(hostProfile);
    std::optional<PendingProfile> pending;
    std::wstring installDate;
    if (firstInstallation) {
        installDate = TodayAsShortDate();
        if (auto failure = Unrepresentable(
                L"日期文本中含有系统代码页无法表示的字符，无法写入配置文件：", installDate)) {
            return failure;
        }
        pending.emplace(hostProfile);
        if (auto failure = pending->Start(installSet + profile::kFileName)) return failure;
    }
    const std::wstring& profileToEdit = firstInstallation ? pending->path() : hostProfile;

    // The add-in, on every run.
    const std::wstring addIn = startupFolder + host::kAddInName;
    if (auto failure = Copy(installSet + kAddInSource, addIn, addIn)) return failure;

    // The template that suits the host's version: only 14 takes the .xltm one.
    std::wstring versionText;
    double version = 0;
    if (auto failure = ReadHost(host.Get(), L"Version", versionText)) return failure;
    if (auto failure = ParseVersion(versionText, version)) return failure;
    const std::wstring templatePath =
        installSet + (version == 14.0 ? L"\\Qorvel.xltm" : L"\\Qorvel.xlt");

    // The template path on every run; where the install set's files are, on the first installation
    // only; the install set's version on a later one.
    if (auto failure = Write(profileToEdit, "FilePath", templatePath, hostProfile)) return failure;
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
            if (auto failure = Write(profileToEdit, key, value, hostProfile)) return failure;
        }
        if (auto failure = pending->Commit()) return failure;
    } else {
        const std::wstring shippedVersion = profile::MyKeyValue(installSet, L"Ver");
        if (auto failure = Write(hostProfile, "Ver", shippedVersion, hostProfile)) return failure;
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
