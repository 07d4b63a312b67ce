#include <windows.h>

#include "dll_search.h"
#include "exit_codes.h"
#include "fLanguage.h"
#include "lock.h"
#include "scoped.h"
#include "window.h"

namespace {

constexpr wchar_t kAlreadyRunning[] =
    L"另一个安装或卸载程序正在运行（可能在另一个用户的会话中）。请等它结束后，再运行 Setup。";

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    HardenDllSearch();
    InstallationLock lock(InstallationLock::Taker::kSetup);
    if (!lock.taken()) {
        // The Setup that runs stays in charge: it is brought to the front, or, where it cannot be
        // (it runs in another session, or is ending; a remover holds the lock), the user is told.
        if (!fLanguage::BringRunningToFront()) {
            MessageBoxW(nullptr, kAlreadyRunning, L"Setup", MB_OK | MB_ICONINFORMATION);
        }
        return exit_code::kAnotherRuns;
    }
    ComApartment com;
    fLanguage form;  // holds the host application object until the program ends
    if (!form.Show(instance, showCommand)) return 1;
    const int exitCode = ui::RunMessageLoop(form.handle());
    lock.Release();
    form.excel().LetGo(exitCode);
    return exitCode;
}
