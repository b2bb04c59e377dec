// Messages and losses from an input; see MessageReader.h.
#include "MessageReader.h"

#include <algorithm>

namespace midi_ports {

const Received& MessageReader::Next(std::chrono::milliseconds wait) {
    received_ = Received{};
    if (pieceDone_) {
        input_.Next(piece_, wait);
        ++pieces_;
        at_ = 0;
        pieceDone_ = false;
    }
    while (at_ < piece_.bytes.size()) {
        if (FromBytes()) {
            return received_;
        }
    }
    pieceDone_ = true;
    AfterBytes();
    return received_;
}

bool MessageReader::Cut() {
    spansLoss_ = false;
    return assembler_.Cut();
}

// Takes the piece's bytes up to where a message ends; true, with received_
// set, when one did.
bool MessageReader::FromBytes() {
    const std::span<const std::uint8_t> bytes = piece_.bytes;
    // Bytes that may precede a loss reported before them are taken apart
    // from those after them, so that the message in progress where they end
    // is known.
    const bool unsure = unsure_ > 0;
    const std::size_t from = at_;
    const std::size_t end =
        unsure
            ? from + static_cast<std::size_t>(std::min<std::uint64_t>(unsure_, bytes.size() - from))
            : bytes.size();
    const SysexAssembler::Result result = assembler_.Take(bytes.first(end), at_);
    if (unsure) {
        unsure_ -= at_ - from;
        spansLoss_ = spansLoss_ || (unsure_ == 0 && assembler_.InMessage());
    }
    switch (result) {
    case SysexAssembler::Result::Complete:
        received_.kind = unsure || spansLoss_ ? Received::Kind::Unsure : Received::Kind::Message;
        received_.message = assembler_.Message();
        spansLoss_ = false;
        return true;
    case SysexAssembler::Result::Cut:
        received_.kind = Received::Kind::Cut;
        received_.cutBy = assembler_.CutBy();
        spansLoss_ = false;
        return true;
    case SysexAssembler::Result::More:
        break;
    }
    return false;
}

// Says what followed the piece's bytes.
void MessageReader::AfterBytes() {
    received_.what = piece_.what;
    switch (piece_.kind) {
    case Piece::Kind::Bytes:
        received_.kind = Received::Kind::More;
        break;
    case Piece::Kind::Broken:
        received_.kind = Received::Kind::Broken;
        received_.cut = assembler_.Cut();
        break;
    case Piece::Kind::Lost:
        // The loss fell before the next message, or within the one in
        // progress, which it cuts.
        received_.kind = Received::Kind::Lost;
        received_.lostBytes = piece_.lostBytes;
        received_.cut = assembler_.Cut();
        unsure_ = std::max(unsure_, piece_.unsure);
        break;
    case Piece::Kind::Xrun:
        received_.kind = Received::Kind::Xrun;
        received_.cut = assembler_.Cut();
        break;
    case Piece::Kind::Closed:
        received_.kind = Received::Kind::Closed;
        break;
    case Piece::Kind::Quiet:
        received_.kind = Received::Kind::Quiet;
        break;
    }
    spansLoss_ = spansLoss_ && assembler_.InMessage();
}

} // namespace midi_ports
