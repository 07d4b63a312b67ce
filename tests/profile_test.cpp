// The profile shipped in the install set, read the way the add-in's own files are: section
// CurveInformation, code page 936, a 255-byte buffer.
#include <windows.h>

#include <gtest/gtest.h>

#include "files.h"
#include "profile.h"

namespace {

// A value cut at the buffer's end keeps whole characters only: a lone lead byte would be read
// back as another character and written on into the host profile.
TEST(Profile, ACutValueKeepsWholeCharacters) {
    const struct {
        int row;
        std::string_view bytes, want;
    } rows[] = {
        {1, "", ""},
        {2, "abc", "abc"},
        {3, "a\xD6\xD0", "a\xD6\xD0"},        // a中
        {4, "a\xD6\xD0\xD6", "a\xD6\xD0"},    // a中 and the first half of 中
        {5, "\xD6", ""},                      // a lone lead byte
        {6, "\xD6\xD0\x80", "\xD6\xD0\x80"},  // 0x80 (€) is a single byte in code page 936
        {7, "\xB0\xA1\xB0", "\xB0\xA1"},      // 啊 and a lead byte
    };
    for (const auto& row : rows) {
        EXPECT_EQ(profile::WholeCharacters(row.bytes), row.want) << "row " << row.row;
    }
}

TEST(Profile, MyKeyValueReadsSectionCurveInformationWithinItsLimits) {
    TempFolder folder{L"profile"};
    std::string chinese = "a";
    for (int i = 0; i < 200; ++i) chinese += "\xD6\xD0";  // 中
    const struct {
        int row;
        std::string file;  // "<none>": no shipped profile at all
        const char* key;
        std::string want;  // bytes, as the profile call gives them
    } rows[] = {
        {1, "[Other]\r\nVer=9\r\n[CurveInformation]\r\nVer=2.5\r\n", "Ver", "2.5"},
        {2, "[CurveInformation]\r\nVer=\r\n", "Ver", ""},
        {3, "[CurveInformation]\r\nOther=1\r\n", "Ver", ""},
        {4, "[Other]\r\nVer=9\r\n", "Ver", ""},
        {5, "<none>", "Ver", ""},
        {6, "[CurveInformation]\r\nName=\xD6\xD0\xCE\xC4\r\n", "Name", "\xD6\xD0\xCE\xC4"},
        {7, "[CurveInformation]\r\nLong=" + std::string(300, 'x') + "\r\n", "Long",
         std::string(254, 'x')},
        // 254 bytes end in the first half of a character: whole characters come back.
        {8, "[CurveInformation]\r\nLong=" + chinese + "\r\n", "Long", chinese.substr(0, 253)},
    };
    for (const auto& row : rows) {
        DeleteFileW((folder / L"QorvelProfile.ini").c_str());
        if (row.file != "<none>") WriteBytes(folder / L"QorvelProfile.ini", row.file);
        EXPECT_EQ(profile::MyKeyValue(folder.path(), row.key), row.want) << "row " << row.row;
    }
}

}  // namespace
