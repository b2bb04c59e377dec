// The platform's back ends put together; see SystemPorts.h.
#include "SystemPorts.h"

#ifdef _WIN32
#include "WinmmOutput.h"
#else
#include "AlsaOutput.h"
#include "JackOutput.h"
#endif

namespace midi_ports {

void CombinedPorts::List(PortList& list) {
    for (const auto& [prefix, ports] : backEnds_) {
        ports->List(list);
    }
}

Opened CombinedPorts::Open(const Port& port) {
    for (const auto& [prefix, ports] : backEnds_) {
        if (port.name.starts_with(prefix)) {
            return ports->Open(port);
        }
    }
    return {nullptr, Quoted(port.name) + " names no MIDI back end"};
}

std::unique_ptr<Ports> MakeSystemPorts() {
    std::vector<CombinedPorts::BackEnd> backEnds;
#ifdef _WIN32
    backEnds.emplace_back(kWinmmPrefix, MakeWinmmPorts());
#else
    backEnds.emplace_back(kJackPrefix, MakeJackPorts());
    backEnds.emplace_back(kAlsaPrefix, MakeAlsaPorts());
#endif
    return std::make_unique<CombinedPorts>(std::move(backEnds));
}

bool Stalled() {
#ifdef _WIN32
    return false;
#else
    return JackStalled();
#endif
}

} // namespace midi_ports
