// The platform's back ends put together; see SystemPorts.h.
#include "SystemPorts.h"

#ifdef _WIN32
#include "WinmmDevices.h"
#else
#include "AlsaClient.h"
#include "JackClient.h"
#endif

namespace midi_ports {

MidiBackEnds MakeSystemBackEnds([[maybe_unused]] const BackEndHooks& hooks) {
    std::vector<Combined<Ports>::Entry> ports;
    std::vector<Combined<Inputs>::Entry> inputs;
    std::function<bool()> stalled = [] { return false; };
#ifdef _WIN32
    MidiBackEnds winmm = MakeWinmm();
    ports.emplace_back(kWinmmPrefix, std::move(winmm.ports));
    inputs.emplace_back(kWinmmPrefix, std::move(winmm.inputs));
#else
    // Both directions' JACK clients share one stop check and one stall.
    auto jack = std::make_shared<JackShared>();
    jack->stopRequested = hooks.stopRequested;
    stalled = [jack] { return jack->stalled.load(); };
    ports.emplace_back(kJackPrefix, MakeJackPorts(kDeliveryTimeout, LoadLibjack, jack));
    inputs.emplace_back(kJackPrefix,
                        MakeJackInputs(kJackInputQueueBytes, kDeliveryTimeout, LoadLibjack, jack));
    MidiBackEnds alsa = MakeAlsa();
    ports.emplace_back(kAlsaPrefix, std::move(alsa.ports));
    inputs.emplace_back(kAlsaPrefix, std::move(alsa.inputs));
#endif
    return {std::make_unique<Combined<Ports>>(std::move(ports)),
            std::make_unique<Combined<Inputs>>(std::move(inputs)), std::move(stalled)};
}

} // namespace midi_ports
