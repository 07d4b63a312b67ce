#pragma once

// Keeps every later DLL load to the Windows system folder, so that no DLL is ever picked up from
// the folder the program was started from (a download folder may hold anything). Call first
// thing in the program.
void RestrictDllSearchToSystem32();
