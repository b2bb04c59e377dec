// Checks the resources and headers of the built Vantrel.exe, byte for byte
// as Windows reads them: the main dialog template, the icon group and its
// icons, the manifest, the version block, the help text, and the PE headers
// and imported DLLs. The program is loaded as a data file (nothing of it
// runs) and each resource's raw bytes are parsed here, so a resource
// compiler that writes something other than what the scripts mean is
// caught too.
#include "AfxRes.h"
#include "DialogTemplate.h"
#include "PeImage.h"
#include "ProgramVersion.h"
#include "TextForPeople.h"
#include "VersionBlock.h"
#include "XmlReader.h"
#include "resource.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <iomanip>
#include <map>
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

// What the build's processor means for the program file and its manifest.
struct Processor {
    std::uint16_t machine;
    std::uint16_t optionalMagic;
    const char* manifestName;
    const char* what;
};
#ifdef _WIN64
constexpr Processor kProcessor{0x8664, 0x20B, "amd64", "x64: machine 0x8664, PE32+ 0x20B"};
#else
constexpr Processor kProcessor{0x14C, 0x10B, "x86", "x86: machine 0x14C, PE32 0x10B"};
#endif

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
// The manifest.

TEST_F(VantrelResources, ManifestNamesOnlyCommonControlsSix) {
    const auto bytes = ResourceBytes(RT_MANIFEST, 1);
    ASSERT_FALSE(bytes.empty()) << "no RT_MANIFEST resource 1";
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    while (!text.empty() && text.back() == '\0') {
        text.remove_suffix(1); // resource compilers may pad with zeros
    }
    const vantrel_test::XmlElement root = vantrel_test::XmlReader::ParseDocument(text);
    EXPECT_EQ(root.name, "assembly") << "root element";

    std::vector<std::string> named;
    for (const vantrel_test::XmlElement* identity : root.Descendants("assemblyIdentity")) {
        std::string name = "(no name)";
        for (const auto& [key, value] : identity->attributes) {
            if (key == "name") {
                name = value;
            }
        }
        named.push_back(name);
    }
    EXPECT_EQ(named, std::vector<std::string>{"Microsoft.Windows.Common-Controls"})
        << "assemblies named anywhere in the manifest";

    const auto dependencies = root.Descendants("dependentAssembly");
    ASSERT_EQ(dependencies.size(), 1u) << "<dependentAssembly> elements";
    const auto identities = dependencies.front()->Descendants("assemblyIdentity");
    ASSERT_EQ(identities.size(), 1u) << "<assemblyIdentity> in the <dependentAssembly>";
    const std::map<std::string, std::string> attributes(identities.front()->attributes.begin(),
                                                        identities.front()->attributes.end());
    const std::map<std::string, std::string> expected = {
        {"type", "win32"},
        {"name", "Microsoft.Windows.Common-Controls"},
        {"version", "6.0.0.0"},
        {"processorArchitecture", kProcessor.manifestName},
        {"publicKeyToken", "6595b64144ccf1df"},
        {"language", "*"},
    };
    EXPECT_EQ(attributes, expected) << "attributes of the dependent assemblyIdentity";
}

// ---------------------------------------------------------------------------
// The version block.

struct ExpectedVersion {
    std::uint32_t versionMs = (VANTREL_VERSION_MAJOR << 16) | VANTREL_VERSION_MINOR;
    std::uint32_t versionLs = (VANTREL_VERSION_PATCH << 16) | VANTREL_VERSION_TWEAK;
    std::uint32_t flagsMask = 0x3F;
    std::uint32_t flags = 0;
    std::uint32_t os = 0x4;   // VOS__WINDOWS32
    std::uint32_t type = 0x1; // VFT_APP
    std::uint32_t subtype = 0;
};

void ExpectFixedInfo(const vantrel_test::FixedFileInfo& info) {
    const ExpectedVersion expected;
    EXPECT_EQ(Hex{info.signature}, Hex{0xFEEF04BD}) << "dwSignature";
    EXPECT_EQ(Hex{info.fileVersionMs}, Hex{expected.versionMs}) << "dwFileVersionMS";
    EXPECT_EQ(Hex{info.fileVersionLs}, Hex{expected.versionLs}) << "dwFileVersionLS";
    EXPECT_EQ(Hex{info.productVersionMs}, Hex{expected.versionMs}) << "dwProductVersionMS";
    EXPECT_EQ(Hex{info.productVersionLs}, Hex{expected.versionLs}) << "dwProductVersionLS";
    EXPECT_EQ(Hex{info.fileFlagsMask}, Hex{expected.flagsMask}) << "dwFileFlagsMask";
    EXPECT_EQ(Hex{info.fileFlags}, Hex{expected.flags}) << "dwFileFlags";
    EXPECT_EQ(Hex{info.fileOs}, Hex{expected.os}) << "dwFileOS";
    EXPECT_EQ(Hex{info.fileType}, Hex{expected.type}) << "dwFileType";
    EXPECT_EQ(Hex{info.fileSubtype}, Hex{expected.subtype}) << "dwFileSubtype";
}

