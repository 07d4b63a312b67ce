#include <windows.h>

#include "errors.h"
#include "host_wait.h"

namespace install {
namespace {

struct Text {
    Cause cause;
    int number;
    const wchar_t* what;
};

constexpr Text kTexts[] = {
    {Cause::kInstallSetNotInCodePage, kInvalidArgument,
     L"安装文件所在文件夹的名称中含有系统代码页无法表示的字符，无法记录到配置文件中。"
     L"请将安装文件复制到其他文件夹后重新运行："},
    {Cause::kHostFolderNotInCodePage, kInvalidArgument,
     L"Excel 程序文件夹的路径中含有系统代码页无法表示的字符，无法写入配置文件："},
    {Cause::kDateNotInCodePage, kInvalidArgument,
     L"日期文本中含有系统代码页无法表示的字符，无法写入配置文件："},
    {Cause::kNotAFolderPath, kPathNotFound,
     L"Microsoft Excel 报告的文件夹不是完整的文件夹路径，安装未做任何更改："},
    {Cause::kVersionNotANumber, kTypeMismatch,
     L"类型不匹配：Microsoft Excel 报告的版本号不是数字："},
    {Cause::kFileWhereAFolderBelongs, kFileAccessError,
     L"Microsoft Excel 报告的文件夹位置上是一个文件，而不是文件夹："},
    {Cause::kFolderMissing, kPathNotFound, L"找不到目标文件夹："},
    {Cause::kFolderInTheWay, kFileAccessError,
     L"文件的位置上有一个同名文件夹，安装未做任何更改。请移走它后重新运行："},
    {Cause::kHiddenHostProfile, kFileAccessError,
     L"已有的配置文件是隐藏文件或系统文件，为免其中的设置丢失，安装未做任何更改。"
     L"请取消它的隐藏和系统属性（或将它删除）后重新运行："},
    {Cause::kSourceMissing, kFileNotFound, L"找不到要复制的文件："},
    {Cause::kSourceIsAFolder, kFileAccessError, L"要复制的是一个文件夹，而不是文件："},
    {Cause::kSourceInUse, kPermissionDenied, L"无法读取要复制的文件（文件正被其他程序使用）："},
    {Cause::kSourceNoRight, kPermissionDenied, L"无法读取要复制的文件（没有读取权限）："},
    {Cause::kPlacedMeanwhile, kFileAccessError,
     L"安装期间另一个程序在这里放置了文件，它保持原样，安装未做任何更改。请重新运行安装程序："},
    {Cause::kProfileReadBackWrong, kFileAccessError,
     L"配置文件写入后读回的内容与写入的不符，安装未做任何更改："},
    {Cause::kHostBusy, kAutomationError,
     L"Microsoft Excel 正忙，或正停在一个对话框处等待，一直没有应答。安装未做任何更改。"
     L"请先手动启动一次 Excel，关闭它显示的对话框，然后重新运行 Setup："},
    {Cause::kHostNoAnswer, kAutomationError,
     L"Microsoft Excel 一分钟没有应答，它可能停在一个看不见的对话框处，或已停止响应。"
     L"安装未做任何更改。请关闭 Excel（必要时在任务管理器中结束 EXCEL.EXE）后重新运行 Setup："},
    {Cause::kHostEnded, kHostEnded,
     L"Microsoft Excel 意外结束（可能已崩溃或被关闭）。安装未做任何更改，请重新运行 Setup："},
    {Cause::kHostReadFailed, kAutomationError, L"无法从 Microsoft Excel 读取信息："},
    {Cause::kHostNotInstalled, kCannotCreateObject,
     L"本机没有安装 Microsoft Excel（ActiveX 部件不能创建对象）。请先安装 Excel："},
    {Cause::kHostNotStarting, kCannotCreateObject,
     L"Microsoft Excel 未能启动，或启动后一直没有应答。请先手动启动一次 Excel，"
     L"关闭它显示的对话框，然后重新运行 Setup："},
    {Cause::kHostUnreachable, kCannotCreateObject,
     L"无法连接 Microsoft Excel（ActiveX 部件不能创建对象）："},
    {Cause::kStartupFolderAtRoot, kFileAccessError,
     L"Excel 的启动文件夹是驱动器或共享文件夹的根目录，安装程序无法在它之外、同一驱动器上暂存"
     L"加载项（Excel 启动时会打开启动文件夹中的每个文件），安装未做任何更改。"
     L"请将 Excel 的启动文件夹改为某个文件夹之下的子文件夹，然后重新运行 Setup："},
    {Cause::kStartupFolderOnAnotherDrive, kFileAccessError,
     L"Excel 的启动文件夹与它上一级的文件夹不在同一个驱动器上（例如它链接到另一个驱动器），"
     L"安装程序在启动文件夹所在的驱动器上找不到它之外可以暂存加载项的文件夹，安装未做任何更改。"
     L"请让启动文件夹链接到那个驱动器上某个文件夹之下的子文件夹（而不是驱动器的根目录），"
     L"或将它移回上一级文件夹所在的驱动器，然后重新运行 Setup："},
    {Cause::kProfileInUtf8, kInvalidArgument,
     L"配置文件是以 UTF-8 编码保存的，而加载项按系统代码页（ANSI）读取它，其中的中文会成为乱码。"
     L"安装未做任何更改。请用记事本打开它，“另存为”时将编码改为 ANSI 或 Unicode（UTF-16 LE）"
     L"后保存，然后重新运行 Setup："},
};

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

}  // namespace

Error Fail(Cause cause, const std::wstring& subject) {
    for (const Text& text : kTexts) {
        if (text.cause == cause) return Error{text.number, text.what, subject};
    }
    return Error{kFileAccessError, L"", subject};
}

Error NotCodePageText(int line, const std::wstring& profile) {
    return Error{kInvalidArgument,
                 L"配置文件中含有系统代码页中无效的字节，写入时会被改动。请改正该行后重新运行：",
                 profile + L"（第 " + Decimal(static_cast<unsigned long>(line)) + L" 行）"};
}

Error HostError(HRESULT hr, const std::wstring& property) {
    const std::wstring subject =
        property.empty() ? L"错误代码 " + Hex(hr) : property + L"（错误代码 " + Hex(hr) + L"）";
    switch (host::FaultOf(hr)) {
        case host::Fault::kStopped:
            return Error{kCancelled, L"", L""};
        case host::Fault::kBusy:
            return Fail(Cause::kHostBusy, subject);
        case host::Fault::kNoAnswer:
            return Fail(Cause::kHostNoAnswer, subject);
        case host::Fault::kEnded:
            return Fail(Cause::kHostEnded, subject);
        case host::Fault::kOther:
            break;
    }
    const Cause cause = !property.empty()                ? Cause::kHostReadFailed
                        : hr == REGDB_E_CLASSNOTREG      ? Cause::kHostNotInstalled
                        : hr == CO_E_SERVER_EXEC_FAILURE ? Cause::kHostNotStarting
                                                         : Cause::kHostUnreachable;
    return Fail(cause, subject);
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

Error LookError(DWORD error, const std::wstring& path) {
    if (error == ERROR_ACCESS_DENIED) {
        return Error{kPermissionDenied,
                     L"无法确定这里是否已有文件（没有访问权限），安装未做任何更改：", path};
    }
    return Error{
        kFileAccessError,
        L"无法确定这里是否已有文件（系统错误 " + Decimal(error) + L"），安装未做任何更改：", path};
}

Error ReadBackError(ULONGLONG freeBytes, const std::wstring& profile) {
    constexpr ULONGLONG kFewPages = 65536;
    if (freeBytes < kFewPages) return WriteError(ERROR_DISK_FULL, profile);
    return Fail(Cause::kProfileReadBackWrong, profile);
}

Error AddInNotPutBack(Error failure) {
    failure.what =
        L"新的加载项已放入 Excel 的启动文件夹，但配置文件未能更新，原来的加载项也未能"
        L"恢复。请排除下面的问题后重新运行 Setup。" +
        failure.what;
    return failure;
}

std::wstring OutcomeText(const std::optional<Error>& failure) {
    if (!failure) {
        return L"程序安装完毕，打开Excel后，点击工具栏中的“Qorvel”按钮即可打开Qorvel主程序！！！  "
               L" ";
    }
    return failure->number == kCancelled ? L"" : ErrorReportText(*failure);
}

int ExitCodeOf(const std::optional<Error>& failure) {
    return failure ? failure->number : exit_code::kDone;
}

std::wstring ErrorReportText(const Error& error) {
    return L"运行时错误 '" + Decimal(static_cast<unsigned long>(error.number)) + L"'：\n\n" +
           error.what + L"\n" + error.subject;
}

}  // namespace install
