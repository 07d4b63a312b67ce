// The profile file as the add-in reads it: keys in section CurveInformation, in code page 936.
#include <windows.h>

#include <gtest/gtest.h>

#include "files.h"
#include "profile.h"

class ProfileTest : public testing::Test {
protected:
    TempFolder folder{L"profile"};
    std::wstring file = folder / L"QorvelProfile.ini";
};

TEST_F(ProfileTest, MyKeyValueReadsTheShippedProfileWithinItsLimits) {
    const std::string long300(300, 'x');
    std::string longChinese = "a";
    for (int i = 0; i < 200; ++i) longChinese += "\xD6\xD0";  // 中
    WriteBytes(file,
               "[Other]\r\nVer=9\r\n"
               "[CurveInformation]\r\nVer=2.5\r\nEmpty=\r\nName=\xD6\xD0\xCE\xC4\r\n"
               "Long=" +
                   long300 + "\r\nLongChinese=" + longChinese + "\r\n");
    const struct {
        int row;
        const wchar_t* key;
        std::wstring want;
    } rows[] = {
        {1, L"Ver", L"2.5"},
        {2, L"Empty", L""},
        {3, L"Missing", L""},
        {4, L"Name", L"中文"},
        {5, L"Long", std::wstring(254, L'x')},
        // 254 bytes end in the first half of a character: only whole characters come back.
        {6, L"LongChinese", L"a" + std::wstring(126, L'中')},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Utf8(profile::MyKeyValue(folder.path(), row.key)), Utf8(row.want))
            << "row " << row.row;
    }
}

TEST_F(ProfileTest, MyKeyValueIsEmptyWithoutFileOrSection) {
    EXPECT_EQ(profile::MyKeyValue(folder.path(), L"Ver"), L"");
    WriteBytes(file, "[Other]\r\nVer=9\r\n");
    EXPECT_EQ(profile::MyKeyValue(folder.path(), L"Ver"), L"");
}

TEST_F(ProfileTest, ARefusedWriteIsReportedAndChangesNothing) {
    const std::string before = "[CurveInformation]\r\nFilePath=old\r\n";
    WriteBytes(file, before);
    {
        LockedFile lock(file);
        EXPECT_EQ(profile::WriteKey(file, "FilePath", L"new"), profile::WriteResult::kRefused);
    }
    EXPECT_EQ(ReadBytes(file), before);
}

TEST_F(ProfileTest, TextOutsideCodePage936IsNeverWrittenWithQuestionMarks) {
    const std::string before = "[CurveInformation]\r\nFilePath=old\r\n";
    WriteBytes(file, before);
    EXPECT_EQ(profile::WriteKey(file, "FilePath", L"C:\\한글\\Qorvel.xlt"),
              profile::WriteResult::kUnrepresentable);
    EXPECT_EQ(profile::WriteKey(folder / L"한글.ini", "FilePath", L"x"),
              profile::WriteResult::kUnrepresentable);
    EXPECT_EQ(ReadBytes(file), before);
}
