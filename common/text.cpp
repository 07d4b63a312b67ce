#include <windows.h>

#include "text.h"

bool ToAnsi(std::wstring_view text, std::string& ansi) {
    ansi.clear();
    if (text.empty()) return true;
    const int length = static_cast<int>(text.size());
    BOOL usedDefault = FALSE;
    const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), length, nullptr,
                                         0, nullptr, &usedDefault);
    if (size <= 0 || usedDefault) return false;
    std::string converted(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), length, converted.data(), size,
                        nullptr, nullptr);
    ansi = std::move(converted);
    return true;
}

std::wstring Decimal(unsigned long number) {
    wchar_t text[16];
    wsprintfW(text, L"%lu", number);
    return text;
}

std::wstring Hex(long code) {
    wchar_t text[16];
    wsprintfW(text, L"0x%08lX", static_cast<unsigned long>(code));
    return text;
}
