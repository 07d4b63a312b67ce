#include <windows.h>

#include "MainMode.h"
#include "dll_search.h"
#include "scoped.h"
#include "window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    HardenDllSearch();
    ui::DeclareDpiAwareness();
    ComApartment com;
    return MainMode::Main(instance, showCommand);
}
