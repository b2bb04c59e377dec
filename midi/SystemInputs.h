// The MIDI sources of this platform behind one Inputs: JACK, then the ALSA
// sequencer on Linux; WinMM on Windows. Creating them connects to nothing:
// each back end reaches its server or device only when asked to list or
// open.
#pragma once

#include "MidiInputs.h"

#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace midi_ports {

// Several back ends as one: lists them in turn, and opens a source with the
// back end whose prefix its name has.
class CombinedInputs final : public Inputs {
  public:
    using BackEnd = std::pair<std::string_view, std::unique_ptr<Inputs>>; // prefix, back end

    explicit CombinedInputs(std::vector<BackEnd> backEnds) : backEnds_(std::move(backEnds)) {}

    void List(PortList& list) override;
    OpenedInput Open(const Port& port) override;

  private:
    std::vector<BackEnd> backEnds_;
};

std::unique_ptr<Inputs> MakeSystemInputs();

} // namespace midi_ports
