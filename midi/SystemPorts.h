// The MIDI back ends of this platform behind one Ports: JACK, then the ALSA
// sequencer on Linux; WinMM on Windows. Creating them connects to nothing:
// each back end reaches its server or device only when asked to list or
// open.
#pragma once

#include "MidiPorts.h"

#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace midi_ports {

// Several back ends as one: lists them in turn, and opens a port with the
// back end whose prefix its name has.
class CombinedPorts final : public Ports {
  public:
    using BackEnd = std::pair<std::string_view, std::unique_ptr<Ports>>; // prefix, back end

    explicit CombinedPorts(std::vector<BackEnd> backEnds) : backEnds_(std::move(backEnds)) {}

    void List(PortList& list) override;
    Opened Open(const Port& port) override;

  private:
    std::vector<BackEnd> backEnds_;
};

std::unique_ptr<Ports> MakeSystemPorts();

// True once a back end has given up on a platform call that never returned
// (a frozen JACK server). The program must then end with _exit once its
// output is flushed: that library's threads and destructors may block.
bool Stalled();

} // namespace midi_ports
