// The platform's input back ends put together; see SystemInputs.h.
#include "SystemInputs.h"

#ifdef _WIN32
#include "WinmmInput.h"
#include "WinmmOutput.h"
#else
#include "AlsaInput.h"
#include "AlsaOutput.h"
#include "JackInput.h"
#include "JackOutput.h"
#endif

namespace midi_ports {

void CombinedInputs::List(PortList& list) {
    for (const auto& [prefix, inputs] : backEnds_) {
        inputs->List(list);
    }
}

OpenedInput CombinedInputs::Open(const Port& port) {
    for (const auto& [prefix, inputs] : backEnds_) {
        if (port.name.starts_with(prefix)) {
            return inputs->Open(port);
        }
    }
    return {nullptr, Quoted(port.name) + " names no MIDI back end"};
}

std::unique_ptr<Inputs> MakeSystemInputs() {
    std::vector<CombinedInputs::BackEnd> backEnds;
#ifdef _WIN32
    backEnds.emplace_back(kWinmmPrefix, MakeWinmmInputs());
#else
    backEnds.emplace_back(kJackPrefix, MakeJackInputs());
    backEnds.emplace_back(kAlsaPrefix, MakeAlsaInputs());
#endif
    return std::make_unique<CombinedInputs>(std::move(backEnds));
}

} // namespace midi_ports
