#include <windows.h>

#include "MainMode.h"
#include "dll_search.h"
#include "host.h"
#include "scoped.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    HardenDllSearch();
    ComApartment com;
    host::RegisterMessageFilter();  // a busy host is waited for, inside COM as well
    return MainMode::Main(instance, showCommand);
}
