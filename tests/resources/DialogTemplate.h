// Reads an extended dialog template (DLGTEMPLATEEX followed by its
// DLGITEMTEMPLATEEX items) from the raw bytes of an RT_DIALOG resource,
// field by field as the dialog manager reads them, keeping how each name
// was encoded (ordinal or string). Read by hand because no tool shows it:
// wrestool and objdump give only the resource's bytes, and the dialog API
// builds windows from a template without describing it (help IDs, extended
// styles, the font fields and the item count are nowhere else to be seen).
#pragma once

#include "ByteReader.h"
#include "TextForPeople.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vantrel_test {

// A "string or ordinal" field: 0x0000 (nothing / empty string), 0xFFFF and a
// 16-bit ordinal, or a zero-terminated UTF-16 string.
struct NameOrOrdinal {
    bool isOrdinal = false;
    std::uint16_t ordinal = 0;
    std::u16string text;
};

inline NameOrOrdinal ReadNameOrOrdinal(ByteReader& reader) {
    NameOrOrdinal result;
    const std::size_t start = reader.Offset();
    const std::uint16_t first = reader.U16();
    if (first == 0xFFFF) {
        result.isOrdinal = true;
        result.ordinal = reader.U16();
    } else if (first != 0x0000) {
        reader.Seek(start);
        result.text = reader.WideString();
    }
    return result;
}

inline std::string Describe(const NameOrOrdinal& value) {
    std::string description;
    if (value.isOrdinal) {
        description = "ordinal ";
        description += std::to_string(value.ordinal);
    } else {
        description = "\"";
        description += driving::Printable(value.text);
        description += "\"";
    }
    return description;
}

struct DialogItemTemplate {
    std::uint32_t helpId = 0;
    std::uint32_t exStyle = 0;
    std::uint32_t style = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::uint32_t id = 0;
    NameOrOrdinal windowClass;
    NameOrOrdinal title;
    std::uint16_t extraCount = 0;
};

struct DialogTemplate {
    std::uint16_t dlgVer = 0;
    std::uint16_t signature = 0;
    std::uint32_t helpId = 0;
    std::uint32_t exStyle = 0;
    std::uint32_t style = 0;
    std::uint16_t itemCount = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    NameOrOrdinal menu;
    NameOrOrdinal windowClass;
    std::u16string title;
    // The font fields exist only when the style has DS_SETFONT (0x40).
    bool hasFont = false;
    std::uint16_t pointSize = 0;
    std::uint16_t weight = 0;
    std::uint8_t italic = 0;
    std::uint8_t charset = 0;
    std::u16string typeface;
    std::vector<DialogItemTemplate> items;
};

// Reads the header and, when it is an extended template (dlgVer 1,
// signature 0xFFFF), the items. Throws std::runtime_error when the bytes
// run out before the template does.
inline DialogTemplate ReadDialogTemplate(std::span<const std::uint8_t> bytes) {
    constexpr std::uint32_t kSetFont = 0x40;
    ByteReader reader(bytes);
    DialogTemplate dialog;
    dialog.dlgVer = reader.U16();
    dialog.signature = reader.U16();
    if (dialog.dlgVer != 1 || dialog.signature != 0xFFFF) {
        return dialog; // A classic DLGTEMPLATE: the caller reports the header.
    }
    dialog.helpId = reader.U32();
    dialog.exStyle = reader.U32();
    dialog.style = reader.U32();
    dialog.itemCount = reader.U16();
    dialog.x = reader.I16();
    dialog.y = reader.I16();
    dialog.cx = reader.I16();
    dialog.cy = reader.I16();
    dialog.menu = ReadNameOrOrdinal(reader);
    dialog.windowClass = ReadNameOrOrdinal(reader);
    dialog.title = reader.WideString();
    if ((dialog.style & kSetFont) != 0) {
        dialog.hasFont = true;
        dialog.pointSize = reader.U16();
        dialog.weight = reader.U16();
        dialog.italic = reader.U8();
        dialog.charset = reader.U8();
        dialog.typeface = reader.WideString();
    }
    for (std::uint16_t i = 0; i < dialog.itemCount; ++i) {
        reader.Align(4);
        DialogItemTemplate item;
        item.helpId = reader.U32();
        item.exStyle = reader.U32();
        item.style = reader.U32();
        item.x = reader.I16();
        item.y = reader.I16();
        item.cx = reader.I16();
        item.cy = reader.I16();
        item.id = reader.U32();
        item.windowClass = ReadNameOrOrdinal(reader);
        item.title = ReadNameOrOrdinal(reader);
        item.extraCount = reader.U16();
        reader.Skip(item.extraCount);
        dialog.items.push_back(item);
    }
    return dialog;
}

} // namespace vantrel_test
