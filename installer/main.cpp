#include <windows.h>

#include "dll_search.h"
#include "fLanguage.h"
#include "host.h"
#include "lock.h"
#include "scoped.h"
#include "window.h"

namespace {

constexpr wchar_t kAlreadyRunning[] =
    L"另一个安装或卸载程序正在运行（可能在另一个用户的会话中）。请等它结束后，再运行 Setup。";

}  // namespace

// Exit codes, as deployment tools read them from the Windows Installer's: 0 installed, 1602
// cancelled by the user, 1618 another installation or removal running, otherwise the error number
// of the report shown.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    HardenDllSearch();
    InstallationLock lock;
    if (!lock.taken()) {
        // The Setup that runs stays in charge: it is brought to the front, or, where it cannot be
        // (it runs in another session, or is ending; a remover holds the lock), the user is told.
        if (!fLanguage::BringRunningToFront()) {
            MessageBoxW(nullptr, kAlreadyRunning, L"Setup", MB_OK | MB_ICONINFORMATION);
        }
        return kAnotherInstallationRuns;
    }
    ComApartment com;
    host::RegisterMessageFilter();  // a busy host is waited for, inside COM as well
    fLanguage form;                 // holds the host application object until the program ends
    if (!form.Show(instance, showCommand)) return 1;
    const int exitCode = ui::RunMessageLoop(form.handle());
    lock.Release();
    host::LetGo(form.host(), exitCode);
    return exitCode;
}
