// The client of the ALSA sequencer; see AlsaClient.h.
#include "AlsaClient.h"

#include "PlatformLibrary.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <sstream>
#include <string_view>

namespace midi_ports {

namespace {

constexpr char kDevice[] = "/dev/snd/seq";

// The names of AlsaLibrary's functions, in its order.
constexpr const char* kNames[] = {
#define VANTREL_ALSA_NAME(member, function) #function,
    VANTREL_ALSA_FUNCTIONS(VANTREL_ALSA_NAME)
#undef VANTREL_ALSA_NAME
};

void Quiet(const char*, int, const char*, int, const char*, ...) {}

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

bool SequencerPresent() {
    return access(kDevice, F_OK) == 0;
}

bool CardsPresent() {
    DIR* const devices = opendir("/dev/snd");
    if (devices == nullptr) {
        return false;
    }
    bool found = false;
    while (const dirent* entry = readdir(devices)) {
        found = found || std::string_view(entry->d_name).starts_with("controlC");
    }
    closedir(devices);
    return found;
}

bool Load(AlsaLibrary& library, std::string& error) {
    return PlatformLibrary::Fill("libasound.so.2", kNames, library, error);
}

bool ReadText(const char* path, std::string& text) {
    const int file = ::open(path, O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        return false;
    }
    text.clear();
    char block[4096];
    ssize_t got = 0;
    while ((got = ::read(file, block, sizeof block)) > 0 || (got < 0 && errno == EINTR)) {
        text.append(block, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    }
    ::close(file);
    return got == 0;
}

} // namespace

std::map<std::string, std::string, std::less<>> RawMidiPart(const AlsaFunctions& system, int card,
                                                            int device, std::string_view part) {
    std::map<std::string, std::string, std::less<>> fields;
    std::string text;
    if (!system.readText(
            ("/proc/asound/card" + std::to_string(card) + "/midi" + std::to_string(device)).c_str(),
            text)) {
        return fields;
    }
    // A part is a line of its name, then lines "  Name : value", indented.
    std::istringstream lines(text);
    bool inPart = false;
    for (std::string line; std::getline(lines, line);) {
        const std::size_t colon = line.find(':');
        if (!line.starts_with(' ')) {
            inPart = line == part;
        } else if (inPart && colon != std::string::npos) {
            const auto trimmed = [&](std::size_t from, std::size_t to) {
                const std::size_t first = line.find_first_not_of(' ', from);
                const std::size_t last = line.find_last_not_of(' ', to - 1);
                return first < to ? line.substr(first, last + 1 - first) : std::string();
            };
            fields[trimmed(0, colon)] = trimmed(colon + 1, line.size());
        }
    }
    return fields;
}

const AlsaFunctions& RealAlsaFunctions() {
    static const AlsaFunctions functions = {SequencerPresent, CardsPresent, ::poll, Load, ReadText};
    return functions;
}

AlsaClient::~AlsaClient() {
    if (sequencer_ != nullptr) {
        library_.close(sequencer_);
    }
}

std::string AlsaClient::Because(const std::string& what, int error) const {
    return what + ": " + library_.strerror(error);
}

bool AlsaClient::Loaded() {
    if (!loadTried_) {
        loadTried_ = true;
        loaded_ = system_.load(library_, loadError_);
        if (loaded_) {
            library_.setErrorHandler(Quiet);
        }
    }
    return loaded_;
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
    if (!Loaded()) {
        error_ = loadError_;
        return false;
    }
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
    const AlsaLibrary& f = library_;
    Held<snd_seq_client_info_t> clientInfo(f.clientInfoMalloc, f.clientInfoFree);
    Held<snd_seq_port_info_t> portInfo(f.portInfoMalloc, f.portInfoFree);
    snd_seq_client_info_t* const client = clientInfo.p;
    snd_seq_port_info_t* const port = portInfo.p;
    if (client == nullptr || port == nullptr) {
        return found;
    }
    const unsigned capability = TheirCapability(direction);
    const int self = f.clientId(sequencer_);
    f.clientInfoSetClient(client, -1);
    while (f.queryNextClient(sequencer_, client) >= 0) {
        const int number = f.clientInfoGetClient(client);
        if (number == self) {
            continue;
        }
        f.portInfoSetClient(port, number);
        f.portInfoSetPort(port, -1);
        while (f.queryNextPort(sequencer_, port) >= 0) {
            const unsigned has = f.portInfoGetCapability(port);
            if ((has & capability) != capability || (has & SND_SEQ_PORT_CAP_NO_EXPORT) != 0 ||
                (f.portInfoGetType(port) & SND_SEQ_PORT_TYPE_MIDI_GENERIC) == 0) {
                continue;
            }
            const snd_seq_addr_t address = *f.portInfoGetAddr(port);
            // The kernel's bridge to a card's raw MIDI devices gives its
            // ports the card's client and the type of hardware.
            const bool bridge = (f.portInfoGetType(port) & SND_SEQ_PORT_TYPE_HARDWARE) != 0;
            found.push_back({{std::string(kAlsaPrefix) + f.clientInfoGetName(client) + ":" +
                                  f.portInfoGetName(port),
                              std::to_string(address.client) + ":" + std::to_string(address.port)},
                             address,
                             bridge ? f.clientInfoGetCard(client) : -1});
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
    if (!system_.cardsPresent()) {
        return;
    }
    if (Loaded()) {
        ListRawPorts(*this, direction, list);
    } else if (error_.empty()) {
        list.unreachable.push_back("alsa: " + loadError_);
    }
}

AlsaConnection AlsaClient::Connect(AlsaDirection direction, const Port& wanted) {
    if (!Open()) {
        return {.error = error_.empty()
                             ? "there is no ALSA sequencer (no " + std::string(kDevice) + ")"
                             : error_};
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
    return Poll(std::span(descriptors_).first(static_cast<std::size_t>(filled)), wait);
}

int AlsaClient::Poll(std::span<pollfd> descriptors, std::chrono::milliseconds wait) const {
    const int ready =
        system_.poll(descriptors.data(), static_cast<nfds_t>(descriptors.size()),
                     static_cast<int>(std::clamp<long long>(wait.count(), 0, INT_MAX)));
    return ready < 0 ? -errno : ready;
}

MidiBackEnds MakeAlsa(const AlsaFunctions& functions, std::chrono::milliseconds timeout) {
    const auto client = std::make_shared<AlsaClient>(functions);
    return {MakeAlsaPorts(client, timeout), MakeAlsaInputs(client)};
}

} // namespace midi_ports
