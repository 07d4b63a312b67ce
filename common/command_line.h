// What an administrator may say on either program's command line, as Windows users write
// switches: "/" or "-", in any case.
//   /allusers    for every account of the PC
//   /quiet       no window and no message at all; the exit code tells how it ended
//   /log FILE    a plain-text log of the run (also /log:FILE)
//   /?           the usage, and nothing else
// Without arguments a program runs with its window, as it always has.
#pragma once

#include <string>

struct CommandLine {
    enum Action {
        kRun,
        kUsage,    // asked for: /?
        kInvalid,  // an unknown switch or argument, or /log without a file name
    } action = kRun;
    bool quiet = false;
    std::wstring logFile;   // empty: no log
    bool allUsers = false;  // /allusers: for every account of the PC

    bool operator==(const CommandLine&) const = default;
};

// Reads the arguments after the program's name.
CommandLine ParseCommandLine(int count, const wchar_t* const* arguments);

// For a command line that asks for the usage or cannot be run: shows the usage `text` in a message
// box captioned `caption`, unless the line says /quiet, and gives the exit code: done for /?,
// kInvalidCommandLine otherwise.
int ExplainUsage(const CommandLine& line, const wchar_t* text, const wchar_t* caption);
