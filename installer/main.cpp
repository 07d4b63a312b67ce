#include <windows.h>

#include "dll_search.h"
#include "fLanguage.h"
#include "scoped.h"
#include "window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    RestrictDllSearchToSystem32();
    ui::DeclareDpiAwareness();
    ComApartment com;
    fLanguage form;  // holds the host application object until the program ends
    if (!form.Show(instance, showCommand)) return 1;
    return ui::RunMessageLoop(form.handle());
}
