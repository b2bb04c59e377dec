// MessageReader: whole messages and named losses from an input's pieces, and
// no message handed out whole that may span a loss the back end could not
// place exactly.
#include "Described.h"
#include "MessageReader.h"
#include "ToolRun.h"

#include <gtest/gtest.h>

namespace {

using namespace midi_ports;
using Kind = Piece::Kind;

// An input that hands out its pieces in order, then nothing.
class Script final : public Input {
  public:
    explicit Script(std::vector<Piece> pieces) : pieces_(std::move(pieces)) {}
    void Next(Piece& piece, std::chrono::milliseconds) override {
        piece = next_ < pieces_.size() ? pieces_[next_++] : Piece{};
    }

  private:
    std::vector<Piece> pieces_;
    std::size_t next_ = 0;
};

Piece Of(const std::string& hex, Kind kind = Kind::Bytes, std::uint64_t unsure = 0) {
    const std::string bytes = cli::BytesOfText(hex);
    return {kind, {bytes.begin(), bytes.end()}, kind == Kind::Bytes ? "" : "why", 0, unsure};
}

// What the reader hands out until it is quiet, each in a word (Word).
std::vector<std::string> Read(std::vector<Piece> pieces) {
    Script input(std::move(pieces));
    MessageReader reader(input);
    std::vector<std::string> words;
    for (const Received* r = nullptr;
         (r = &reader.Next(std::chrono::milliseconds(0)))->kind != Received::Kind::Quiet;) {
        words.push_back(Word(*r));
    }
    return words;
}

TEST(MessageReader, HandsOutWholeMessagesAndNamedLossesNeverAMessageThatMaySpanOne) {
    struct Case {
        std::vector<Piece> pieces;
        std::vector<std::string> read;
    };
    const Case cases[] = {
        {{Of("F0 01 F7 F0 02 03"), Of("04 F7 F0 90 F0 05 F7 F0")}, // two pieces; a cut
         {"F0 01 F7", "more", "F0 02 03 04 F7", "cut by 90", "F0 05 F7", "more"}},
        {{Of("F0 01", Kind::Lost), Of("F0 02 F7", Kind::Broken), Of("F0 03", Kind::Xrun),
          Of("F0 04 F7", Kind::Closed)},
         {"lost, cut: why", "F0 02 F7", "broken: why", "xrun, cut: why", "F0 04 F7",
          "closed: why"}},
        // A card's overrun: after the loss, 6 bytes may still have come
        // before it. The messages that end among them, and the one in
        // progress where they end, may span it.
        {{Of("F0 01 F7 F0 02"), Of("", Kind::Lost, 6), Of("03 F7 F0 04 F7 F0"),
          Of("05 F7 F0 06 F7")},
         {"F0 01 F7", "more", "lost, cut: why", "unsure F0 04 F7", "more", "unsure F0 05 F7",
          "F0 06 F7", "more"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.read, Read(c.pieces));
    }
}

} // namespace
