// Excel as Office registers it, read without starting Excel: for an installation or removal for
// every account of the PC, which may run as the system account with nobody logged on, where
// Office must not be automated.
#pragma once

#include <string>
#include <string_view>

namespace host {

struct Registration {
    std::wstring program;   // EXCEL.EXE, as registered
    std::wstring folder;    // its folder in its long form, as Excel answers Path
    std::wstring version;   // the first two fields of its version resource, as Excel answers
                            // Version: "16.0"
    std::wstring lookedAt;  // where it was looked for
};

// Finds Excel where COM would start it for this program: the local server of its application
// class, in this program's registry view first, then in the other (COM gives a 32-bit client a
// 32-bit server where there is one); else its App Paths entry. Gives whether a program file stands
// there; `found.lookedAt` says where it was looked for either way.
bool FindRegistered(Registration& found);

// The program of a server's command line as it is registered: a path, quoted or not, followed by
// arguments such as /automation.
std::wstring ProgramOf(std::wstring_view command);

}  // namespace host
