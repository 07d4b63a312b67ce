// The remover's start procedure.
#pragma once

#include <windows.h>

#include "removal.h"

namespace MainMode {

// Removes the add-in and the settings section (as `options` ask), and tells how that went: with
// the notice, which it runs until it is dismissed, or, `quiet`, with nothing but the exit code.
// Gives the exit code.
int Main(HINSTANCE instance, int showCommand, bool quiet, const removal::Options& options);

}  // namespace MainMode
