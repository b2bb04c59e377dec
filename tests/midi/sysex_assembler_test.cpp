// Putting System Exclusive messages together from pieces: what comes out of
// each stream, whatever the size of its pieces.
#include "SysexAssembler.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using midi_ports::SysexAssembler;
using Bytes = std::vector<std::uint8_t>;

// What the assembler makes of `stream` given in pieces of `size` bytes, then
// ended: "whole F0 01 F7" or "cut by 90: F0 01" for each message, in order.
std::vector<std::string> Assemble(const Bytes& stream, std::size_t size) {
    std::vector<std::string> results;
    SysexAssembler assembler;
    auto describe = [&](const char* what) {
        std::ostringstream text;
        text << what << std::hex << std::uppercase;
        for (const std::uint8_t byte : assembler.Message()) {
            text << ' ' << static_cast<int>(byte);
        }
        results.push_back(text.str());
    };
    for (std::size_t start = 0; start < stream.size(); start += size) {
        const std::span piece(stream.data() + start, std::min(size, stream.size() - start));
        for (std::size_t at = 0; at < piece.size();) {
            const auto result = assembler.Take(piece, at);
            if (result == SysexAssembler::Result::Complete) {
                describe("whole");
            } else if (result == SysexAssembler::Result::Cut) {
                describe(assembler.CutBy() == 0xF0 ? "cut by F0:" : "cut by other:");
            }
        }
    }
    if (assembler.Cut()) {
        describe("unfinished:");
    }
    return results;
}

TEST(SysexAssembler, PiecesOfAnySizeGiveTheSameMessages) {
    const struct {
        const char* what;
        Bytes stream;
        std::vector<std::string> messages;
    } cases[] = {
        {"two messages and other MIDI",
         {0x90, 0x40, 0x7F, 0xF0, 0x01, 0xF7, 0x80, 0xF0, 0x02, 0xF7},
         {"whole F0 1 F7", "whole F0 2 F7"}},
        {"real-time bytes inside",
         {0xF0, 0xF8, 0x01, 0xFE, 0xFA, 0x02, 0xFF, 0xF7},
         {"whole F0 1 2 F7"}},
        {"a note cuts, its data is not taken",
         {0xF0, 0x01, 0x90, 0x40, 0xF7, 0xF0, 0x03, 0xF7},
         {"cut by other: F0 1", "whole F0 3 F7"}},
        {"an F0 cuts and begins the next",
         {0xF0, 0x01, 0xF0, 0x02, 0xF7},
         {"cut by F0: F0 1", "whole F0 2 F7"}},
        {"a stray F7 and data outside", {0xF7, 0x05, 0xF0, 0xF7}, {"whole F0 F7"}},
        {"the input ends inside", {0xF0, 0x01, 0x02}, {"unfinished: F0 1 2"}},
    };
    for (const auto& [what, stream, messages] : cases) {
        for (const std::size_t size :
             {std::size_t{1}, std::size_t{2}, std::size_t{3}, stream.size()}) {
            EXPECT_EQ(messages, Assemble(stream, size)) << what << ", pieces of " << size;
        }
    }
}

TEST(SysexAssembler, AMessageWithoutItsEndIsCutAtTheLimit) {
    Bytes stream(SysexAssembler::kLongest + 10, 0x01);
    stream.front() = 0xF0;
    stream.back() = 0xF7;
    SysexAssembler assembler;
    std::size_t at = 0;
    EXPECT_EQ(SysexAssembler::Result::Cut, assembler.Take(stream, at));
    EXPECT_EQ(SysexAssembler::kLongest, assembler.Message().size());
    EXPECT_EQ(0, assembler.CutBy());
    EXPECT_EQ(SysexAssembler::Result::More, assembler.Take(stream, at)) << "the rest is ignored";
    EXPECT_FALSE(assembler.Cut());
    EXPECT_EQ(stream.size(), assembler.Taken()) << "but every byte of it counts as arriving";
    const Bytes after = {0x01, 0x90, 0x01};
    at = 0;
    assembler.Take(after, at);
    EXPECT_EQ(stream.size(), assembler.Taken()) << "nothing after its F7 does";
}

} // namespace
