// The client of the ALSA sequencer; see AlsaClient.h.
#include "AlsaClient.h"

#include "PlatformLibrary.h"

#include <algorithm>
#include <cerrno>

namespace midi_ports {

namespace {

// The names of SequencerLibrary's functions, in its order.
constexpr const char* kNames[] = {
#define VANTREL_ALSA_NAME(member, function) #function,
    VANTREL_ALSA_SEQUENCER_FUNCTIONS(VANTREL_ALSA_NAME)
#undef VANTREL_ALSA_NAME
};

// The capabilities a port of another client needs for each direction, and
// those of this client's own port.
unsigned TheirCapability(AlsaDirection direction) {
    return direction == AlsaDirection::Output ? SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE
                                              : SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
}
unsigned OurCapability(AlsaDirection direction) {
    // A source's events are only for this client: its port is writable by
    // the sequencer, but open to no subscriptions of others.
    return direction == AlsaDirection::Output ? SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ
                                              : SND_SEQ_PORT_CAP_WRITE;
}

} // namespace

bool LoadSequencerLibrary(SequencerLibrary& library, std::string& error) {
    return PlatformLibrary::Fill("libasound.so.2", kNames, library, error);
}

AlsaClient::~AlsaClient() {
    if (sequencer_ != nullptr) {
        library_.close(sequencer_);
    }
}

std::string AlsaClient::Because(const std::string& what, int error) const {
    return midi_ports::Because(library_.strerror, what, error);
}

// Loads the library and opens the sequencer on first use. False when the
// device is absent (error_ empty) or either cannot be opened (error_ says
// why).
bool AlsaClient::Open() {
    if (tried_) {
        return sequencer_ != nullptr;
    }
    tried_ = true;
    if (!system_.sequencerPresent()) {
        return false;
    }
    if (!load_(library_, error_)) {
        return false;
    }
    library_.setErrorHandler(QuietAlsaErrors);
    if (const int result =
            library_.open(&sequencer_, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
        result < 0) {
        sequencer_ = nullptr;
        error_ = Because("cannot open the sequencer", result);
        return false;
    }
    library_.setClientName(sequencer_, "vantrel-convert");
    return true;
}

// Every MIDI port of another client that has the direction's capabilities
// and is not hidden, in the sequencer's order.
std::vector<AlsaClient::Found> AlsaClient::Walk(AlsaDirection direction) {
    std::vector<Found> found;
    const SequencerLibrary& lib = library_;
    Held<snd_seq_client_info_t> clientInfo(lib.clientInfoMalloc, lib.clientInfoFree);
    Held<snd_seq_port_info_t> portInfo(lib.portInfoMalloc, lib.portInfoFree);
    snd_seq_client_info_t* const client = clientInfo.p;
    snd_seq_port_info_t* const port = portInfo.p;
    if (client == nullptr || port == nullptr) {
        return found;
    }
    const unsigned capability = TheirCapability(direction);
    const int self = lib.clientId(sequencer_);
    lib.clientInfoSetClient(client, -1);
    while (lib.queryNextClient(sequencer_, client) >= 0) {
        const int number = lib.clientInfoGetClient(client);
        if (number == self) {
            continue;
        }
        lib.portInfoSetClient(port, number);
        lib.portInfoSetPort(port, -1);
        while (lib.queryNextPort(sequencer_, port) >= 0) {
            const unsigned has = lib.portInfoGetCapability(port);
            if ((has & capability) != capability || (has & SND_SEQ_PORT_CAP_NO_EXPORT) != 0 ||
                (lib.portInfoGetType(port) & SND_SEQ_PORT_TYPE_MIDI_GENERIC) == 0) {
                continue;
            }
            const snd_seq_addr_t address = *lib.portInfoGetAddr(port);
            // The kernel's bridge to a card's raw MIDI devices gives its
            // ports the card's client and the type of hardware.
            const bool bridge = (lib.portInfoGetType(port) & SND_SEQ_PORT_TYPE_HARDWARE) != 0;
            found.push_back({{std::string(kAlsaPrefix) + lib.clientInfoGetName(client) + ":" +
                                  lib.portInfoGetName(port),
                              std::to_string(address.client) + ":" + std::to_string(address.port)},
                             address,
                             bridge ? lib.clientInfoGetCard(client) : -1});
        }
    }
    return found;
}

void AlsaClient::List(AlsaDirection direction, PortList& list) {
    if (Open()) {
        for (Found& found : Walk(direction)) {
            list.ports.push_back(std::move(found.port));
        }
    } else if (!error_.empty()) {
        list.unreachable.push_back("alsa: " + error_);
    }
}

AlsaConnection AlsaClient::Connect(AlsaDirection direction, const Port& wanted) {
    if (!Open()) {
        return {.error = error_.empty() ? "there is no ALSA sequencer (no /dev/snd/seq)" : error_};
    }
    for (Found& found : Walk(direction)) {
        if (found.port.name != wanted.name || found.port.address != wanted.address) {
            continue;
        }
        if (direction == AlsaDirection::Input) {
            // Room for long messages: larger failures show as reported losses.
            library_.setInputBufferSize(sequencer_, kAlsaInputBufferBytes);
            library_.setClientPoolInput(sequencer_, kAlsaInputPoolCells);
        }
        const int port = library_.createSimplePort(
            sequencer_, direction == AlsaDirection::Output ? "out" : "in", OurCapability(direction),
            SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        if (port < 0) {
            return {.error = Because("cannot create an ALSA sequencer port", port)};
        }
        const int client = found.address.client;
        const int number = found.address.port;
        const int result = direction == AlsaDirection::Output
                               ? library_.connectTo(sequencer_, port, client, number)
                               : library_.connectFrom(sequencer_, port, client, number);
        if (result < 0) {
            return {.error = Because((direction == AlsaDirection::Output ? "cannot connect to "
                                                                         : "cannot subscribe to ") +
                                         Quoted(found.port.name),
                                     result)};
        }
        const snd_seq_addr_t self{static_cast<unsigned char>(library_.clientId(sequencer_)),
                                  static_cast<unsigned char>(port)};
        return {{}, self, found.address, found.card};
    }
    return {.error = "there is no ALSA port " + Quoted(ListLine(wanted))};
}

int AlsaClient::Wait(short events, std::chrono::milliseconds wait) {
    const int count = library_.pollDescriptorsCount(sequencer_, events);
    descriptors_.resize(static_cast<std::size_t>(std::max(count, 0)));
    const int filled = library_.pollDescriptors(sequencer_, descriptors_.data(),
                                                static_cast<unsigned>(descriptors_.size()), events);
    if (filled <= 0) {
        return filled < 0 ? filled : -EBADF;
    }
    return PollFor(system_, std::span(descriptors_).first(static_cast<std::size_t>(filled)), wait);
}

MidiBackEnds MakeAlsaSequencer(const AlsaSystem& system, SequencerLoader load,
                               std::chrono::milliseconds timeout) {
    const auto client = std::make_shared<AlsaClient>(system, load);
    return {MakeAlsaPorts(client, timeout), MakeAlsaInputs(client)};
}

} // namespace midi_ports
