#include <windows.h>

#include "errors.h"
#include "host_wait.h"
#include "text.h"

namespace install {

int NumberOf(Cause cause) {
    switch (cause) {
        case Cause::kStopped:
            return kCancelled;
        case Cause::kInstallSetNotInCodePage:
        case Cause::kHostFolderNotInCodePage:
        case Cause::kDateNotInCodePage:
        case Cause::kProfileNotCodePageText:
        case Cause::kProfileInUtf8:
            return kInvalidArgument;
        case Cause::kVersionNotANumber:
            return kTypeMismatch;
        case Cause::kSourceMissing:
            return kFileNotFound;
        case Cause::kDiskFull:
            return kDiskFull;
        case Cause::kSourceInUse:
        case Cause::kSourceNoRight:
        case Cause::kInUse:
        case Cause::kNoRightToWrite:
        case Cause::kWriteProtected:
        case Cause::kNoRightToLook:
            return kPermissionDenied;
        case Cause::kFileWhereAFolderBelongs:
        case Cause::kFolderInTheWay:
        case Cause::kHiddenHostProfile:
        case Cause::kSourceIsAFolder:
        case Cause::kPlacedMeanwhile:
        case Cause::kProfileReadBackWrong:
        case Cause::kWriteFailed:
        case Cause::kLookFailed:
        case Cause::kStartupFolderAtRoot:
        case Cause::kStartupFolderOnAnotherDrive:
            return kFileAccessError;
        case Cause::kNotAFolderPath:
        case Cause::kFolderMissing:
            return kPathNotFound;
        case Cause::kHostNotInstalled:
        case Cause::kHostNotStarting:
        case Cause::kHostUnreachable:
        case Cause::kHostNotRegistered:
            return kCannotCreateObject;
        case Cause::kHostBusy:
        case Cause::kHostNoAnswer:
        case Cause::kHostReadFailed:
            return kAutomationError;
        case Cause::kHostGone:
            return kHostEnded;
        case Cause::kServiceAccount:
            return kInstallFailure;
    }
    return kFileAccessError;  // not reached: every cause has its number above
}

namespace {

// What failed, as the report says it before the path or value involved.
std::wstring WhatFailed(const Error& error) {
    const std::wstring system = Decimal(static_cast<unsigned long>(error.code));
    switch (error.cause) {
        case Cause::kStopped:
            return L"";
        case Cause::kInstallSetNotInCodePage:
            return L"安装文件所在文件夹的名称中含有系统代码页无法表示的字符，无法记录到配置文件中。"
                   L"请将安装文件复制到其他文件夹后重新运行：";
        case Cause::kHostFolderNotInCodePage:
            return L"Excel 程序文件夹的路径中含有系统代码页无法表示的字符，无法写入配置文件：";
        case Cause::kDateNotInCodePage:
            return L"日期文本中含有系统代码页无法表示的字符，无法写入配置文件：";
        case Cause::kProfileNotCodePageText:
            return L"配置文件中含有系统代码页中无效的字节，写入时会被改动。请改正该行后重新运行：";
        case Cause::kNotAFolderPath:
            return L"Microsoft Excel 报告的文件夹不是完整的文件夹路径，安装未做任何更改：";
        case Cause::kVersionNotANumber:
            return L"类型不匹配：Microsoft Excel 报告的版本号不是数字：";
        case Cause::kFileWhereAFolderBelongs:
            return L"Microsoft Excel 报告的文件夹位置上是一个文件，而不是文件夹：";
        case Cause::kFolderMissing:
            return L"找不到目标文件夹：";
        case Cause::kFolderInTheWay:
            return L"文件的位置上有一个同名文件夹，安装未做任何更改。请移走它后重新运行：";
        case Cause::kHiddenHostProfile:
            return L"已有的配置文件是隐藏文件或系统文件，为免其中的设置丢失，安装未做任何更改。"
                   L"请取消它的隐藏和系统属性（或将它删除）后重新运行：";
        case Cause::kSourceMissing:
            return L"找不到要复制的文件：";
        case Cause::kSourceIsAFolder:
            return L"要复制的是一个文件夹，而不是文件：";
        case Cause::kSourceInUse:
            return L"无法读取要复制的文件（文件正被其他程序使用）：";
        case Cause::kSourceNoRight:
            return L"无法读取要复制的文件（没有读取权限）：";
        case Cause::kPlacedMeanwhile:
            return L"安装期间另一个程序在这里放置了文件，它保持原样，安装未做任何更改。"
                   L"请重新运行安装程序：";
        case Cause::kProfileReadBackWrong:
            return L"配置文件写入后读回的内容与写入的不符，安装未做任何更改：";
        case Cause::kDiskFull:
            return L"无法写入文件（磁盘已满）：";
        case Cause::kInUse:
            return L"无法写入文件（文件正被其他程序使用）：";
        case Cause::kNoRightToWrite:
            return L"无法写入文件（没有写入权限）：";
        case Cause::kWriteProtected:
            return L"无法写入文件（磁盘有写保护）：";
        case Cause::kWriteFailed:
            return L"无法写入文件（系统错误 " + system + L"）：";
        case Cause::kNoRightToLook:
            return L"无法确定这里是否已有文件（没有访问权限），安装未做任何更改：";
        case Cause::kLookFailed:
            return L"无法确定这里是否已有文件（系统错误 " + system + L"），安装未做任何更改：";
        case Cause::kHostBusy:
            return L"Microsoft Excel 正忙，或正停在一个对话框处等待，一直没有应答。安装未做任何更改。"
                   L"请先手动启动一次 Excel，关闭它显示的对话框，然后重新运行 Setup：";
        case Cause::kHostNoAnswer:
            return L"Microsoft Excel " + Decimal(host::kNoAnswerLimitMs / 1000) +
                   L" 秒没有应答，它可能停在一个看不见的对话框处，或已停止响应。"
                   L"安装未做任何更改。请关闭 Excel（必要时在任务管理器中结束 EXCEL.EXE）后重新运行 "
                   L"Setup：";
        case Cause::kHostGone:
            return L"Microsoft Excel 意外结束（可能已崩溃或被关闭）。安装未做任何更改，请重新运行 "
                   L"Setup：";
        case Cause::kHostReadFailed:
            return L"无法从 Microsoft Excel 读取信息：";
        case Cause::kHostNotInstalled:
            return L"本机没有安装 Microsoft Excel（ActiveX 部件不能创建对象）。请先安装 Excel：";
        case Cause::kHostNotStarting:
            return L"Microsoft Excel 未能启动，或启动后一直没有应答。请先手动启动一次 Excel，"
                   L"关闭它显示的对话框，然后重新运行 Setup：";
        case Cause::kHostUnreachable:
            return L"无法连接 Microsoft Excel（ActiveX 部件不能创建对象）：";
        case Cause::kHostNotRegistered:
            return L"本机没有找到 Microsoft Excel（ActiveX 部件不能创建对象），安装未做任何更改。"
                   L"请先安装 Excel。查找的位置：";
        case Cause::kServiceAccount:
            return L"Setup 正以系统账户（或服务账户）运行：为这个账户安装的加载项不会出现在任何用户的 "
                   L"Excel 中，安装未做任何更改。要为本机所有账户安装，请运行 Setup.exe /allusers。";
        case Cause::kStartupFolderAtRoot:
            return L"Excel 的启动文件夹是驱动器或共享文件夹的根目录，安装程序无法在它之外、同一驱动器上暂存"
                   L"加载项（Excel 启动时会打开启动文件夹中的每个文件），安装未做任何更改。"
                   L"请将 Excel 的启动文件夹改为某个文件夹之下的子文件夹，然后重新运行 Setup：";
        case Cause::kStartupFolderOnAnotherDrive:
            return L"Excel 的启动文件夹与它上一级的文件夹不在同一个驱动器上（例如它链接到另一个驱动器），"
                   L"安装程序在启动文件夹所在的驱动器上找不到它之外可以暂存加载项的文件夹，安装未做任何更改。"
                   L"请让启动文件夹链接到那个驱动器上某个文件夹之下的子文件夹（而不是驱动器的根目录），"
                   L"或将它移回上一级文件夹所在的驱动器，然后重新运行 Setup：";
        case Cause::kProfileInUtf8:
            return L"配置文件是以 UTF-8 编码保存的，而加载项按系统代码页（ANSI）读取它，其中的中文会成为乱码。"
                   L"安装未做任何更改。请用记事本打开它，“另存为”时将编码改为 ANSI 或 Unicode（UTF-16 LE）"
                   L"后保存，然后重新运行 Setup：";
    }
    return L"";  // not reached: every cause has its text above
}

// Whether the code is from asking Excel (an HRESULT, shown in hexadecimal) rather than a Windows
// error.
bool FromExcel(Cause cause) {
    return cause == Cause::kStopped || NumberOf(cause) == kCannotCreateObject || NumberOf(cause) == kAutomationError ||
           NumberOf(cause) == kHostEnded;
}

// The path or value involved; for Excel's failures with the error code it gave.
std::wstring Subject(const Error& error) {
    if (!FromExcel(error.cause) || error.cause == Cause::kHostNotRegistered) return error.subject;
    const std::wstring code = L"错误代码 " + Hex(error.code);
    return error.subject.empty() ? code : error.subject + L"（" + code + L"）";
}

}  // namespace

Error Fail(Cause cause, const std::wstring& subject, long code) { return {cause, subject, code}; }

Error HostError(HRESULT hr, const std::wstring& property) {
    switch (host::FaultOf(hr)) {
        case host::Fault::kStopped:
            return Fail(Cause::kStopped, L"", hr);
        case host::Fault::kBusy:
            return Fail(Cause::kHostBusy, property, hr);
        case host::Fault::kNoAnswer:
            return Fail(Cause::kHostNoAnswer, property, hr);
        case host::Fault::kEnded:
            return Fail(Cause::kHostGone, property, hr);
        case host::Fault::kOther:
            break;
    }
    const Cause cause = !property.empty()                ? Cause::kHostReadFailed
                        : hr == REGDB_E_CLASSNOTREG      ? Cause::kHostNotInstalled
                        : hr == CO_E_SERVER_EXEC_FAILURE ? Cause::kHostNotStarting
                                                         : Cause::kHostUnreachable;
    return Fail(cause, property, hr);
}

Error WriteError(DWORD error, const std::wstring& file) {
    const long code = static_cast<long>(error);
    switch (error) {
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return Fail(Cause::kDiskFull, file, code);
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return Fail(Cause::kInUse, file, code);
        case ERROR_ACCESS_DENIED:
            return Fail(Cause::kNoRightToWrite, file, code);
        case ERROR_WRITE_PROTECT:
            return Fail(Cause::kWriteProtected, file, code);
        default:
            return Fail(Cause::kWriteFailed, file, code);
    }
}

Error LookError(DWORD error, const std::wstring& path) {
    return Fail(error == ERROR_ACCESS_DENIED ? Cause::kNoRightToLook : Cause::kLookFailed, path,
                static_cast<long>(error));
}

Error ReadBackError(ULONGLONG freeBytes, const std::wstring& profile) {
    constexpr ULONGLONG kFewPages = 65536;
    if (freeBytes < kFewPages) return WriteError(ERROR_DISK_FULL, profile);
    return Fail(Cause::kProfileReadBackWrong, profile);
}

std::wstring ErrorReportText(const Error& error) {
    const std::wstring notPutBack =
        error.addInNotPutBack
            ? L"新的加载项已放入 Excel 的启动文件夹，但配置文件未能更新，原来的加载项也未能"
              L"恢复。请排除下面的问题后重新运行 Setup。"
            : L"";
    return L"运行时错误 '" + Decimal(static_cast<unsigned long>(NumberOf(error.cause))) +
           L"'：\n\n" + notPutBack + WhatFailed(error) + L"\n" + Subject(error);
}

std::wstring ErrorLogLine(const Error& error) {
    std::wstring line = L"错误：" + Decimal(static_cast<unsigned long>(NumberOf(error.cause)));
    if (error.code && FromExcel(error.cause)) line += L"（错误代码 " + Hex(error.code) + L"）";
    if (error.code && !FromExcel(error.cause)) {
        line += L"（系统错误 " + Decimal(static_cast<unsigned long>(error.code)) + L"）";
    }
    return line;
}

std::wstring OutcomeText(const Failure& failure) {
    if (!failure) {
        return L"程序安装完毕，打开Excel后，点击工具栏中的“Qorvel”按钮即可打开Qorvel主程序！！！  "
               L" ";
    }
    return failure->cause == Cause::kStopped ? L"" : ErrorReportText(*failure);
}

int ExitCodeOf(const Failure& failure) {
    return failure ? NumberOf(failure->cause) : exit_code::kDone;
}

}  // namespace install
