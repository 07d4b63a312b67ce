// Excel's program file as the tests register it: a program that does nothing, with the version
// resource of Excel 2010 (14) or of a later Excel (16), which Setup reads for every account.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
