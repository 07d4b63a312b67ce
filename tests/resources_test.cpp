// The shipped programs as Windows reads them before they run: the header, the DLLs they import,
// the manifest, the version and the icon. Read as files, so that a test program of either bitness
// checks the i686 programs, also on a machine that cannot run them.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dll_search.h"
#include "files.h"
#include "ui_driver.h"

namespace {

using testing::AnyOfArray;
using testing::Each;
using testing::HasSubstr;
using testing::Not;

struct Shipped {
    const wchar_t* file;
    const char* executionLevel;
};

// What a program may import: DLLs of Windows itself, nothing that an installation would bring.
const std::vector<std::string> kWindowsDlls = {
    "advapi32.dll", "gdi32.dll",   "kernel32.dll", "msvcrt.dll",   "ole32.dll", "oleaut32.dll",
    "user32.dll",   "version.dll", "shell32.dll",  "comctl32.dll", "ntdll.dll"};

void PrintTo(const Shipped& shipped, std::ostream* out) { *out << Utf8(shipped.file); }

template <typename T>
const T& At(const std::string& file, size_t offset) {
    if (offset + sizeof(T) > file.size()) throw std::out_of_range("past the end of the file");
    return *reinterpret_cast<const T*>(file.data() + offset);
}

class ShippedProgram : public testing::TestWithParam<Shipped> {
protected:
    void SetUp() override {
        path = ShippedFolder() + L"\\" + GetParam().file;
        file = ReadBytes(path);
        ASSERT_NE(file, "<missing>") << Utf8(path);
        ntAt = At<IMAGE_DOS_HEADER>(file, 0).e_lfanew;
        ASSERT_EQ(nt().OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC) << "not a PE32 file";
    }

    const IMAGE_NT_HEADERS32& nt() const { return At<IMAGE_NT_HEADERS32>(file, ntAt); }

    // Where the bytes of a relative virtual address stand in the file.
    size_t OffsetOf(DWORD rva) const {
        const size_t sections = ntAt + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                                nt().FileHeader.SizeOfOptionalHeader;
        for (WORD i = 0; i < nt().FileHeader.NumberOfSections; ++i) {
            const auto& s =
                At<IMAGE_SECTION_HEADER>(file, sections + i * sizeof(IMAGE_SECTION_HEADER));
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.Misc.VirtualSize) {
                return rva - s.VirtualAddress + s.PointerToRawData;
            }
        }
        throw std::out_of_range("an address outside every section");
    }

    std::vector<std::string> Imports() const {
        std::vector<std::string> names;
        size_t at = OffsetOf(
            nt().OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
        for (;; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            const auto& import = At<IMAGE_IMPORT_DESCRIPTOR>(file, at);
            if (import.Name == 0) break;
            std::string name = file.c_str() + OffsetOf(import.Name);
            std::transform(name.begin(), name.end(), name.begin(), ::tolower);
            names.push_back(name);
        }
        return names;
    }

    // A resource of the program, loaded as data: it is never run.
    std::string Resource(const wchar_t* type, int id) const {
        const HMODULE module = LoadLibraryExW(
            path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        if (!module) return "<not loadable as data>";
        const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
        std::string bytes =
            found ? std::string(static_cast<const char*>(LockResource(LoadResource(module, found))),
                                SizeofResource(module, found))
                  : "<none>";
        FreeLibrary(module);
        return bytes;
    }

    std::wstring path;
    std::string file;
    size_t ntAt = 0;
};

// A window program for 32-bit x86 and Windows 7 and later (with subsystem version 4.0 Windows
// treats it as one from before Vista), with ASLR and DEP, aware of terminal services.
TEST_P(ShippedProgram, HeaderAsWindowsReadsIt) {
    EXPECT_EQ(nt().FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    const IMAGE_OPTIONAL_HEADER32& header = nt().OptionalHeader;
    EXPECT_EQ(header.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_EQ(header.MajorSubsystemVersion * 10 + header.MinorSubsystemVersion, 61);
    constexpr WORD kFlags = IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE |
                            IMAGE_DLLCHARACTERISTICS_NX_COMPAT |
                            IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE;
    EXPECT_EQ(header.DllCharacteristics & kFlags, kFlags) << std::hex << header.DllCharacteristics;
}

TEST_P(ShippedProgram, ImportsOnlyWindowsOwnDlls) {
    EXPECT_THAT(Imports(), testing::AllOf(Not(testing::IsEmpty()), Each(AnyOfArray(kWindowsDlls))));
}

// The rights it asks for, common controls 6 and DPI awareness, for the x86 processor; the version
// users see, and an icon.
TEST_P(ShippedProgram, ManifestVersionAndIcon) {
    std::string manifest = Resource(RT_MANIFEST, 1);
    manifest.erase(std::unique(manifest.begin(), manifest.end(),
                               [](char a, char b) { return isspace(a) && isspace(b); }),
                   manifest.end());
    std::replace_if(manifest.begin(), manifest.end(), ::isspace, ' ');
    EXPECT_THAT(
        manifest,
        testing::AllOf(HasSubstr(std::string("processorArchitecture=\"x86\"")),
                       HasSubstr(std::string("requestedExecutionLevel level=\"") +
                                 GetParam().executionLevel + "\""),
                       HasSubstr("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
                       HasSubstr(">PerMonitorV2, PerMonitor</dpiAwareness>"),
                       HasSubstr(">true/pm</dpiAware>")));

    DWORD ignored = 0;
    std::vector<BYTE> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    wchar_t* version = nullptr;
    UINT length = 0;
    ASSERT_TRUE(
        GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()) &&
        VerQueryValueW(info.data(), L"\\StringFileInfo\\080404B0\\FileVersion",
                       reinterpret_cast<void**>(&version), &length));
    EXPECT_EQ(Utf8(version), QORVEL_VERSION_TEXT);
    EXPECT_NE(Resource(RT_GROUP_ICON, 1), "<none>");
}

INSTANTIATE_TEST_SUITE_P(
    Programs, ShippedProgram,
    testing::Values(Shipped{L"Setup.exe", "requireAdministrator"},
                    Shipped{L"remover.exe", "asInvoker"}),
    [](const auto& info) {
        return Utf8(info.param.file).substr(0, Utf8(info.param.file).find('.'));
    });

}  // namespace

namespace {

// After the programs' hardening, a DLL that stands only beside the program (planted_dll.dll
// stands beside this test program) is not loaded by name; before it, it is, which shows that the
// plant works.
TEST(DllSearch, ADllOnlyBesideTheProgramIsNotLoadedByName) {
    const HMODULE before = LoadLibraryW(L"planted_dll.dll");
    ASSERT_NE(before, nullptr) << "the plant is not even found";
    FreeLibrary(before);
    HardenDllSearch();
    EXPECT_EQ(LoadLibraryW(L"planted_dll.dll"), nullptr);
}

}  // namespace
