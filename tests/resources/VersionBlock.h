// The outline of an RT_VERSION block, read from its raw bytes by hand
// because no tool shows it: VerQueryValueW finds a value by its path, but
// tells neither which keys there are, nor their order, nor how each value is
// typed. One line per node in the block's order: the node's key path and,
// for a node with a value, its wType (0 binary, 1 text) and, for a binary
// value, its size. Each node is wLength, wValueLength, wType, a
// zero-terminated UTF-16 key, padding to a DWORD boundary, the value
// (wValueLength bytes, or characters when it is text), padding again, then
// child nodes up to wLength.
#pragma once

#include "ByteReader.h"
#include "TextForPeople.h"

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantrel_test {

// Outlines the node at the reader's position, which must end no later than
// `limit`; throws std::runtime_error when a length points outside it.
inline void OutlineVersionNode(ByteReader& reader, std::size_t limit, const std::string& parent,
                               std::vector<std::string>& lines) {
    const std::size_t start = reader.Offset();
    const std::uint16_t length = reader.U16();
    const std::uint16_t valueLength = reader.U16();
    const std::uint16_t type = reader.U16();
    const std::size_t end = start + length;
    if (length < 6 || end > limit) {
        throw std::runtime_error("version node at offset " + std::to_string(start) +
                                 " has wLength " + std::to_string(length) +
                                 ", outside its parent (ends at " + std::to_string(limit) + ")");
    }
    const std::string path = parent + driving::Printable(reader.WideString());
    reader.Align(4);
    const std::size_t valueBytes = type == 1 ? std::size_t{valueLength} * 2 : valueLength;
    if (reader.Offset() + valueBytes > end) {
        throw std::runtime_error("the value of " + path + " runs past the node's end");
    }
    reader.Skip(valueBytes);
    lines.push_back(path);
    if (valueBytes != 0) {
        lines.back() += " wType " + std::to_string(type);
        lines.back() += type == 1 ? "" : ", " + std::to_string(valueBytes) + " bytes";
    }
    for (;;) {
        if (reader.Offset() < end) {
            reader.Align(4);
        }
        if (reader.Offset() >= end) {
            break;
        }
        OutlineVersionNode(reader, end, path + "\\", lines);
    }
    reader.Seek(end);
}

inline std::vector<std::string> OutlineVersionBlock(std::span<const std::uint8_t> bytes) {
    std::vector<std::string> lines;
    ByteReader reader(bytes);
    OutlineVersionNode(reader, bytes.size(), "", lines);
    return lines;
}

} // namespace vantrel_test