std::vector<std::string> Printable(const std::vector<std::u16string>& texts) {
    std::vector<std::string> out;
    for (const std::u16string& text : texts) {
        out.push_back(Printable(text));
    }
    return out;
}

TEST_F(VantrelResources, VersionBlockDescribesVantrelAtTheProjectVersion) {
    const auto bytes = ResourceBytes(RT_VERSION, 1);
    ASSERT_FALSE(bytes.empty())
        << "no RT_VERSION resource 1"
        << (FindResourceW(Vantrel().handle, L"VS_VERSION_INFO", RT_VERSION) != nullptr
                ? "; there is one named \"VS_VERSION_INFO\" (the name was not defined as 1 "
                  "when the script was compiled), which the version API does not look for"
                : "");
    const vantrel_test::VersionNode root = vantrel_test::ReadVersionBlock(bytes);
    EXPECT_EQ(Printable(root.key), "VS_VERSION_INFO") << "root key";
    EXPECT_EQ(root.type, 0) << "root wType (binary)";
    ASSERT_EQ(root.valueLength, vantrel_test::kFixedFileInfoSize)
        << "root wValueLength: size of VS_FIXEDFILEINFO";
    {
        SCOPED_TRACE("VS_FIXEDFILEINFO read from the raw block");
        ExpectFixedInfo(vantrel_test::ReadFixedFileInfo(root.value));
    }

    const auto* stringFileInfo = root.Child(u"StringFileInfo");
    ASSERT_NE(stringFileInfo, nullptr) << "one StringFileInfo under the root; keys found: "
                                       << ::testing::PrintToString(Printable(root.ChildKeys()));
    ASSERT_EQ(Printable(stringFileInfo->ChildKeys()), std::vector<std::string>{"040904e4"})
        << "string tables in StringFileInfo";
    const vantrel_test::VersionNode& table = stringFileInfo->children.front();
    const std::vector<std::string> expectedKeys = {
        "CompanyName",    "FileDescription",  "FileVersion", "InternalName",
        "LegalCopyright", "OriginalFilename", "ProductName", "ProductVersion"};
    EXPECT_EQ(Printable(table.ChildKeys()), expectedKeys) << "keys of string table 040904e4";

    std::map<std::string, std::string> values;
    for (const vantrel_test::VersionNode& entry : table.children) {
        EXPECT_EQ(entry.type, 1) << "wType of \"" << Printable(entry.key) << "\" (text)";
        values[Printable(entry.key)] = Printable(entry.Text());
    }
    const std::pair<const char*, const char*> exact[] = {{"FileVersion", VANTREL_VERSION_TEXT},
                                                         {"ProductVersion", VANTREL_VERSION_TEXT},
                                                         {"InternalName", "Vantrel.exe"},
                                                         {"OriginalFilename", "Vantrel.exe"}};
    for (const auto& [key, value] : exact) {
        const auto found = values.find(key);
        if (found == values.end()) {
            ADD_FAILURE() << key << " is missing from string table 040904e4";
        } else {
            EXPECT_EQ(found->second, value) << key;
        }
    }
    for (const char* key : {"CompanyName", "FileDescription", "LegalCopyright", "ProductName"}) {
        const auto found = values.find(key);
        if (found == values.end()) {
            ADD_FAILURE() << key << " is missing from string table 040904e4";
        } else {
            EXPECT_FALSE(found->second.empty()) << key << " is empty";
        }
    }

    const auto* varFileInfo = root.Child(u"VarFileInfo");
    ASSERT_NE(varFileInfo, nullptr) << "one VarFileInfo under the root; keys found: "
                                    << ::testing::PrintToString(Printable(root.ChildKeys()));
    const auto* translation = varFileInfo->Child(u"Translation");
    ASSERT_NE(translation, nullptr) << "Translation in VarFileInfo";
    EXPECT_EQ(translation->type, 0) << "Translation wType (binary)";
    std::vector<Hex> pairs;
    for (const std::uint16_t word : translation->Words()) {
        pairs.push_back(Hex{word});
    }
    EXPECT_EQ(pairs, (std::vector<Hex>{Hex{0x0409}, Hex{0x04E4}}))
        << "Translation: language, code page";
}

