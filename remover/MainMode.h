// The remover's start procedure.
#pragma once

#include <windows.h>

namespace MainMode {

// Removes the add-in and the settings section, shows the notice, and runs until it is dismissed.
// Gives the program's exit code.
int Main(HINSTANCE instance, int showCommand);

}  // namespace MainMode
