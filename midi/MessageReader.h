// Whole System Exclusive messages and named losses from an Input.
//
// The reader puts the bytes of an input's pieces together
// (SysexAssembler.h) and says, in its place among them, what the back end
// says followed them: a loss, an xrun, a message broken off, the end. A
// message is handed out whole only when none of its bytes may lie on the
// far side of a loss. Where a back end cannot tell exactly where a loss fell
// (Piece::unsure: a card's overrun behind the ALSA sequencer), a message
// that ends among the bytes that may still have come before the loss, or
// that is in progress where they end, is handed out as Unsure, never as
// whole.
#pragma once

#include "MidiInputs.h"
#include "SysexAssembler.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace midi_ports {

// What a MessageReader hands out in one call.
struct Received {
    enum class Kind {
        Message, // `message` is a whole message, F0 to F7
        Unsure,  // a message came whole, but may span a loss reported before it
        Cut,     // a message was cut: by the status byte `cutBy`, or (0) for its length
        More,    // bytes came, and no message ended in them
        Broken,  // the back end says a message ended unfinished (`what`)
        Lost,    // input was lost (`what`, `lostBytes` where counted)
        Xrun,    // an xrun struck: what came meanwhile may be lost
        Closed,  // the source can send no more (`what`)
        Quiet,   // nothing (more) came within the wait
    };
    Kind kind = Kind::Quiet;
    std::span<const std::uint8_t> message; // for Message and Unsure, up to the next call
    std::uint8_t cutBy = 0;
    std::string what;
    std::uint64_t lostBytes = 0;
    // For Broken, Lost and Xrun: a message was in progress, and is cut.
    bool cut = false;
};

class MessageReader {
  public:
    explicit MessageReader(Input& input) : input_(input) {}

    // The next message or event: from the piece at hand, or, once that is
    // used up, from the input, which waits up to `wait`.
    const Received& Next(std::chrono::milliseconds wait);

    // Stops taking input (Input::Stop): what the back end still holds comes
    // out of the next calls, which no longer wait.
    void Stop() { input_.Stop(); }

    // Ends the message in progress as cut; false when none is.
    bool Cut();

    // The bytes of System Exclusive messages taken so far (SysexAssembler).
    std::uint64_t Taken() const { return assembler_.Taken(); }

    // The pieces taken from the input so far.
    std::uint64_t Pieces() const { return pieces_; }

    // As Input::Unserved.
    std::optional<std::string> Unserved(std::chrono::milliseconds quiet) {
        return input_.Unserved(quiet);
    }

  private:
    bool FromBytes();
    void AfterBytes();

    Input& input_;
    SysexAssembler assembler_;
    Piece piece_;
    std::size_t at_ = 0;    // in piece_.bytes
    bool pieceDone_ = true; // piece_ is used up
    std::uint64_t pieces_ = 0;
    Received received_;
    // Bytes still to come that may have come before a reported loss, and
    // whether the message in progress began among such bytes and reaches
    // past them.
    std::uint64_t unsure_ = 0;
    bool spansLoss_ = false;
};

} // namespace midi_ports
