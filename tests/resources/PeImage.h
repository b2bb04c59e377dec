// Reads what the Windows loader looks at first in a PE file, 32-bit (PE32)
// or 64-bit (PE32+): the machine, the optional header's magic and subsystem,
// and the names of the DLLs it must load (the import table and the
// delay-load table), found by mapping their RVAs through the section table
// to file offsets.
#pragma once

#include "ByteReader.h"

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantrel_test {

struct PeImage {
    std::uint16_t machine = 0;
    std::uint16_t optionalMagic = 0;
    std::uint16_t subsystem = 0;
    std::vector<std::string> importedDlls;
    std::vector<std::string> delayImportedDlls;
};

namespace pe_detail {

struct Section {
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t rawOffset = 0;
};

inline std::size_t FileOffset(const std::vector<Section>& sections, std::uint32_t rva) {
    for (const Section& section : sections) {
        const std::uint32_t extent =
            section.virtualSize > section.rawSize ? section.virtualSize : section.rawSize;
        if (rva >= section.virtualAddress && rva - section.virtualAddress < extent) {
            const std::uint32_t inSection = rva - section.virtualAddress;
            if (inSection >= section.rawSize) {
                break; // In the zero-filled tail, not in the file.
            }
            return std::size_t{section.rawOffset} + inSection;
        }
    }
    throw std::runtime_error("RVA " + std::to_string(rva) + " is in no section's file data");
}

} // namespace pe_detail

// Parses a PE32 or PE32+ file's headers and import names; throws
// std::runtime_error when the file is not PE or its tables point outside it.
// A file with another optional header magic is reported with its magic and
// no further fields.
inline PeImage ReadPeImage(std::span<const std::uint8_t> file) {
    using pe_detail::FileOffset;
    using pe_detail::Section;
    constexpr std::uint16_t kPe32Magic = 0x10B;
    constexpr std::uint16_t kPe32PlusMagic = 0x20B;
    constexpr std::uint32_t kImportDirectory = 1;
    constexpr std::uint32_t kDelayImportDirectory = 13;

    ByteReader reader(file);
    if (reader.U16() != 0x5A4D) { // "MZ"
        throw std::runtime_error("no MZ header");
    }
    reader.Seek(0x3C);
    reader.Seek(reader.U32());
    if (reader.U32() != 0x00004550) { // "PE\0\0"
        throw std::runtime_error("no PE signature");
    }
    PeImage image;
    image.machine = reader.U16();
    const std::uint16_t sectionCount = reader.U16();
    reader.Skip(12); // time stamp, symbol table pointer, symbol count
    const std::uint16_t optionalSize = reader.U16();
    reader.Skip(2); // characteristics
    const std::size_t optionalStart = reader.Offset();
    image.optionalMagic = reader.U16();
    if (image.optionalMagic != kPe32Magic && image.optionalMagic != kPe32PlusMagic) {
        return image;
    }
    // PE32+ widens the image base to 64 bits (dropping BaseOfData before it)
    // and the four stack and heap sizes, so the directories start 16 bytes
    // later.
    const bool plus = image.optionalMagic == kPe32PlusMagic;
    reader.Seek(optionalStart + (plus ? 24 : 28));
    std::uint64_t imageBase = reader.U32();
    if (plus) {
        imageBase |= std::uint64_t{reader.U32()} << 32;
    }
    reader.Seek(optionalStart + 68);
    image.subsystem = reader.U16();
    reader.Seek(optionalStart + (plus ? 108 : 92));
    const std::uint32_t directoryCount = reader.U32();
    std::vector<std::pair<std::uint32_t, std::uint32_t>> directories;
    for (std::uint32_t i = 0;
         i < directoryCount && reader.Offset() + 8 <= optionalStart + optionalSize; ++i) {
        const std::uint32_t rva = reader.U32();
        const std::uint32_t size = reader.U32();
        directories.emplace_back(rva, size);
    }

    reader.Seek(optionalStart + optionalSize);
    std::vector<Section> sections;
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
        reader.Skip(8); // name
        Section section;
        section.virtualSize = reader.U32();
        section.virtualAddress = reader.U32();
        section.rawSize = reader.U32();
        section.rawOffset = reader.U32();
        reader.Skip(16); // relocation and line-number pointers and counts, flags
        sections.push_back(section);
    }

    auto nameAt = [&](std::uint32_t rva) {
        ByteReader names(file, FileOffset(sections, rva));
        return names.NarrowString();
    };

    // IMAGE_IMPORT_DESCRIPTOR: 20 bytes each, the DLL name's RVA at offset
    // 12, ended by an all-zero descriptor.
    if (directories.size() > kImportDirectory && directories[kImportDirectory].first != 0) {
        ByteReader table(file, FileOffset(sections, directories[kImportDirectory].first));
        for (;;) {
            const std::uint32_t lookup = table.U32();
            table.Skip(8);
            const std::uint32_t nameRva = table.U32();
            const std::uint32_t thunks = table.U32();
            if (lookup == 0 && nameRva == 0 && thunks == 0) {
                break;
            }
            image.importedDlls.push_back(nameAt(nameRva));
        }
    }

    // ImgDelayDescr: 32 bytes each, attributes first (bit 0: addresses are
    // RVAs rather than virtual addresses), then the DLL name, ended by a
    // descriptor whose name is zero.
    if (directories.size() > kDelayImportDirectory &&
        directories[kDelayImportDirectory].first != 0) {
        ByteReader table(file, FileOffset(sections, directories[kDelayImportDirectory].first));
        for (;;) {
            const std::uint32_t attributes = table.U32();
            const std::uint32_t name = table.U32();
            table.Skip(24);
            if (name == 0) {
                break;
            }
            image.delayImportedDlls.push_back(nameAt(
                (attributes & 1) != 0 ? name : static_cast<std::uint32_t>(name - imageBase)));
        }
    }
    return image;
}

} // namespace vantrel_test
