#include <windows.h>

#include <algorithm>

#include "command_line.h"
#include "exit_codes.h"
#include "logbook.h"

namespace {

// The switch's name in lower case, without its leading "/" or "-"; empty for anything else.
std::wstring SwitchName(const std::wstring& argument) {
    if (argument.size() < 2 || (argument[0] != L'/' && argument[0] != L'-')) return {};
    std::wstring name = argument.substr(1);
    CharLowerBuffW(name.data(), static_cast<DWORD>(name.size()));
    return name;
}

// Whether `name` can name a file: not a switch, and none of the characters that no file name
// holds. A quote in it is what the C runtime makes of a quoted folder that ends in a backslash
// ("C:\lab\" /quiet gives C:\lab" /quiet).
bool IsFileName(const std::wstring& name) {
    if (name.empty() || name[0] == L'/' || name[0] == L'-') return false;
    for (const wchar_t c : name) {
        if (c < L' ' || wcschr(L"\"<>|*?", c)) return false;
    }
    return true;
}

// Whether a word of `text` is /quiet: a name that swallowed the switches after it still says
// that nothing may be shown.
bool SaysQuiet(const std::wstring& text) {
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find_first_of(L" \t", start), text.size());
        if (SwitchName(text.substr(start, end - start)) == L"quiet") return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

CommandLine ParseCommandLine(int count, const wchar_t* const* arguments) {
    CommandLine line;
    const auto Invalid = [&line](const std::wstring& fault) {
        line.action = CommandLine::kInvalid;
        if (line.fault.empty()) line.fault = fault;
    };
    bool usage = false;
    for (int i = 0; i < count; ++i) {
        const std::wstring argument = arguments[i];
        const std::wstring name = SwitchName(argument);
        std::wstring file;
        if (name == L"quiet") {
            line.quiet = true;
            continue;
        } else if (name == L"allusers") {
            line.allUsers = true;
            continue;
        } else if (name == L"?") {
            usage = true;
            continue;
        } else if (name == L"log") {
            if (i + 1 < count && SwitchName(arguments[i + 1]).empty()) file = arguments[++i];
        } else if (name.starts_with(L"log:") || name.starts_with(L"log=")) {
            file = argument.substr(5);
        } else {
            Invalid(L"无法识别的参数：" + argument);
            continue;
        }
        if (!IsFileName(file)) {
            if (SaysQuiet(file)) line.quiet = true;
            Invalid(L"“" + argument + L"”后面没有可用的文件名" +
                    (file.empty() ? L"" : L"：" + file));
        } else if (!line.logFile.empty()) {
            Invalid(L"“/log”不止一次");
        } else {
            line.logFile = file;
        }
    }
    if (usage && count > 1) Invalid(L"“/?”须单独使用");
    if (usage && count == 1) line.action = CommandLine::kUsage;
    return line;
}

std::wstring ExitCodesText(exit_code::Program program) {
    std::wstring text = L"退出代码：";
    for (const exit_code::Meaning& meaning : exit_code::kMeanings) {
        if (!(meaning.program & program)) continue;
        wchar_t code[16];
        wsprintfW(code, L"%d ", meaning.code);
        text += code + std::wstring(meaning.text) + L"；";
    }
    text.back() = L'。';
    if (program == exit_code::kSetup) text.back() = L'；', text += L"其他值为错误提示中的错误号。";
    return text;
}

int ExplainUsage(const CommandLine& line, const std::wstring& text, const wchar_t* caption) {
    if (line.action == CommandLine::kInvalid) logbook::Note(L"命令行无效：" + line.fault);
    std::wstring usage = text;
    for (wchar_t& c : usage) c = c == L'\t' ? L' ' : c;
    logbook::Note(usage);
    if (!line.quiet) MessageBoxW(nullptr, text.c_str(), caption, MB_OK | MB_ICONINFORMATION);
    return line.action == CommandLine::kUsage ? exit_code::kDone : exit_code::kInvalidCommandLine;
}
