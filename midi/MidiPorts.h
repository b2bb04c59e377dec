// The one interface through which vantrel-convert reaches MIDI output ports:
// list the ports, open one by name, send whole messages to it, and finish.
//
// Each back end (JACK, the ALSA sequencer, a card's raw MIDI, WinMM)
// implements Ports over its platform's own MIDI interface; SystemPorts.h puts
// the back ends of the platform together; tests put in a recording fake.
// Ports are named with the back end's prefix, "jack:midi-monitor:input",
// "alsa:Midi Through:Midi Through Port-0" or "winmm:Microsoft GS Wavetable
// Synth", so one list can hold the ports of several back ends; ALSA and WinMM
// ports also carry an address, since two devices of one make have the same
// name. A card's raw MIDI subdevice is an ALSA port too,
// "alsa:CARD:SUBDEVICE" at "hw:1,0,0": names do not tell the back ends apart,
// what listed a port does.
//
// The pace at which messages go out is not the back ends' business: the
// tool spaces them (cli/Pacer.h), whatever back end carries them.
//
// Errors are texts for the user in the tool's own words, without the program
// name: "no MIDI output device", not a number. Back ends keep their platform
// libraries quiet (error handlers set), so nothing else reaches the user.
// Nothing here throws.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace midi_ports {

// How long a back end may go without handing a message on before the send
// counts as failed. A System Exclusive message of 137 bytes takes 44 ms on a
// MIDI cable (3,125 bytes a second), so this is a deadline for a stuck
// driver or server, not for a slow one.
inline constexpr std::chrono::milliseconds kDeliveryTimeout{5000};

// A MIDI 1.0 cable carries 31,250 baud, ten bits to a byte (a start bit,
// eight data bits, a stop bit): 3,125 bytes a second, 320 microseconds a
// byte.
inline constexpr std::uint64_t kCableBytesPerSecond = 3125;

// How long `bytes` take at `bytesPerSecond` (above 0), rounded up to whole
// nanoseconds.
inline std::chrono::nanoseconds TimeAtRate(std::uint64_t bytes, std::uint64_t bytesPerSecond) {
    constexpr std::uint64_t kPerSecond = 1'000'000'000;
    const std::uint64_t whole = bytes / bytesPerSecond;
    const std::uint64_t rest = bytes % bytesPerSecond;
    return std::chrono::nanoseconds(whole * kPerSecond +
                                    (rest * kPerSecond + bytesPerSecond - 1) / bytesPerSecond);
}

// A name in double quotes, as errors show names.
inline std::string Quoted(std::string_view name) {
    std::string quoted(1, '"');
    quoted += name;
    quoted += '"';
    return quoted;
}

// A failure that a back end notices on its own, after the Send it concerns
// has returned: the receiver went away, or an xrun struck while messages
// were in flight. Messages are numbered from 0 in the order of Send.
struct SendFailure {
    std::string what;      // "not delivered: the receiving port went away"
    std::size_t first = 0; // the first message concerned
    std::size_t last = 0;  // the last one, equal to `first` for one message
    // An xrun, after which OutputPort::Resume may take sending up again.
    bool resumable = false;
};

// An open output port. Messages go out in the order they are sent.
class OutputPort {
  public:
    virtual ~OutputPort() = default;

    // The longest message the back end carries whole, in bytes. The tool
    // sends no longer one: a back end may cut or drop it unseen (the ALSA
    // sequencer hands a card's port to a driver with a 4 KiB buffer).
    virtual std::size_t MaxMessageBytes() const = 0;

    // Hands one complete message (F0 ... F7) to the back end. It may return
    // before the message has left (JACK queues it for the next periods); it
    // waits, up to the deadline, when the back end cannot take more yet.
    virtual std::optional<std::string> Send(std::span<const std::uint8_t> message) = 0;

    // Returns once every message sent has been handed on by the back end, or
    // with an error when one is still pending at the deadline. Called once,
    // after the last Send.
    virtual std::optional<std::string> Finish() = 0;

    // The first failure noticed since the port was opened that no Send or
    // Finish has reported, or nothing. The tool asks before each read of
    // input and after Finish, so a failure ends the run before more input is
    // taken. Back ends that learn of every failure inside Send keep this.
    virtual std::optional<SendFailure> Trouble() { return std::nullopt; }

    // After a resumable failure from Trouble(): takes up sending again and
    // gives the first message not confirmed, from which every message is to
    // be sent again, in order (numbering goes on from there); nothing when
    // the back end cannot, and Trouble() then says why. Only JACK can tell
    // that delivery is in doubt and take it up again.
    virtual std::optional<std::size_t> Resume() { return std::nullopt; }

    // How many messages, from the first, are delivered for sure: the sender
    // need not keep them for Resume. Back ends that cannot resume confirm
    // every message handed on.
    virtual std::size_t Confirmed() const { return SIZE_MAX; }
};

// One output port as List gives it.
struct Port {
    std::string name; // full name, prefix included: "alsa:Midi Through:Midi Through Port-0"
    // Where the back end finds it, for ports whose names may repeat: the
    // ALSA sequencer's "client:port" ("14:0"), WinMM's device number from 0
    // ("2"), a card's raw MIDI subdevice "hw:1,0,0" (card, device,
    // subdevice). Empty for JACK, whose names are unique.
    std::string address;
    // Another address that chooses the port, not listed: a raw MIDI
    // subdevice's with the card's ID in place of its number ("hw:Gadget,0,0"),
    // which stays the same when the cards are numbered anew. (Not a string:
    // braces of two strings must still make a Port of name and address.)
    std::optional<std::string> alias{};
};

// The port's line in --list-ports: its name, then two spaces and its address
// in brackets when it has one: "alsa:Midi Through:Midi Through Port-0  [14:0]".
inline std::string ListLine(const Port& port) {
    return port.address.empty() ? port.name : port.name + "  [" + port.address + "]";
}

struct PortList {
    std::vector<Port> ports; // in the back ends' order
    // One text for each back end that could not be reached, naming it:
    // "jack: ...". A back end that does not apply here (ALSA without a
    // sequencer device) is left out quietly rather than listed.
    std::vector<std::string> unreachable;
    // A back end's server was there but missed its deadline (frozen, say).
    bool late = false;
};

struct Opened {
    std::unique_ptr<OutputPort> output; // null when the port could not be opened
    std::string error;                  // why not, when output is null
};

// What lists ports: the output ports of Ports, the sources of Inputs
// (MidiInputs.h).
class PortLister {
  public:
    virtual ~PortLister() = default;

    // Appends the ports there are now to `list`; a back end that cannot be
    // reached is named in list.unreachable.
    virtual void List(PortList& list) = 0;
};

// The output ports of one back end, or of several.
class Ports : public PortLister {
  public:
    // Opens a port as List gave it (its name, and its address where it has
    // one) for sending. One port at a time: the OutputPort must be destroyed
    // before its Ports.
    virtual Opened Open(const Port& port) = 0;
};

} // namespace midi_ports
