#include <windows.h>

#include "command_line.h"
#include "exit_codes.h"

namespace {

// The switch's name in lower case, without its leading "/" or "-"; empty for anything else.
std::wstring SwitchName(const std::wstring& argument) {
    if (argument.size() < 2 || (argument[0] != L'/' && argument[0] != L'-')) return {};
    std::wstring name = argument.substr(1);
    CharLowerBuffW(name.data(), static_cast<DWORD>(name.size()));
    return name;
}

}  // namespace

CommandLine ParseCommandLine(int count, const wchar_t* const* arguments) {
    CommandLine line;
    for (int i = 0; i < count; ++i) {
        const std::wstring name = SwitchName(arguments[i]);
        if (name == L"quiet") {
            line.quiet = true;
        } else if (name == L"allusers") {
            line.allUsers = true;
        } else if (name == L"?") {
            if (line.action == CommandLine::kRun) line.action = CommandLine::kUsage;
        } else if (name == L"log" && i + 1 < count && arguments[i + 1][0]) {
            line.logFile = arguments[++i];
        } else if ((name.starts_with(L"log:") || name.starts_with(L"log=")) && name.size() > 4) {
            line.logFile = std::wstring(arguments[i]).substr(5);
        } else {
            line.action = CommandLine::kInvalid;
        }
    }
    return line;
}

int ExplainUsage(const CommandLine& line, const wchar_t* text, const wchar_t* caption) {
    if (!line.quiet) MessageBoxW(nullptr, text, caption, MB_OK | MB_ICONINFORMATION);
    return line.action == CommandLine::kUsage ? exit_code::kDone : exit_code::kInvalidCommandLine;
}
