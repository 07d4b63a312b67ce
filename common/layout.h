// The installed layout, which Setup writes and the remover partly takes away: the one thing the
// two programs share.
#pragma once

#include <string>
#include <string_view>

namespace layout {

// The add-in: the host's StartupPath followed by this name. Excel opens every file in its start-up
// folder when it starts, so nothing else of ours ever stands there.
inline constexpr wchar_t kAddInName[] = L"\\Qorv.xla";

// The host profile: the host's Path followed by this name. The remover leaves it in place.
inline constexpr wchar_t kHostProfileName[] = L"\\QorvelProfile.ini";

// Where Setup writes a file before it moves it into place, and keeps the file it replaces until
// the installation is complete: beside the place, with these endings. A run that is killed may
// leave them, so the next Setup clears them and the remover removes them.
inline constexpr wchar_t kStagedEnding[] = L".tmp";
inline constexpr wchar_t kBackupEnding[] = L".bak";

// The start-up folder that Excel opens for every account of the PC: in its program folder (Path).
inline constexpr wchar_t kAllUsersStartup[] = L"\\XLSTART";
// An account's own start-up folder, below its profile folder.
inline constexpr wchar_t kAccountStartup[] = L"\\AppData\\Roaming\\Microsoft\\Excel\\XLSTART";

// The add-in's entry in Apps & features: below HKEY_CURRENT_USER for an installation for the
// account, below HKEY_LOCAL_MACHINE for one for every account of the PC.
inline constexpr wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Morvane.Qorvel";

// Whether a folder the host answered is a complete folder path: a drive letter, colon and
// backslash ("C:\..."), or a UNC path ("\\server\share..."). Anything else (empty text, a
// relative path, "\Office") would put or take files somewhere nobody meant.
inline bool IsFolderPath(std::wstring_view path) {
    const auto letter = [](wchar_t c) {
        return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
    };
    if (path.size() >= 3 && letter(path[0]) && path[1] == L':' && path[2] == L'\\') return true;
    if (path.size() < 5 || path.substr(0, 2) != L"\\\\") return false;
    const size_t share = path.find(L'\\', 2);  // "\\server\share": both names present
    return share != std::wstring_view::npos && share > 2 && share + 1 < path.size() &&
           path[share + 1] != L'\\';
}

}  // namespace layout
