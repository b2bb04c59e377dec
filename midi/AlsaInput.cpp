// The ALSA sequencer input back end; see AlsaInput.h.
#include "AlsaInput.h"

#include "AlsaPortWalk.h"

#include "AlsaOutput.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

namespace midi_ports {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kClientName[] = "vantrel-convert";
constexpr char kPortName[] = "in";
constexpr char kDevice[] = "/dev/snd/seq";
constexpr unsigned kReadable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;

void Quiet(const char*, int, const char*, int, const char*, ...) {}

std::string Because(const std::string& what, int error) {
    return what + ": " + snd_strerror(error);
}

struct Source {
    std::string name; // full name, prefix included
    snd_seq_addr_t address;
};

// "14:0", as the sequencer numbers a port and --list-inputs shows it.
std::string AddressText(const snd_seq_addr_t& address) {
    return std::to_string(address.client) + ":" + std::to_string(address.port);
}

bool operator==(const snd_seq_addr_t& a, const snd_seq_addr_t& b) {
    return a.client == b.client && a.port == b.port;
}

// The status byte of a MIDI event other than System Exclusive, or 0 for
// real-time events and events that are not MIDI.
std::uint8_t StatusOf(const snd_seq_event_t& event) {
    const auto channel = [](unsigned char c) { return static_cast<std::uint8_t>(c & 0x0F); };
    switch (event.type) {
    case SND_SEQ_EVENT_NOTE:
    case SND_SEQ_EVENT_NOTEON:
        return 0x90 | channel(event.data.note.channel);
    case SND_SEQ_EVENT_NOTEOFF:
        return 0x80 | channel(event.data.note.channel);
    case SND_SEQ_EVENT_KEYPRESS:
        return 0xA0 | channel(event.data.note.channel);
    case SND_SEQ_EVENT_CONTROLLER:
    case SND_SEQ_EVENT_CONTROL14:
    case SND_SEQ_EVENT_NONREGPARAM:
    case SND_SEQ_EVENT_REGPARAM:
        return 0xB0 | channel(event.data.control.channel);
    case SND_SEQ_EVENT_PGMCHANGE:
        return 0xC0 | channel(event.data.control.channel);
    case SND_SEQ_EVENT_CHANPRESS:
        return 0xD0 | channel(event.data.control.channel);
    case SND_SEQ_EVENT_PITCHBEND:
        return 0xE0 | channel(event.data.control.channel);
    case SND_SEQ_EVENT_QFRAME:
        return 0xF1;
    case SND_SEQ_EVENT_SONGPOS:
        return 0xF2;
    case SND_SEQ_EVENT_SONGSEL:
        return 0xF3;
    case SND_SEQ_EVENT_TUNE_REQUEST:
        return 0xF6;
    default:
        return 0;
    }
}

class AlsaInput final : public Input {
  public:
    AlsaInput(const AlsaInputFunctions& functions, snd_seq_t* sequencer, snd_seq_addr_t self,
              Source source)
        : f_(functions), sequencer_(sequencer), self_(self), source_(std::move(source)) {}

    void Next(Piece& piece, std::chrono::milliseconds wait) override {
        piece.bytes.clear();
        piece.what.clear();
        bool waited = stopped_;
        const auto deadline = Clock::now() + wait;
        for (;;) {
            snd_seq_event_t* event = nullptr;
            int result = 0;
            while (closed_.empty() && (result = f_.eventInput(sequencer_, &event)) >= 0) {
                Take(*event, piece.bytes);
            }
            if (result == -ENOSPC) {
                piece.kind = Piece::Kind::Lost;
                piece.what = "the ALSA sequencer's input pool overflowed: events were lost";
                return;
            }
            if (closed_.empty() && result != -EAGAIN) {
                closed_ = Because("cannot read from the ALSA sequencer", result);
            }
            if (!closed_.empty() || !piece.bytes.empty() || waited) {
                piece.kind = !closed_.empty()       ? Piece::Kind::Closed
                             : !piece.bytes.empty() ? Piece::Kind::Bytes
                                                    : Piece::Kind::Quiet;
                piece.what = closed_;
                return;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            const int ready =
                f_.waitForInput(sequencer_, static_cast<int>(std::max<long long>(left.count(), 0)));
            if (ready < 0 && ready != -EINTR) {
                closed_ = Because("cannot wait for the ALSA sequencer", ready);
            }
            waited = true;
        }
    }

    void Stop() override { stopped_ = true; }

  private:
    // Appends what `event` carries to `bytes`, when it comes from the source.
    void Take(const snd_seq_event_t& event, std::vector<std::uint8_t>& bytes) {
        if (event.source.client == SND_SEQ_CLIENT_SYSTEM &&
            event.source.port == SND_SEQ_PORT_SYSTEM_ANNOUNCE) {
            Announced(event);
            return;
        }
        if (!(event.source == source_.address)) {
            return;
        }
        if (event.type == SND_SEQ_EVENT_SYSEX) {
            const auto* data = static_cast<const std::uint8_t*>(event.data.ext.ptr);
            bytes.insert(bytes.end(), data, data + event.data.ext.len);
        } else if (const std::uint8_t status = StatusOf(event); status != 0) {
            bytes.push_back(status);
        }
    }

    // Notes when the source, or the subscription to it, has gone.
    void Announced(const snd_seq_event_t& event) {
        const snd_seq_addr_t& address = event.data.addr;
        const bool gone =
            (event.type == SND_SEQ_EVENT_CLIENT_EXIT && address.client == source_.address.client) ||
            (event.type == SND_SEQ_EVENT_PORT_EXIT && address == source_.address);
        if (gone) {
            closed_ = "the source " + Quoted(source_.name) + " went away";
        } else if (event.type == SND_SEQ_EVENT_PORT_UNSUBSCRIBED &&
                   event.data.connect.sender == source_.address &&
                   event.data.connect.dest == self_) {
            closed_ = "the subscription to " + Quoted(source_.name) + " was removed";
        }
    }

    const AlsaInputFunctions& f_;
    snd_seq_t* const sequencer_;
    const snd_seq_addr_t self_;
    const Source source_;
    bool stopped_ = false;
    std::string closed_; // why the input has ended, once it has
};

class AlsaInputs final : public Inputs {
  public:
    explicit AlsaInputs(const AlsaInputFunctions& functions) : f_(functions) {
        snd_lib_error_set_handler(Quiet);
    }

