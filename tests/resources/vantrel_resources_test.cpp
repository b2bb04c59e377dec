// Checks the resources of the built Vantrel.exe as Windows reads them: the
// main dialog template, the icon group and its icons, the version block and
// the help text. The program is loaded as a data file (nothing of it runs).
// The dialog template, the icon group and the version block's layout are
// parsed from their raw bytes here, so a resource compiler that writes
// something other than what the scripts mean is caught too; the version's
// values and the help text are read through the version and string APIs.
// The PE headers, imports and manifest are checked on the build host with
// objdump, wrestool and xmllint (pe_headers.sh, manifest.sh).
#include "AfxRes.h"
#include "DialogTemplate.h"
#include "ProgramVersion.h"
#include "TextForPeople.h"
#include "VersionBlock.h"
#include "resource.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <iomanip>
#include <ostream>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using driving::Printable;
using vantrel_test::ByteReader;

// ---------------------------------------------------------------------------
// The program under test and its resources.

std::string Narrow(const std::wstring& text) {
    return Printable(std::u16string(text.begin(), text.end()));
}

// Vantrel.exe, found from this test's own location: the build writes the
// relative path from this test's directory to the program into
// VANTREL_EXE_FROM_TEST_DIR, so it holds under Wine and on Windows alike.
std::wstring VantrelExePath() {
    std::wstring own(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, own.data(), static_cast<DWORD>(own.size()));
        if (length < own.size()) {
            own.resize(length);
            break;
        }
        own.resize(own.size() * 2);
    }
    own.erase(own.find_last_of(L"\\/") + 1);
    for (const char c : std::string_view(VANTREL_EXE_FROM_TEST_DIR)) {
        own.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return own;
}

// Vantrel.exe mapped as a data file and image resource, loaded once.
struct DataModule {
    std::wstring path = VantrelExePath();
    HMODULE handle = LoadLibraryExW(path.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    DWORD error = GetLastError();
};

const DataModule& Vantrel() {
    static const DataModule module;
    return module;
}

// The raw bytes of a resource: empty when it does not exist.
std::span<const std::uint8_t> ResourceBytes(const wchar_t* type, std::uint16_t id) {
    const HMODULE module = Vantrel().handle;
    const HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (info == nullptr) {
        return {};
    }
    const HGLOBAL loaded = LoadResource(module, info);
    const void* data = loaded == nullptr ? nullptr : LockResource(loaded);
    if (data == nullptr) {
        return {};
    }
    return {static_cast<const std::uint8_t*>(data), SizeofResource(module, info)};
}

class VantrelResources : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(Vantrel().handle, nullptr) << "cannot load " << Narrow(Vantrel().path)
                                             << " as data (error " << Vantrel().error << ")";
    }
};

// A 32-bit value that prints in hexadecimal, for styles and flags.
struct Hex {
    std::uint32_t value;
    bool operator==(const Hex&) const = default;
};

