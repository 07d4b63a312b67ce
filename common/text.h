// Conversion of the programs' UTF-16 text to the system ANSI code page (936 on the
// users' PCs), used only where text crosses an ANSI API.
#pragma once

#include <string>
#include <string_view>

// Converts to the ANSI code page. Fails, leaving `ansi` empty, when any character has no exact
// counterpart there: nothing is ever passed on with characters replaced by "?".
bool ToAnsi(std::wstring_view text, std::string& ansi);

// A number as text: "17"; an error code in hexadecimal as Windows writes it: "0x80004005".
std::wstring Decimal(unsigned long number);
std::wstring Hex(long code);
