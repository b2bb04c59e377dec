// The interface through which vantrel-convert hears a MIDI source: list the
// sources, open one by name, and take what it sends, piece by piece.
//
// Each back end (JACK, the ALSA sequencer, a card's raw MIDI, WinMM)
// implements Inputs over its platform's own MIDI interface; SystemPorts.h
// puts the back ends of the platform together; tests put in fakes. Sources
// are named as output ports are (MidiPorts.h): the back end's prefix, then
// its own name for the port, "jack:system:midi_capture_1" or "alsa:Midi
// Through:Midi Through Port-0".
//
// An Input hands out the source's MIDI bytes in the order they came, as
// pieces of any size: a System Exclusive message may come whole, in chunks
// (the kernel's raw MIDI bridges, WinMM's buffers), or several to a piece.
// Putting messages together again, and keeping back those that may span a
// loss, is MessageReader's work (MessageReader.h). What a back end cannot
// hand on (its queue overflowed, the server dropped events) it says
// in its place among the bytes, so nothing is lost silently.
//
// Errors are texts for the user in the tool's own words. Nothing here throws.
#pragma once

#include "MidiPorts.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace midi_ports {

// What an Input hands out in one call: the bytes that came, then what
// happened after them.
struct Piece {
    enum class Kind {
        Bytes,  // only the bytes
        Broken, // the back end says the message in progress ends here unfinished
        Lost,   // input was lost after the bytes; a message in progress is cut
        Xrun,   // an xrun struck after the bytes: what came meanwhile may be lost
        Quiet,  // nothing (more) came within the wait
        Closed, // the source can send no more: it went away, or the server did
    };
    Kind kind = Kind::Quiet;
    std::vector<std::uint8_t> bytes;
    std::string what; // for Broken, Lost and Closed: what happened, for the user
    // For Lost, where the back end counts them (a raw MIDI device, a card's
    // sequencer port): the bytes it lost; 0 when it cannot tell.
    std::uint64_t lostBytes = 0;
    // For Lost, where the back end cannot tell exactly where the loss fell:
    // how many of the bytes that follow may still have come before it. A
    // message that ends among them, or that is in progress where they end,
    // may span the loss, and MessageReader never hands it out as whole.
    std::uint64_t unsure = 0;
};

// An open source.
class Input {
  public:
    virtual ~Input() = default;

    // Waits up to `wait` for input and replaces `piece` with what came:
    // bytes as soon as there are any, a loss or the end where they happened,
    // or Quiet when nothing came in time. Once Closed, always Closed.
    virtual void Next(Piece& piece, std::chrono::milliseconds wait) = 0;

    // Stops taking input. Bytes the back end still holds (WinMM's partly
    // filled buffers) come out of the following calls of Next, which then
    // no longer wait.
    virtual void Stop() {}

    // Called when nothing came for a quiet time of `quiet`: why, in the
    // tool's words, when the back end can tell that its server ran nothing
    // for most of that time (a frozen JACK server), rather than the source
    // sending nothing. The input is then given up: closing it does not wait
    // for that server. Back ends without a server of their own say nothing.
    virtual std::optional<std::string> Unserved(std::chrono::milliseconds) { return std::nullopt; }
};

struct OpenedInput {
    std::unique_ptr<Input> input; // null when the source could not be opened
    std::string error;            // why not, when input is null
};

// The sources of one back end, or of several.
class Inputs : public PortLister {
  public:
    // Connects to the source of that full name (as List gives it) and starts
    // taking its input, from it alone. One source at a time: the Input must
    // be destroyed before its Inputs.
    virtual OpenedInput Open(const Port& port) = 0;
};

// The output ports and the sources of one back end, or of several.
struct MidiBackEnds {
    std::unique_ptr<Ports> ports;
    std::unique_ptr<Inputs> inputs;
    // True once a back end has given up on a platform call that never
    // returned (a frozen JACK server); it still answers once the ports and
    // the inputs are gone. The program must then end with _exit once its
    // output is flushed: that library's threads and destructors may block.
    // Null where no back end can stall.
    std::function<bool()> stalled{};
};

} // namespace midi_ports
