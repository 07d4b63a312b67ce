#include <windows.h>

#include "dll_search.h"
#include "fLanguage.h"
#include "host.h"
#include "scoped.h"
#include "window.h"

namespace {

// One installation at a time on a PC, across sessions: Setup runs elevated, and two installers
// at once (a double-click too many, two administrators) would edit the same files.
constexpr wchar_t kOneInstallation[] = L"Global\\Morvane.Qorvel.Setup";

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    HardenDllSearch();
    SetLastError(ERROR_SUCCESS);
    const UniqueHandle oneInstallation(CreateMutexW(nullptr, FALSE, kOneInstallation));
    const DWORD error = GetLastError();
    // Another Setup holds it (one of another account cannot even open it): that one stays in
    // charge, and this one shows it and ends without changing anything.
    if (error == ERROR_ALREADY_EXISTS || (!oneInstallation && error == ERROR_ACCESS_DENIED)) {
        fLanguage::BringRunningToFront();
        return 0;
    }
    ui::DeclareDpiAwareness();
    ComApartment com;
    host::RegisterMessageFilter();  // a busy host is waited for, inside COM as well
    fLanguage form;  // holds the host application object until the program ends
    if (!form.Show(instance, showCommand)) return 1;
    return ui::RunMessageLoop(form.handle());
}
