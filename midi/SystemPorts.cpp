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

MidiBackEnds MakeSystemBackEnds([[maybe_unused]] const BackEndHooks& hooks) {
    std::vector<std::unique_ptr<Ports>> ports;
    std::vector<std::unique_ptr<Inputs>> inputs;
    std::function<bool()> stalled = [] { return false; };
#ifdef _WIN32
    MidiBackEnds winmm = MakeWinmm();
    ports.push_back(std::move(winmm.ports));
    inputs.push_back(std::move(winmm.inputs));
#else
    // Both directions' JACK clients share one stop check and one stall.
    auto jack = std::make_shared<JackShared>();
    jack->stopRequested = hooks.stopRequested;
    stalled = [jack] { return jack->stalled.load(); };
    ports.push_back(MakeJackPorts(kDeliveryTimeout, LoadLibjack, jack));
    inputs.push_back(MakeJackInputs(kJackInputQueueBytes, kDeliveryTimeout, LoadLibjack, jack));
    MidiBackEnds sequencer = MakeAlsaSequencer();
    MidiBackEnds raw = MakeRawMidi();
    for (MidiBackEnds* alsa : {&sequencer, &raw}) {
        ports.push_back(std::move(alsa->ports));
        inputs.push_back(std::move(alsa->inputs));
    }
#endif
    return {std::make_unique<Combined<Ports>>(std::move(ports)),
            std::make_unique<Combined<Inputs>>(std::move(inputs)), std::move(stalled)};
}

} // namespace midi_ports
