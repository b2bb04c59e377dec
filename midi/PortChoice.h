// Which output port a user's PORT names, and the texts that say why none
// or several do.
//
// PORT is tried in turn as each of these, and the first that names any
// port decides: one port is chosen, several are an error.
//   1. A whole line of --list-ports, address included
//      ("alsa:Midi Through:Midi Through Port-0  [14:0]").
//   2. An address: "alsa:14:0" or "14:0" for the ALSA sequencer's
//      client:port, "alsa:hw:1,0,0" or "hw:1,0,0" for a card's raw MIDI
//      subdevice (the card by its number or its ID), "winmm:2" for a WinMM
//      device number. The prefix, when given, must be the port's.
//   3. The whole name, with or without the back end's prefix
//      ("midi-monitor:input" for "jack:midi-monitor:input"), letter case
//      included.
//   4. The same with the letters A to Z compared in either case.
//   5. A part of the full name (prefix included), letters in either case.
// By name (3 to 5), a raw MIDI subdevice is chosen only where no other port
// matches: the sequencer's port of the same device has the same name.
// Names are UTF-8; bytes other than ASCII letters compare as they are.
#pragma once

#include "MidiPorts.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace midi_ports {

// What kind of port a list holds, for the texts: output ports for --send,
// sources for --receive.
struct PortKind {
    std::string_view one;  // "MIDI output port"
    std::string_view many; // "MIDI output ports"
};
inline constexpr PortKind kOutputPorts{"MIDI output port", "MIDI output ports"};
inline constexpr PortKind kSources{"MIDI source", "MIDI sources"};

struct PortChoice {
    std::optional<Port> port; // the chosen port, if one was
    // When no port was chosen: what is wrong, then the ports or back ends it
    // names, one to a line (as --list-ports shows them), each indented by
    // two spaces. Lines hold no line ends of their own, so the names in them
    // can be escaped for output.
    std::vector<std::string> error;
};

// Chooses the port `wanted` names among `ports`. The error for no match lists
// the ports there are and the back ends that could not be reached; the one
// for several matches lists those that match.
PortChoice ChoosePort(const PortList& ports, std::string_view wanted,
                      const PortKind& kind = kOutputPorts);

// "there are no MIDI output ports", followed by the back ends that could
// not be reached, one to a line.
std::vector<std::string> DescribeNoPorts(const PortList& ports,
                                         const PortKind& kind = kOutputPorts);

} // namespace midi_ports
