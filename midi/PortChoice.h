// Which output port a user's PORT names, and the texts that say why none
// or several do.
//
// PORT picks the one port whose full name (prefix included) contains it,
// with the letters A to Z compared in either case. When several contain it,
// one that it names exactly wins: the whole name, or the name after the
// back end's prefix ("midi-monitor:input" for "jack:midi-monitor:input").
// Names are UTF-8; bytes other than ASCII letters compare as they are.
#pragma once

#include "MidiPorts.h"

#include <string>
#include <string_view>
#include <vector>

namespace midi_ports {

struct PortChoice {
    std::string name; // the chosen port's full name, or empty
    // When no port was chosen: what is wrong, then the ports or back ends it
    // names, one to a line, each indented by two spaces. Lines hold no line
    // ends of their own, so the names in them can be escaped for output.
    std::vector<std::string> error;
};

// Chooses the port `wanted` names among `ports`. The error for no match lists
// the ports there are and the back ends that could not be reached; the one
// for several matches lists those that match.
PortChoice ChoosePort(const PortList& ports, std::string_view wanted);

// "there are no MIDI output ports", followed by the back ends that could
// not be reached, one to a line.
std::vector<std::string> DescribeNoPorts(const PortList& ports);

} // namespace midi_ports
