// What an administrator may say on either program's command line, as Windows users write
// switches: "/" or "-", in any case.
//   /allusers    for every account of the PC
//   /quiet       no window and no message at all; the exit code tells how it ended
//   /log FILE    a plain-text log of the run (also /log:FILE); once at most
//   /?           the usage, and nothing else; alone, or the line cannot be run
// A switch is never a file name: /log followed by a switch, by nothing, or by a name that cannot
// be a file's cannot be run.
// Without arguments a program runs with its window, as it always has.
#pragma once

#include <string>

#include "exit_codes.h"

struct CommandLine {
    enum Action {
        kRun,
        kUsage,    // asked for: /?
        kInvalid,  // a command line that cannot be run: `fault` says why
    } action = kRun;
    bool quiet = false;
    std::wstring logFile;   // empty: no log
    bool allUsers = false;  // /allusers: for every account of the PC
    std::wstring fault;     // for kInvalid: what is wrong with the line, the first thing found

    bool operator==(const CommandLine&) const = default;
};

// Reads the arguments after the program's name.
CommandLine ParseCommandLine(int count, const wchar_t* const* arguments);

// For a command line that asks for the usage or cannot be run: notes in the log what is wrong and
// the usage `text`, shows the text in a message box captioned `caption`, unless the line says
// /quiet, and gives the exit code: done for /?, kInvalidCommandLine otherwise.
int ExplainUsage(const CommandLine& line, const std::wstring& text, const wchar_t* caption);

// The usage's last paragraph: the exit codes of `program`, as exit_code::kMeanings has them.
std::wstring ExitCodesText(exit_code::Program program);
