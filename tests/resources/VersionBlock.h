// Reads the tree of an RT_VERSION resource: each node is wLength,
// wValueLength, wType, a zero-terminated UTF-16 key, padding to a DWORD
// boundary, the value, padding again, then child nodes up to wLength. The
// root is VS_VERSION_INFO with a VS_FIXEDFILEINFO value; below it are
// StringFileInfo (string tables of String nodes) and VarFileInfo.
#pragma once

#include "ByteReader.h"
#include "TextForPeople.h"

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantrel_test {

struct VersionNode {
    std::uint16_t length = 0;
    std::uint16_t valueLength = 0; // bytes for binary values, characters for text
    std::uint16_t type = 0;        // 0 binary, 1 text
    std::u16string key;
    std::vector<std::uint8_t> value;
    std::vector<VersionNode> children;

    // A text value up to (not including) its first zero character.
    std::u16string Text() const {
        std::u16string text;
        for (std::size_t i = 0; i + 1 < value.size(); i += 2) {
            const auto c = static_cast<char16_t>(value[i] | (value[i + 1] << 8));
            if (c == u'\0') {
                break;
            }
            text.push_back(c);
        }
        return text;
    }

    std::vector<std::uint16_t> Words() const {
        std::vector<std::uint16_t> words;
        for (std::size_t i = 0; i + 1 < value.size(); i += 2) {
            words.push_back(static_cast<std::uint16_t>(value[i] | (value[i + 1] << 8)));
        }
        return words;
    }

    std::vector<std::u16string> ChildKeys() const {
        std::vector<std::u16string> keys;
        for (const VersionNode& child : children) {
            keys.push_back(child.key);
        }
        return keys;
    }

    // The only child with this key; nullptr when there is none or several.
    const VersionNode* Child(const std::u16string& wanted) const {
        const VersionNode* found = nullptr;
        for (const VersionNode& child : children) {
            if (child.key == wanted) {
                if (found != nullptr) {
                    return nullptr;
                }
                found = &child;
            }
        }
        return found;
    }
};

// Reads the node that starts at the reader's position and ends no later
// than `limit`; leaves the reader at the node's end. Throws
// std::runtime_error when a length points outside its parent.
inline VersionNode ReadVersionNode(ByteReader& reader, std::size_t limit) {
    const std::size_t start = reader.Offset();
    VersionNode node;
    node.length = reader.U16();
    node.valueLength = reader.U16();
    node.type = reader.U16();
    const std::size_t end = start + node.length;
    if (node.length < 6 || end > limit) {
        throw std::runtime_error("version node at offset " + std::to_string(start) +
                                 " has wLength " + std::to_string(node.length) +
                                 ", outside its parent (ends at " + std::to_string(limit) + ")");
    }
    node.key = reader.WideString();
    reader.Align(4);
    const std::size_t valueBytes =
        node.type == 1 ? std::size_t{node.valueLength} * 2 : std::size_t{node.valueLength};
    if (reader.Offset() + valueBytes > end) {
        throw std::runtime_error("value of version node \"" + driving::Printable(node.key) +
                                 "\" runs past the node's end");
    }
    for (std::size_t i = 0; i < valueBytes; ++i) {
        node.value.push_back(reader.U8());
    }
    for (;;) {
        if (reader.Offset() < end) {
            reader.Align(4);
        }
        if (reader.Offset() >= end) {
            break;
        }
        node.children.push_back(ReadVersionNode(reader, end));
    }
    reader.Seek(end);
    return node;
}

inline VersionNode ReadVersionBlock(std::span<const std::uint8_t> bytes) {
    ByteReader reader(bytes);
    return ReadVersionNode(reader, bytes.size());
}

// VS_FIXEDFILEINFO, the root node's value.
struct FixedFileInfo {
    std::uint32_t signature = 0;
    std::uint32_t structVersion = 0;
    std::uint32_t fileVersionMs = 0;
    std::uint32_t fileVersionLs = 0;
    std::uint32_t productVersionMs = 0;
    std::uint32_t productVersionLs = 0;
    std::uint32_t fileFlagsMask = 0;
    std::uint32_t fileFlags = 0;
    std::uint32_t fileOs = 0;
    std::uint32_t fileType = 0;
    std::uint32_t fileSubtype = 0;
    std::uint32_t fileDateMs = 0;
    std::uint32_t fileDateLs = 0;
};

inline constexpr std::size_t kFixedFileInfoSize = 13 * 4;

inline FixedFileInfo ReadFixedFileInfo(std::span<const std::uint8_t> bytes) {
    ByteReader reader(bytes);
    FixedFileInfo info;
    for (std::uint32_t* field :
         {&info.signature, &info.structVersion, &info.fileVersionMs, &info.fileVersionLs,
          &info.productVersionMs, &info.productVersionLs, &info.fileFlagsMask, &info.fileFlags,
          &info.fileOs, &info.fileType, &info.fileSubtype, &info.fileDateMs, &info.fileDateLs}) {
        *field = reader.U32();
    }
    return info;
}

} // namespace vantrel_test
