// The platform's back ends put together; see SystemPorts.h.
#include "SystemPorts.h"

#ifdef _WIN32
#include "WinmmDevices.h"
#else
#include "AlsaClient.h"
#include "JackClient.h"
#endif

namespace midi_ports {

MidiBackEnds MakeSystemBackEnds() {
    std::vector<Combined<Ports>::Entry> ports;
    std::vector<Combined<Inputs>::Entry> inputs;
#ifdef _WIN32
    MidiBackEnds winmm = MakeWinmm();
    ports.emplace_back(kWinmmPrefix, std::move(winmm.ports));
    inputs.emplace_back(kWinmmPrefix, std::move(winmm.inputs));
#else
    ports.emplace_back(kJackPrefix, MakeJackPorts());
    inputs.emplace_back(kJackPrefix, MakeJackInputs());
    MidiBackEnds alsa = MakeAlsa();
    ports.emplace_back(kAlsaPrefix, std::move(alsa.ports));
    inputs.emplace_back(kAlsaPrefix, std::move(alsa.inputs));
#endif
    return {std::make_unique<Combined<Ports>>(std::move(ports)),
            std::make_unique<Combined<Inputs>>(std::move(inputs))};
}

bool Stalled() {
#ifdef _WIN32
    return false;
#else
    return JackStalled();
#endif
}

} // namespace midi_ports
