// Putting System Exclusive messages together from a stream of MIDI bytes
// that comes in pieces of any size.
//
// A message runs from F0 to F7. Real-time bytes (F8 to FF) may come anywhere,
// inside a message too, and are skipped without breaking it. Any other status
// byte before the F7 (a note, another F0) cuts the message: it is handed out
// as cut, never as whole, and an F0 that cut it begins the next one. Bytes
// outside a message (other MIDI, a stray F7) are ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace midi_ports {

class SysexAssembler {
  public:
    enum class Result {
        More,     // the bytes are used up; no message ended in them
        Complete, // Message() holds a whole message, F0 to F7
        Cut,      // Message() holds the start of a message that was cut
    };

    // Messages longer than this are cut when they reach it, so a stream
    // that never sends its F7 cannot take all memory.
    static constexpr std::size_t kLongest = std::size_t{1} << 20;

    // Takes bytes from `bytes`, beginning at `at`, until a message ends or
    // the bytes run out, and moves `at` past what it took. A status byte that
    // cuts a message is not taken, so the next call sees it again.
    Result Take(std::span<const std::uint8_t> bytes, std::size_t& at);

    // Ends the message in progress as cut (input was lost, or the input
    // ended). False, and nothing changes, when no message is in progress.
    bool Cut();

    // The message that the last Take completed or cut, or that Cut cut.
    std::span<const std::uint8_t> Message() const { return message_; }

    // The status byte that cut the last cut message; 0 when Cut cut it or it
    // grew past kLongest.
    std::uint8_t CutBy() const { return cutBy_; }

    bool InMessage() const { return inMessage_; }

    // The number of bytes of System Exclusive messages taken so far, those
    // of a message's rest after a cut for its length included; it grows
    // whenever System Exclusive data arrives.
    std::uint64_t Taken() const { return taken_; }

  private:
    std::vector<std::uint8_t> message_;
    bool inMessage_ = false;
    bool skipping_ = false; // the rest of a message cut for its length is coming
    std::uint8_t cutBy_ = 0;
    std::uint64_t taken_ = 0;
};

} // namespace midi_ports
