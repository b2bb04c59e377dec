// The MIDI back ends of this platform, for both directions: JACK, then the
// ALSA sequencer on Linux; WinMM on Windows. Creating them connects to
// nothing and loads no library: each back end reaches its server or device
// only when asked to list or open.
#pragma once

#include "MidiInputs.h"

#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace midi_ports {

// Several back ends of one direction (Ports or Inputs) as one: lists them in
// turn, and opens a port with the back end whose prefix its name has.
template <class BackEnd> class Combined final : public BackEnd {
  public:
    using Entry = std::pair<std::string_view, std::unique_ptr<BackEnd>>; // prefix, back end
    using OpenedPort = decltype(std::declval<BackEnd&>().Open(std::declval<const Port&>()));

    explicit Combined(std::vector<Entry> backEnds) : backEnds_(std::move(backEnds)) {}

    void List(PortList& list) override {
        for (const auto& [prefix, backEnd] : backEnds_) {
            backEnd->List(list);
        }
    }

    OpenedPort Open(const Port& port) override {
        for (const auto& [prefix, backEnd] : backEnds_) {
            if (port.name.starts_with(prefix)) {
                return backEnd->Open(port);
            }
        }
        return {nullptr, Quoted(port.name) + " names no MIDI back end"};
    }

  private:
    std::vector<Entry> backEnds_;
};

// What the program tells the back ends.
struct BackEndHooks {
    // Whether a stop has been requested (Ctrl-C, SIGTERM): a back end's
    // wait for its server then ends soon after. Null: waits end only at
    // their deadlines.
    bool (*stopRequested)() = nullptr;
};

// The platform's back ends, with `stalled` set.
MidiBackEnds MakeSystemBackEnds(const BackEndHooks& hooks);

} // namespace midi_ports