// The same block through the version API, as Explorer's Details tab reads it.
TEST_F(VantrelResources, VersionApiReadsTheSameVersion) {
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
    ASSERT_GE(fixedSize, vantrel_test::kFixedFileInfoSize);
    SCOPED_TRACE("VS_FIXEDFILEINFO from VerQueryValueW");
    ExpectFixedInfo(vantrel_test::ReadFixedFileInfo(
        std::span(static_cast<const std::uint8_t*>(fixed), fixedSize)));

    void* text = nullptr;
    UINT textSize = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904e4\\ProductVersion", &text,
                               &textSize))
        << "ProductVersion in string table 040904e4";
    EXPECT_EQ(Narrow(static_cast<const wchar_t*>(text)), VANTREL_VERSION_TEXT) << "ProductVersion";

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
    // String n lives in RT_STRING block n / 16 + 1, as the (n % 16)th of the
    // block's sixteen length-prefixed UTF-16 strings.
    constexpr std::uint16_t kHelp = ID_HELP;
    const auto bytes = ResourceBytes(RT_STRING, static_cast<std::uint16_t>(kHelp / 16 + 1));
    ASSERT_FALSE(bytes.empty()) << "no RT_STRING block holding string " << kHelp << " (ID_HELP)";
    ByteReader reader(bytes);
    std::u16string help;
    for (unsigned i = 0; i < 16; ++i) {
        const std::uint16_t length = reader.U16();
        std::u16string text;
        for (std::uint16_t c = 0; c < length; ++c) {
            text.push_back(static_cast<char16_t>(reader.U16()));
        }
        if (i == kHelp % 16) {
            help = text;
        }
    }
    EXPECT_FALSE(help.empty()) << "string " << kHelp << " (ID_HELP) is empty";

    const wchar_t* loaded = nullptr;
    const int length = LoadStringW(Vantrel().handle, kHelp, reinterpret_cast<LPWSTR>(&loaded), 0);
    ASSERT_GT(length, 0) << "LoadStringW of ID_HELP";
    EXPECT_EQ(Printable(std::u16string(loaded, loaded + length)), Printable(help))
        << "LoadStringW against the raw string table";
}

// ---------------------------------------------------------------------------
// The executable's headers and imports.

std::vector<std::uint8_t> ReadWholeFile(const std::wstring& path) {
    std::vector<std::uint8_t> bytes;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return bytes;
    }
    std::array<std::uint8_t, 65536> chunk{};
    DWORD got = 0;
    while (ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) &&
           got != 0) {
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
    }
    CloseHandle(file);
    return bytes;
}

// DLLs that are part of every Windows installation.
bool ShipsWithWindows(const std::string& dll) {
    static const std::set<std::string> system = {
        "advapi32.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll",  "dwmapi.dll",
        "gdi32.dll",    "imm32.dll",    "kernel32.dll", "msimg32.dll",  "msvcrt.dll",
        "ntdll.dll",    "ole32.dll",    "oleaut32.dll", "rpcrt4.dll",   "shell32.dll",
        "shlwapi.dll",  "user32.dll",   "uxtheme.dll",  "version.dll",  "winmm.dll",
        "ws2_32.dll",   "psapi.dll",    "secur32.dll",  "winspool.drv", "bcrypt.dll"};
    return system.contains(Lower(dll));
}

// Run-time DLLs of the compilers and class libraries, which a Windows
// machine does not have unless someone installed them.
bool IsRedistributableRuntime(const std::string& dll) {
    const std::string name = Lower(dll);
    for (const char* prefix :
         {"libstdc++", "libgcc_s", "libwinpthread", "mfc", "msvcp", "vcruntime"}) {
        if (name.starts_with(prefix)) {
            return true;
        }
    }
    return false;
}

TEST(VantrelExecutable, IsAGuiProgramForItsProcessorThatImportsOnlySystemDlls) {
    const std::wstring path = VantrelExePath();
    const std::vector<std::uint8_t> file = ReadWholeFile(path);
    ASSERT_FALSE(file.empty()) << "cannot read " << Narrow(path);
    const vantrel_test::PeImage image = vantrel_test::ReadPeImage(file);
    EXPECT_EQ(Hex{image.machine}, Hex{kProcessor.machine}) << "machine (" << kProcessor.what << ")";
    ASSERT_EQ(Hex{image.optionalMagic}, Hex{kProcessor.optionalMagic})
        << "optional header magic (" << kProcessor.what << ")";
    EXPECT_EQ(image.subsystem, 2) << "subsystem (2: Windows GUI)";

    std::vector<std::string> all = image.importedDlls;
    all.insert(all.end(), image.delayImportedDlls.begin(), image.delayImportedDlls.end());
    const std::string listed = ::testing::PrintToString(all);
    EXPECT_TRUE(std::any_of(image.importedDlls.begin(), image.importedDlls.end(),
                            [](const std::string& dll) { return Lower(dll) == "kernel32.dll"; }))
        << "KERNEL32.dll is not among the imports " << listed;
    EXPECT_TRUE(std::any_of(image.importedDlls.begin(), image.importedDlls.end(),
                            [](const std::string& dll) { return Lower(dll) == "user32.dll"; }))
        << "USER32.dll is not among the imports " << listed;
    for (const std::string& dll : all) {
        EXPECT_FALSE(IsRedistributableRuntime(dll))
            << dll << " is a compiler or class-library run-time DLL; imports: " << listed;
        EXPECT_TRUE(ShipsWithWindows(dll))
            << dll << " is not a DLL that ships with Windows; imports: " << listed;
    }
}

} // namespace
