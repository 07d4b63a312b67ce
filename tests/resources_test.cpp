// What Windows reads from the programs' files before they run: version, manifest and icons.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "files.h"
#include "ui_driver.h"

namespace {

struct Expected {
    const wchar_t* file;
    const char* executionLevel;
    std::vector<std::string> icons;  // the icon's images, in the order they stand
};

class ResourcesTest : public testing::TestWithParam<Expected> {
protected:
    void SetUp() override {
        path = BinFolder() + L"\\" + GetParam().file;
        module = LoadLibraryExW(path.c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr) << Utf8(path);
    }
    void TearDown() override {
        if (module) FreeLibrary(module);
    }

    std::string Resource(const wchar_t* type, int id) {
        const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
        if (!found) return {};
        const auto* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
        return std::string(data, SizeofResource(module, found));
    }

    std::wstring path;
    HMODULE module = nullptr;
};

// The manifest's value of `attribute` in its first `element`, as Windows reads it.
std::string ManifestAttribute(const std::string& manifest, const std::string& element,
                              const std::string& attribute) {
    const size_t at = manifest.find("<" + element + " ");
    if (at == std::string::npos) return "<no " + element + ">";
    const size_t end = manifest.find('>', at);
    const size_t name = manifest.find(" " + attribute + "=\"", at);
    if (name == std::string::npos || name > end) return "<no " + attribute + ">";
    const size_t value = name + attribute.size() + 3;
    return manifest.substr(value, manifest.find('"', value) - value);
}

TEST_P(ResourcesTest, WhatWindowsSees) {
    // The version: 1.1.0.1, shown as 1.01.0001.
    DWORD ignored = 0;
    std::vector<BYTE> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(1, 1));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(1, 0));
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(1, 1));
    EXPECT_EQ(fixed->dwProductVersionLS, MAKELONG(1, 0));
    for (const wchar_t* name : {L"FileVersion", L"ProductVersion"}) {
        wchar_t* text = nullptr;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\080404B0\\") + name;
        ASSERT_TRUE(
            VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&text), &length))
            << Utf8(name);
        EXPECT_EQ(std::wstring(text), L"1.01.0001") << Utf8(name);
    }

    // The manifest, as resource 1: the rights the program asks for, and common controls 6.
    const std::string manifest = Resource(RT_MANIFEST, 1);
    EXPECT_EQ(ManifestAttribute(manifest, "requestedExecutionLevel", "level"),
              GetParam().executionLevel);
    EXPECT_EQ(ManifestAttribute(manifest,
                                "assemblyIdentity type=\"win32\" "
                                "name=\"Microsoft.Windows.Common-Controls\"",
                                "version"),
              "6.0.0.0");

    // The icon group: a 6-byte header, then 14 bytes an image (width, height, colours, and at 6
    // the bits a pixel).
    const std::string group = Resource(RT_GROUP_ICON, 1);
    std::vector<std::string> images;
    for (size_t at = 6; at + 14 <= group.size(); at += 14) {
        const auto byte = [&](size_t i) { return std::to_string(BYTE(group[at + i])); };
        images.push_back(byte(0) + "x" + byte(1) + ", " + byte(2) + " colours, " + byte(6) +
                         " bits");
    }
    EXPECT_EQ(images, GetParam().icons);
}

// What Windows reads from the header: a window program for Windows 7 and later (with
// subsystem version 4.0 Windows treats it as one from before Vista), with ASLR and DEP, aware of
// terminal services.
TEST_P(ResourcesTest, HeaderAsWindowsReadsIt) {
    const std::string file = ReadBytes(path);
    ASSERT_GT(file.size(), sizeof(IMAGE_DOS_HEADER));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(file.data());
    ASSERT_LT(static_cast<size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS32), file.size());
    const IMAGE_OPTIONAL_HEADER32& header =
        reinterpret_cast<const IMAGE_NT_HEADERS32*>(file.data() + dos->e_lfanew)->OptionalHeader;
    EXPECT_EQ(header.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_EQ(header.MajorSubsystemVersion, 6);
    EXPECT_EQ(header.MinorSubsystemVersion, 1);
    for (const WORD flag :
         {IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE, IMAGE_DLLCHARACTERISTICS_NX_COMPAT,
          IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE}) {
        EXPECT_TRUE(header.DllCharacteristics & flag)
            << std::hex << "flag " << flag << " missing from " << header.DllCharacteristics;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Programs, ResourcesTest,
    testing::Values(Expected{L"Setup.exe", "requireAdministrator", {"32x32, 16 colours, 4 bits"}},
                    Expected{L"remover.exe",
                             "asInvoker",
                             {"48x48, 16 colours, 4 bits", "16x16, 16 colours, 4 bits",
                              "32x32, 16 colours, 4 bits"}}));

}  // namespace