void PrintTo(const Hex& hex, std::ostream* out) {
    *out << "0x" << std::hex << std::uppercase << std::setw(8) << std::setfill('0') << hex.value
         << std::dec << std::setfill(' ');
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// ---------------------------------------------------------------------------
// The main dialog's template.

constexpr std::uint16_t kMainDialog = IDD_MAIN_DIALOG;

// One control as it matters to the dialog manager; the window class is
// named the same whether the template holds the predefined ordinal or the
// class name as a string.
struct Control {
    std::string windowClass;
    std::uint32_t id = 0;
    std::string title;
    std::uint32_t style = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::uint32_t exStyle = 0;
    std::uint32_t helpId = 0;
    std::uint16_t extraCount = 0;
    bool operator==(const Control&) const = default;
};

void PrintTo(const Control& control, std::ostream* out) {
    *out << "{" << control.windowClass << " id " << static_cast<std::int32_t>(control.id) << " "
         << control.title << " style ";
    PrintTo(Hex{control.style}, out);
    *out << " x " << control.x << " y " << control.y << " cx " << control.cx << " cy " << control.cy
         << " exStyle ";
    PrintTo(Hex{control.exStyle}, out);
    *out << " helpID " << control.helpId << " extraCount " << control.extraCount << "}";
}

std::string ClassName(const vantrel_test::NameOrOrdinal& windowClass) {
    static const std::pair<std::uint16_t, std::string> predefined[] = {
        {0x0080, "Button"}, {0x0081, "Edit"}, {0x0082, "Static"}};
    for (const auto& [ordinal, name] : predefined) {
        if (windowClass.isOrdinal ? windowClass.ordinal == ordinal
                                  : Lower(Printable(windowClass.text)) == Lower(name)) {
            return name;
        }
    }
    std::string unknown = "class ";
    unknown += vantrel_test::Describe(windowClass);
    return unknown;
}

Control AsControl(const vantrel_test::DialogItemTemplate& item) {
    return {ClassName(item.windowClass),
            item.id,
            vantrel_test::Describe(item.title),
            item.style,
            item.x,
            item.y,
            item.cx,
            item.cy,
            item.exStyle,
            item.helpId,
            item.extraCount};
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

TEST_F(VantrelResources, MainDialogTemplateIsExtendedWithItsSixControls) {
    const auto bytes = ResourceBytes(RT_DIALOG, kMainDialog);
    ASSERT_FALSE(bytes.empty()) << "no RT_DIALOG resource " << kMainDialog;
    const vantrel_test::DialogTemplate dialog = vantrel_test::ReadDialogTemplate(bytes);

    ASSERT_EQ(dialog.dlgVer, 1) << "dlgVer: not an extended template";
    ASSERT_EQ(Hex{dialog.signature}, Hex{0xFFFF}) << "signature: not an extended template";
    EXPECT_EQ(dialog.helpId, 0u) << "dialog helpID";
    EXPECT_EQ(Hex{dialog.exStyle}, Hex{0x00040000}) << "dialog exStyle";
    EXPECT_EQ(Hex{dialog.style}, Hex{0x90C800C8}) << "dialog style";
    EXPECT_EQ(dialog.itemCount, 6) << "cDlgItems";
    EXPECT_EQ(dialog.x, 0) << "dialog x";
    EXPECT_EQ(dialog.y, 0) << "dialog y";
    EXPECT_EQ(dialog.cx, 320) << "dialog cx";
    EXPECT_EQ(dialog.cy, 190) << "dialog cy";
    EXPECT_EQ(vantrel_test::Describe(dialog.menu), Quoted("")) << "menu (0x0000: none)";
    EXPECT_EQ(vantrel_test::Describe(dialog.windowClass), Quoted(""))
        << "window class (0x0000: the dialog class)";
    EXPECT_EQ(Printable(dialog.title), "Vantrel") << "title";
    ASSERT_TRUE(dialog.hasFont) << "no font fields (DS_SETFONT missing from the style)";
    EXPECT_EQ(dialog.pointSize, 8) << "font point size";
    EXPECT_EQ(dialog.weight, 0) << "font weight";
    EXPECT_EQ(int{dialog.italic}, 0) << "font italic";
    EXPECT_EQ(int{dialog.charset}, 1) << "font charset";
    EXPECT_EQ(Printable(dialog.typeface), "MS Shell Dlg") << "typeface";

    const Control expected[] = {
        {"Button", IDC_CONVERT, Quoted("CONVERT"), 0x50010001, 134, 68, 50, 14},
        {"Button", IDCANCEL, Quoted("DONE"), 0x50010000, 135, 166, 50, 16},
        {"Edit", IDC_COMMAND, Quoted(""), 0x50810004, 7, 39, 306, 14},
        {"Static", 0xFFFFFFFF, Quoted("Enter Kestrane Server Command"), 0x50020000, 105, 17, 110,
         8},
        {"Static", 0xFFFFFFFF, Quoted("QVN Result"), 0x50020000, 141, 99, 37, 8},
        {"Edit", IDC_RESULT, Quoted(""), 0x50810804, 7, 112, 306, 43},
    };
    ASSERT_EQ(dialog.items.size(), std::size(expected)) << "controls read from the template";
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(AsControl(dialog.items[i]), expected[i]) << "control " << i + 1 << " of 6";
    }
}

// ---------------------------------------------------------------------------
// The icon group and its icons.

constexpr std::uint16_t kIconGroup = IDR_MAINFRAME;

struct IconGroupEntry {
    int width = 0;
    int height = 0;
    std::uint8_t colorCount = 0;
    std::uint8_t reserved = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    std::uint32_t bytesInRes = 0;
    std::uint16_t id = 0;
};

struct IconGroup {
    std::uint16_t reserved = 0;
    std::uint16_t type = 0;
    std::vector<IconGroupEntry> entries;
};

// GRPICONDIR and its 14-byte GRPICONDIRENTRY records.
IconGroup ReadIconGroup(std::span<const std::uint8_t> bytes) {
    ByteReader reader(bytes);
    IconGroup group;
    group.reserved = reader.U16();
    group.type = reader.U16();
    const std::uint16_t count = reader.U16();
    for (std::uint16_t i = 0; i < count; ++i) {
        IconGroupEntry entry;
        // A width or height byte of 0 stands for 256.
        entry.width = reader.U8();
        entry.width = entry.width == 0 ? 256 : entry.width;
        entry.height = reader.U8();
        entry.height = entry.height == 0 ? 256 : entry.height;
        entry.colorCount = reader.U8();
        entry.reserved = reader.U8();
        entry.planes = reader.U16();
        entry.bitCount = reader.U16();
        entry.bytesInRes = reader.U32();
        entry.id = reader.U16();
        group.entries.push_back(entry);
    }
    return group;
}

TEST_F(VantrelResources, IconGroupHasNineImagesThatMatchTheirIcons) {
    const auto bytes = ResourceBytes(RT_GROUP_ICON, kIconGroup);
    ASSERT_FALSE(bytes.empty()) << "no RT_GROUP_ICON resource " << kIconGroup;
    const IconGroup group = ReadIconGroup(bytes);
    EXPECT_EQ(group.reserved, 0) << "idReserved";
    EXPECT_EQ(group.type, 1) << "idType (1: icons)";
    EXPECT_EQ(group.entries.size(), 9u) << "idCount";

    std::set<std::pair<int, int>> sizesAndDepths;
    for (const IconGroupEntry& entry : group.entries) {
        sizesAndDepths.emplace(entry.width, entry.bitCount);
    }
    const std::set<std::pair<int, int>> expected = {{48, 4},  {48, 8}, {48, 24}, {32, 4}, {32, 8},
                                                    {32, 24}, {16, 4}, {16, 8},  {16, 24}};
    EXPECT_EQ(sizesAndDepths, expected) << "(size, bits per pixel) of the group's entries";

    for (std::size_t i = 0; i < group.entries.size(); ++i) {
        const IconGroupEntry& entry = group.entries[i];
        SCOPED_TRACE("group entry " + std::to_string(i + 1) + ": " + std::to_string(entry.width) +
                     "x" + std::to_string(entry.height) + " at " + std::to_string(entry.bitCount) +
                     " bpp, RT_ICON " + std::to_string(entry.id));
        EXPECT_EQ(entry.height, entry.width) << "bHeight";
        EXPECT_EQ(entry.planes, 1) << "wPlanes";
        EXPECT_EQ(int{entry.reserved}, 0) << "bReserved";
        // bColorCount is the palette size below 8 bits per pixel, else 0.
        EXPECT_EQ(int{entry.colorCount}, entry.bitCount == 4 ? 16 : 0) << "bColorCount";

        const auto icon = ResourceBytes(RT_ICON, entry.id);
        if (icon.empty()) {
            ADD_FAILURE() << "no RT_ICON resource " << entry.id;
            continue;
        }
        EXPECT_EQ(icon.size(), entry.bytesInRes) << "RT_ICON size against dwBytesInRes";
        ByteReader header(icon);
        const std::uint32_t headerSize = header.U32();
        ASSERT_EQ(headerSize, 40u) << "biSize: not a BITMAPINFOHEADER (a PNG icon starts with "
                                      "0x474E5089)";
        const auto biWidth = static_cast<std::int32_t>(header.U32());
        const auto biHeight = static_cast<std::int32_t>(header.U32());
        const std::uint16_t biPlanes = header.U16();
        const std::uint16_t biBitCount = header.U16();
        EXPECT_EQ(biWidth, entry.width) << "biWidth";
        EXPECT_EQ(biHeight, 2 * entry.width) << "biHeight (colour and mask)";
        EXPECT_EQ(biPlanes, 1) << "biPlanes";
        EXPECT_EQ(biBitCount, entry.bitCount) << "biBitCount";
    }

    // The choice Windows makes from the group's bytes for each standard
    // size names an entry of exactly that size.
    std::vector<std::uint8_t> directory(bytes.begin(), bytes.end());
    for (const int size : {16, 32, 48}) {
        const int chosen =
            LookupIconIdFromDirectoryEx(directory.data(), TRUE, size, size, LR_DEFAULTCOLOR);
        const auto match = std::find_if(group.entries.begin(), group.entries.end(),
                                        [&](const IconGroupEntry& e) { return e.id == chosen; });
        ASSERT_NE(match, group.entries.end())
            << "LookupIconIdFromDirectoryEx at " << size << " chose " << chosen
            << ", which is no entry of the group";
        EXPECT_EQ(match->width, size) << "entry chosen for " << size << "x" << size;
    }
}

TEST_F(VantrelResources, IconLoadsAtEachStandardSize) {
    for (const int size : {16, 32, 48}) {
        SetLastError(0);
        const auto icon = static_cast<HICON>(
            LoadImageW(Vantrel().handle, MAKEINTRESOURCEW(kIconGroup), IMAGE_ICON, size, size, 0));
        if (icon == nullptr) {
            ADD_FAILURE() << "LoadImageW of icon " << kIconGroup << " at " << size << "x" << size
                          << " failed (error " << GetLastError() << ")";
            continue;
        }
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bitmap{};
        const HBITMAP colour = info.hbmColor != nullptr ? info.hbmColor : info.hbmMask;
        ASSERT_NE(GetObjectW(colour, sizeof bitmap, &bitmap), 0);
        EXPECT_EQ(bitmap.bmWidth, size) << "width of the icon loaded at " << size;
        if (info.hbmColor != nullptr) {
            DeleteObject(info.hbmColor);
        }
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
}

// ---------------------------------------------------------------------------
// The version block.

TEST_F(VantrelResources, VersionBlockHoldsItsKeysInOrderWithTheirTypes) {
    const auto bytes = ResourceBytes(RT_VERSION, 1);
    ASSERT_FALSE(bytes.empty())
        << "no RT_VERSION resource 1"
        << (FindResourceW(Vantrel().handle, L"VS_VERSION_INFO", RT_VERSION) != nullptr
                ? "; there is one named \"VS_VERSION_INFO\" (the name was not defined as 1 "
                  "when the script was compiled), which the version API does not look for"
                : "");
    const std::string table = "VS_VERSION_INFO\\StringFileInfo\\040904e4";
    const std::vector<std::string> expected = {
        "VS_VERSION_INFO wType 0, " + std::to_string(sizeof(VS_FIXEDFILEINFO)) + " bytes",
        "VS_VERSION_INFO\\StringFileInfo",
        table,
        table + "\\CompanyName wType 1",
        table + "\\FileDescription wType 1",
        table + "\\FileVersion wType 1",
        table + "\\InternalName wType 1",
        table + "\\LegalCopyright wType 1",
        table + "\\OriginalFilename wType 1",
        table + "\\ProductName wType 1",
        table + "\\ProductVersion wType 1",
        "VS_VERSION_INFO\\VarFileInfo",
        "VS_VERSION_INFO\\VarFileInfo\\Translation wType 0, 4 bytes",
    };
    EXPECT_EQ(vantrel_test::OutlineVersionBlock(bytes), expected);
}

// The values, through the version API as Explorer's Details tab reads them.
TEST_F(VantrelResources, VersionApiReadsVantrelAtTheProjectVersion) {
    const std::wstring& path = Vantrel().path;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_NE(size, 0u) << "GetFileVersionInfoSizeW (error " << GetLastError() << ")";
    std::vector<std::uint8_t> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()))
        << "GetFileVersionInfoW (error " << GetLastError() << ")";

    void* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &fixed, &fixedSize));
    ASSERT_GE(fixedSize, sizeof(VS_FIXEDFILEINFO));
    const auto& info = *static_cast<const VS_FIXEDFILEINFO*>(fixed);
    const Hex versionMs{(VANTREL_VERSION_MAJOR << 16) | VANTREL_VERSION_MINOR};
    const Hex versionLs{(VANTREL_VERSION_PATCH << 16) | VANTREL_VERSION_TWEAK};
    EXPECT_EQ(Hex{info.dwSignature}, Hex{0xFEEF04BD}) << "dwSignature";
    EXPECT_EQ(Hex{info.dwFileVersionMS}, versionMs) << "dwFileVersionMS";
    EXPECT_EQ(Hex{info.dwFileVersionLS}, versionLs) << "dwFileVersionLS";
    EXPECT_EQ(Hex{info.dwProductVersionMS}, versionMs) << "dwProductVersionMS";
    EXPECT_EQ(Hex{info.dwProductVersionLS}, versionLs) << "dwProductVersionLS";
    EXPECT_EQ(Hex{info.dwFileFlagsMask}, Hex{0x3F}) << "dwFileFlagsMask";
    EXPECT_EQ(Hex{info.dwFileFlags}, Hex{0}) << "dwFileFlags";
    EXPECT_EQ(Hex{info.dwFileOS}, Hex{VOS__WINDOWS32}) << "dwFileOS";
    EXPECT_EQ(Hex{info.dwFileType}, Hex{VFT_APP}) << "dwFileType";
    EXPECT_EQ(Hex{info.dwFileSubtype}, Hex{0}) << "dwFileSubtype";

    // The strings of table 040904e4: the value each must have, or null for
    // one that must only not be empty.
    const std::pair<const wchar_t*, const char*> strings[] = {
        {L"CompanyName", nullptr},
        {L"FileDescription", nullptr},
        {L"FileVersion", VANTREL_VERSION_TEXT},
        {L"InternalName", "Vantrel.exe"},
        {L"LegalCopyright", nullptr},
        {L"OriginalFilename", "Vantrel.exe"},
        {L"ProductName", nullptr},
        {L"ProductVersion", VANTREL_VERSION_TEXT}};
    for (const auto& [key, wanted] : strings) {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904e4\\") + key;
        void* text = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(block.data(), query.c_str(), &text, &length)) {
            ADD_FAILURE() << Narrow(key) << " is missing from string table 040904e4";
            continue;
        }
        std::wstring value(static_cast<const wchar_t*>(text), length);
        value.resize(std::min(value.find(L'\0'), value.size()));
        if (wanted != nullptr) {
            EXPECT_EQ(Narrow(value), wanted) << Narrow(key);
        } else {
            EXPECT_FALSE(value.empty()) << Narrow(key) << " is empty";
        }
    }

    void* translation = nullptr;
    UINT translationSize = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &translation,
                               &translationSize));
    ASSERT_EQ(translationSize, 4u) << "one language and code page pair";
    const auto* words = static_cast<const WORD*>(translation);
    EXPECT_EQ(Hex{words[0]}, Hex{0x0409}) << "Translation language";
    EXPECT_EQ(Hex{words[1]}, Hex{0x04E4}) << "Translation code page";
}

// ---------------------------------------------------------------------------
// The help text.

TEST_F(VantrelResources, HelpTextIsPresent) {
    const wchar_t* loaded = nullptr;
    const int length = LoadStringW(Vantrel().handle, ID_HELP, reinterpret_cast<LPWSTR>(&loaded), 0);
    EXPECT_GT(length, 0) << "LoadStringW of string " << ID_HELP
                         << " (ID_HELP): missing from the string table, or empty";
}

} // namespace
