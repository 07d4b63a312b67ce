#include <windows.h>

#include "MainMode.h"
#include "dll_search.h"
#include "scoped.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    HardenDllSearch();
    ComApartment com;
    return MainMode::Main(instance, showCommand);
}