    ~AlsaInputs() override {
        if (sequencer_ != nullptr) {
            f_.close(sequencer_);
        }
    }

    void List(PortList& list) override {
        if (!Connect()) {
            if (!error_.empty()) {
                list.unreachable.push_back("alsa: " + error_);
            }
            return;
        }
        for (Source& source : Sources()) {
            list.ports.push_back({std::move(source.name), AddressText(source.address)});
        }
    }

    OpenedInput Open(const Port& wanted) override {
        if (!Connect()) {
            return {nullptr, error_.empty()
                                 ? "there is no ALSA sequencer (no " + std::string(kDevice) + ")"
                                 : error_};
        }
        for (Source& source : Sources()) {
            if (source.name != wanted.name || AddressText(source.address) != wanted.address) {
                continue;
            }
            // Room for long messages: larger failures show as reported losses.
            f_.setInputBufferSize(sequencer_, kAlsaInputBufferBytes);
            f_.setClientPoolInput(sequencer_, kAlsaInputPoolCells);
            const int port =
                f_.createSimplePort(sequencer_, kPortName, SND_SEQ_PORT_CAP_WRITE,
                                    SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
            if (port < 0) {
                return {nullptr, Because("cannot create an ALSA sequencer port", port)};
            }
            if (const int result =
                    f_.connectFrom(sequencer_, port, source.address.client, source.address.port);
                result < 0) {
                return {nullptr, Because("cannot subscribe to " + Quoted(source.name), result)};
            }
            // Without the announcements the input still works; it only cannot
            // tell when the source goes away.
            f_.connectFrom(sequencer_, port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
            const snd_seq_addr_t self{static_cast<unsigned char>(f_.clientId(sequencer_)),
                                      static_cast<unsigned char>(port)};
            return {std::make_unique<AlsaInput>(f_, sequencer_, self, std::move(source)), {}};
        }
        return {nullptr, "there is no ALSA port " + Quoted(ListLine(wanted))};
    }

  private:
    // Opens the sequencer on first use. False when it is absent (error_
    // empty) or cannot be opened (error_ says why).
    bool Connect() {
        if (sequencer_ == nullptr && !tried_) {
            tried_ = true;
            if (!f_.sequencerPresent()) {
                return false;
            }
            if (const int result =
                    f_.open(&sequencer_, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK);
                result < 0) {
                sequencer_ = nullptr;
                error_ = Because("cannot open the sequencer", result);
                return false;
            }
            f_.setClientName(sequencer_, kClientName);
        }
        return sequencer_ != nullptr;
    }

    std::vector<Source> Sources() {
        std::vector<Source> sources;
        EachOtherPort(f_, sequencer_, kReadable, [&](std::string name, snd_seq_addr_t address) {
            sources.push_back({std::move(name), address});
        });
        return sources;
    }

    const AlsaInputFunctions& f_;
    snd_seq_t* sequencer_ = nullptr;
    bool tried_ = false;
    std::string error_;
};

bool SequencerPresent() {
    return access(kDevice, F_OK) == 0;
}

int WaitForInput(snd_seq_t* sequencer, int milliseconds) {
    std::vector<pollfd> descriptors(
        static_cast<std::size_t>(std::max(snd_seq_poll_descriptors_count(sequencer, POLLIN), 0)));
    const int count = snd_seq_poll_descriptors(sequencer, descriptors.data(),
                                               static_cast<unsigned>(descriptors.size()), POLLIN);
    const int ready = poll(descriptors.data(), static_cast<nfds_t>(count), milliseconds);
    return ready < 0 ? -errno : ready;
}

} // namespace

const AlsaInputFunctions& RealAlsaInputFunctions() {
    static const AlsaInputFunctions functions = {SequencerPresent,
                                                 snd_seq_open,
                                                 snd_seq_close,
                                                 snd_seq_set_client_name,
                                                 snd_seq_client_id,
                                                 snd_seq_query_next_client,
                                                 snd_seq_query_next_port,
                                                 snd_seq_set_input_buffer_size,
                                                 snd_seq_set_client_pool_input,
                                                 snd_seq_create_simple_port,
                                                 snd_seq_connect_from,
                                                 snd_seq_event_input,
                                                 WaitForInput};
    return functions;
}

std::unique_ptr<Inputs> MakeAlsaInputs(const AlsaInputFunctions& functions) {
    return std::make_unique<AlsaInputs>(functions);
}

} // namespace midi_ports
