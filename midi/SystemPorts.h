// The MIDI back ends of this platform, for both directions: JACK, then the
// ALSA sequencer, then a card's raw MIDI on Linux; WinMM on Windows.
// Creating them connects to nothing and loads no library: each back end
// reaches its server or device only when asked to list or open.
#pragma once

#include "MidiInputs.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace midi_ports {

// Several back ends of one direction (Ports or Inputs) as one: lists them in
// turn, and opens a port with the back end that listed it. Names do not
// tell: the ALSA sequencer and raw MIDI both name their ports "alsa:...",
// and may give two ports one name.
template <class BackEnd> class Combined final : public BackEnd {
  public:
    using OpenedPort = decltype(std::declval<BackEnd&>().Open(std::declval<const Port&>()));

    explicit Combined(std::vector<std::unique_ptr<BackEnd>> backEnds)
        : backEnds_(std::move(backEnds)) {}

    // Appends each back end's ports in turn, noting which listed each. A
    // back end's text in list.unreachable that is there already is not
    // repeated: two back ends on one library fail alike.
    void List(PortList& list) override {
        listed_.clear();
        for (std::size_t i = 0; i < backEnds_.size(); ++i) {
            PortList own;
            backEnds_[i]->List(own);
            for (Port& port : own.ports) {
                listed_.push_back({port.name, port.address, i});
                list.ports.push_back(std::move(port));
            }
            for (std::string& text : own.unreachable) {
                if (std::find(list.unreachable.begin(), list.unreachable.end(), text) ==
                    list.unreachable.end()) {
                    list.unreachable.push_back(std::move(text));
                }
            }
            list.late = list.late || own.late;
        }
    }

    // Opens `port` (name and address as List gave them) with the back end
    // that listed it, listing first when the last listing did not have it.
    OpenedPort Open(const Port& port) override {
        const auto lister = [&]() -> BackEnd* {
            for (const Listed& listed : listed_) {
                if (listed.name == port.name && listed.address == port.address) {
                    return backEnds_[listed.backEnd].get();
                }
            }
            return nullptr;
        };
        BackEnd* backEnd = lister();
        if (backEnd == nullptr) {
            PortList list;
            List(list);
            backEnd = lister();
        }
        if (backEnd == nullptr) {
            return {nullptr, "no MIDI back end lists " + Quoted(ListLine(port))};
        }
        return backEnd->Open(port);
    }

  private:
    struct Listed {
        std::string name;
        std::string address;
        std::size_t backEnd;
    };

    std::vector<std::unique_ptr<BackEnd>> backEnds_;
    std::vector<Listed> listed_; // the ports of the last listing
};

// What the program tells the back ends.
struct BackEndHooks {
    // Whether a stop has been requested (Ctrl-C, SIGTERM): a back end's
    // wait for its server then ends soon after. Null: waits end only at
    // their deadlines.
    bool (*stopRequested)() = nullptr;
};

// The output ports and the sources of `backEnds`, each direction as one
// Combined, in their order.
MidiBackEnds Combine(std::vector<MidiBackEnds> backEnds);

// The platform's back ends, with `stalled` set.
MidiBackEnds MakeSystemBackEnds(const BackEndHooks& hooks);

} // namespace midi_ports
