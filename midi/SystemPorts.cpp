// The platform's back ends put together; see SystemPorts.h.
#include "SystemPorts.h"

#ifdef _WIN32
#include "WinmmDevices.h"
#else
#include "AlsaClient.h"
#include "JackClient.h"
#include "RawMidi.h"
#endif

namespace midi_ports {

MidiBackEnds Combine(std::vector<MidiBackEnds> backEnds) {
    std::vector<std::unique_ptr<Ports>> ports;
    std::vector<std::unique_ptr<Inputs>> inputs;
    for (MidiBackEnds& backEnd : backEnds) {
        ports.push_back(std::move(backEnd.ports));
        inputs.push_back(std::move(backEnd.inputs));
    }
    return {std::make_unique<Combined<Ports>>(std::move(ports)),
            std::make_unique<Combined<Inputs>>(std::move(inputs))};
}

MidiBackEnds MakeSystemBackEnds([[maybe_unused]] const BackEndHooks& hooks) {
    std::vector<MidiBackEnds> backEnds;
    std::function<bool()> stalled = [] { return false; };
#ifdef _WIN32
    backEnds.push_back(MakeWinmm());
#else
    // Both directions' JACK clients share one stop check and one stall.
    auto jack = std::make_shared<JackShared>();
    jack->stopRequested = hooks.stopRequested;
    stalled = [jack] { return jack->stalled.load(); };
    backEnds.push_back({MakeJackPorts(kDeliveryTimeout, LoadLibjack, jack),
                        MakeJackInputs(kJackInputQueueBytes, kDeliveryTimeout, LoadLibjack, jack)});
    backEnds.push_back(MakeAlsaSequencer());
    backEnds.push_back(MakeRawMidi());
#endif
    MidiBackEnds combined = Combine(std::move(backEnds));
    combined.stalled = std::move(stalled);
    return combined;
}

} // namespace midi_ports
