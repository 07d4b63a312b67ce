// Access to the host spreadsheet application (Microsoft Excel) through automation. Nothing is
// ever asked of the host beyond its Application object and three text properties: it is never
// made visible and never asked to quit; dropping the reference is all the programs do at the end.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "scoped.h"

namespace host {

// Excel's global application object; the real host answers as a local server.
inline constexpr CLSID kGlobalClsid = {
    0x00020812, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// Every call into the host passes this locale: the host formats its answers in it.
inline constexpr LCID kLocale = 1033;

// Where the add-in lives: the host's StartupPath followed by this name. Setup copies it there on
// every run and the remover deletes it again; it is the one fact the two programs share.
inline constexpr wchar_t kAddInName[] = L"\\Qorv.xla";

// Creates the host's global object and reads its Application object into `application`.
HRESULT Connect(ComPtr<IDispatch>& application);

// Reads a property of the Application object as text.
HRESULT ReadText(IDispatch* application, const wchar_t* name, std::wstring& value);

// Whether a folder the host answered is a complete folder path: a drive letter, colon and
// backslash ("C:\..."), or a UNC path ("\\server\share..."). Anything else (empty text, a
// relative path, "\Office") would put or take files somewhere nobody meant.
bool IsFolderPath(std::wstring_view path);

}  // namespace host
