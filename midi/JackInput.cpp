// The JACK input back end; see JackInput.h. The process callback runs in
// JACK's real-time thread: it takes no lock, allocates nothing and shares
// only the ring buffer and atomic counters with the tool's thread.
#include "JackInput.h"

#include "JackOutput.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

namespace midi_ports {

namespace {

using Clock = std::chrono::steady_clock;
using Size = std::uint32_t; // written in the queue in front of each event
// Written in the queue in place of a size: input was lost here.
constexpr Size kLossMark = 0xFFFFFFFF;

constexpr char kClientName[] = "vantrel-convert";
constexpr char kPortName[] = "in";
constexpr std::chrono::milliseconds kPollInterval{1};
// As for output (JackOutput.cpp): libjack sometimes fails to open a client
// while a client of another server is being opened, so it is tried again.
constexpr int kOpenAttempts = 5;
constexpr std::chrono::milliseconds kOpenRetryPause{20};

void Quiet(const char*) {}

// What the process callback and the tool's thread share.
struct Shared {
    jack_port_t* port = nullptr;
    jack_ringbuffer_t* queue = nullptr;
    bool lossToMark = false;                     // the real-time thread's own
    std::atomic<std::uint64_t> lostEvents{0};    // counted by JACK on the way in
    std::atomic<std::uint64_t> droppedEvents{0}; // the queue had no room for them
    std::atomic<std::uint64_t> droppedBytes{0};
    std::atomic<std::uint64_t> mixedEvents{0}; // came while another port was connected too
    std::atomic<bool> connectionsChanged{false};
    std::atomic<bool> shutDown{false};
};

int Process(jack_nframes_t frames, void* argument) noexcept {
    Shared& shared = *static_cast<Shared*>(argument);
    void* buffer = jack_port_get_buffer(shared.port, frames);
    if (const std::uint32_t lost = jack_midi_get_lost_event_count(buffer); lost != 0) {
        shared.lostEvents.fetch_add(lost, std::memory_order_release);
        shared.lossToMark = true;
    }
    const std::uint32_t count = jack_midi_get_event_count(buffer);
    // JACK mixes what every connected port sends: while a port other than
    // the source is connected too, until the tool's thread undoes that, no
    // event can be told to be the source's.
    if (count != 0 && jack_port_connected(shared.port) > 1) {
        shared.mixedEvents.fetch_add(count, std::memory_order_release);
        shared.lossToMark = true;
        return 0;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, buffer, i) != 0) {
            continue;
        }
        const std::size_t mark = shared.lossToMark ? sizeof(Size) : 0;
        if (event.size >= kLossMark ||
            jack_ringbuffer_write_space(shared.queue) < mark + sizeof(Size) + event.size) {
            shared.droppedEvents.fetch_add(1, std::memory_order_release);
            shared.droppedBytes.fetch_add(event.size, std::memory_order_release);
            shared.lossToMark = true;
            continue;
        }
        if (mark != 0) {
            jack_ringbuffer_write(shared.queue, reinterpret_cast<const char*>(&kLossMark),
                                  sizeof kLossMark);
            shared.lossToMark = false;
        }
        const auto size = static_cast<Size>(event.size);
        jack_ringbuffer_write(shared.queue, reinterpret_cast<const char*>(&size), sizeof size);
        jack_ringbuffer_write(shared.queue, reinterpret_cast<const char*>(event.buffer),
                              event.size);
    }
    return 0;
}

void OnConnect(jack_port_id_t, jack_port_id_t, int, void* argument) {
    static_cast<Shared*>(argument)->connectionsChanged.store(true);
}

void OnShutdown(jack_status_t, const char*, void* argument) {
    static_cast<Shared*>(argument)->shutDown.store(true);
}

class JackInput final : public Input {
  public:
    JackInput(jack_client_t* client, std::size_t queueBytes)
        : client_(client), queueBytes_(queueBytes) {}

    ~JackInput() override {
        if (active_) {
            jack_deactivate(client_);
        }
        if (shared_.port != nullptr) {
            jack_port_unregister(client_, shared_.port);
        }
        if (shared_.queue != nullptr) {
            jack_ringbuffer_free(shared_.queue);
        }
    }

    // Registers the port, starts the client and connects `source` to it.
    std::optional<std::string> Start(const std::string& source) {
        jack_port_t* from = jack_port_by_name(client_, source.c_str());
        if (from == nullptr) {
            return "there is no JACK port " + Quoted(source);
        }
        if ((jack_port_flags(from) & JackPortIsOutput) == 0 ||
            std::strcmp(jack_port_type(from), JACK_DEFAULT_MIDI_TYPE) != 0) {
            return Quoted(source) + " is not a JACK MIDI output port";
        }
        shared_.queue = jack_ringbuffer_create(queueBytes_);
        shared_.port =
            jack_port_register(client_, kPortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        if (shared_.queue == nullptr || shared_.port == nullptr) {
            return "cannot create a JACK MIDI input port";
        }
        if (jack_set_process_callback(client_, Process, &shared_) != 0 ||
            jack_set_port_connect_callback(client_, OnConnect, &shared_) != 0) {
            return "cannot set the JACK call-backs";
        }
        jack_on_info_shutdown(client_, OnShutdown, &shared_);
        if (jack_activate(client_) != 0) {
            return "cannot activate the JACK client";
        }
        active_ = true;
        if (jack_connect(client_, source.c_str(), jack_port_name(shared_.port)) != 0) {
            return "cannot connect to " + Quoted(source);
        }
        source_ = source;
        return std::nullopt;
    }

    void Next(Piece& piece, std::chrono::milliseconds wait) override {
        piece.bytes.clear();
        piece.what.clear();
        const auto deadline = Clock::now() + (stopped_ ? std::chrono::milliseconds(0) : wait);
        for (;;) {
            if (shared_.connectionsChanged.exchange(false)) {
                KeepOnlySource();
            }
            std::optional<std::string> loss = TakeQueued(piece.bytes);
            if (!loss && !piece.bytes.empty()) {
                piece.kind = Piece::Kind::Bytes;
                return;
            }
            // With the queue empty, a loss after the last event is due now.
            if (loss || (loss = Losses())) {
                piece.kind = Piece::Kind::Lost;
                piece.what = *loss;
                return;
            }
            if (shared_.shutDown.load()) {
                closed_ = "the JACK server shut down";
            }
            if (!closed_.empty()) {
                piece.kind = Piece::Kind::Closed;
                piece.what = closed_;
                return;
            }
            if (Clock::now() >= deadline) {
                piece.kind = Piece::Kind::Quiet;
                return;
            }
            std::this_thread::sleep_for(kPollInterval);
        }
    }

    void Stop() override { stopped_ = true; }

  private:
    // Moves the queued events into `bytes`, up to a loss mark; returns what
    // was lost there.
    std::optional<std::string> TakeQueued(std::vector<std::uint8_t>& bytes) {
        Size size = 0;
        std::size_t available = 0;
        while ((available = jack_ringbuffer_read_space(shared_.queue)) >= sizeof size) {
            jack_ringbuffer_peek(shared_.queue, reinterpret_cast<char*>(&size), sizeof size);
            if (size == kLossMark) {
                jack_ringbuffer_read_advance(shared_.queue, sizeof size);
                if (auto loss = Losses()) {
                    return loss;
                }
                continue; // reported already, when the queue was last empty
            }
            if (available < sizeof size + size) {
                break; // the rest of the event is still being written
            }
            jack_ringbuffer_read_advance(shared_.queue, sizeof size);
            const std::size_t at = bytes.size();
            bytes.resize(at + size);
            jack_ringbuffer_read(shared_.queue, reinterpret_cast<char*>(bytes.data() + at), size);
        }
        return std::nullopt;
    }

    // What was lost since the last report, if anything.
    std::optional<std::string> Losses() {
        const std::uint64_t lost = shared_.lostEvents.exchange(0, std::memory_order_acquire);
        const std::uint64_t dropped = shared_.droppedEvents.exchange(0, std::memory_order_acquire);
        const std::uint64_t bytes = shared_.droppedBytes.exchange(0, std::memory_order_acquire);
        const std::uint64_t mixed = shared_.mixedEvents.exchange(0, std::memory_order_acquire);
        std::string what;
        if (lost != 0) {
            what = "JACK lost " + std::to_string(lost) + " MIDI event(s) on the way in";
        }
        if (mixed != 0) {
            what += what.empty() ? "" : "; ";
            what += std::to_string(mixed) + " MIDI event(s) dropped: another port was connected "
                                            "to this program's input, and JACK mixes the two";
        }
        if (dropped != 0) {
            what += what.empty() ? "" : "; ";
            what += std::to_string(dropped) + " MIDI event(s) (" + std::to_string(bytes) +
                    " bytes) dropped: the queue from JACK's thread was full";
        }
        return what.empty() ? std::nullopt : std::optional(what);
    }

    // Undoes every connection to the port but the source's, and notes when
    // the source's own is gone.
    void KeepOnlySource() {
        bool fromSource = false;
        const char** connections = jack_port_get_connections(shared_.port);
        for (const char** name = connections; name != nullptr && *name != nullptr; ++name) {
            if (source_ == *name) {
                fromSource = true;
            } else {
                jack_disconnect(client_, *name, jack_port_name(shared_.port));
            }
        }
        jack_free(connections);
        if (!fromSource && closed_.empty()) {
            closed_ = "the connection from " + Quoted(source_) + " was lost";
        }
    }

    jack_client_t* const client_;
    const std::size_t queueBytes_;
    Shared shared_;
    bool active_ = false;
    bool stopped_ = false;
    std::string source_;
    std::string closed_; // why the input has ended, once it has
};

class JackInputs final : public Inputs {
  public:
    explicit JackInputs(std::size_t queueBytes) : queueBytes_(queueBytes) {
        jack_set_error_function(Quiet);
        jack_set_info_function(Quiet);
    }

    ~JackInputs() override {
        if (client_ != nullptr) {
            jack_client_close(client_);
        }
    }

    void List(PortList& list) override {
        if (!Connect()) {
            list.unreachable.push_back("jack: " + error_);
            return;
        }
        // The ports of this program's own client are not sources.
        const std::string own = std::string(jack_get_client_name(client_)) + ":";
        const char** names =
            jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
        for (const char** name = names; name != nullptr && *name != nullptr; ++name) {
            if (!std::string_view(*name).starts_with(own)) {
                list.ports.push_back({std::string(kJackPrefix) + *name, {}});
            }
        }
        jack_free(names);
    }

    OpenedInput Open(const Port& port) override {
        const std::string_view name = port.name;
        if (!name.starts_with(kJackPrefix)) {
            return {nullptr, Quoted(name) + " is not a JACK port"};
        }
        if (!Connect()) {
            return {nullptr, error_};
        }
        if (opened_) {
            return {nullptr, "a JACK source is open already"};
        }
        opened_ = true;
        auto input = std::make_unique<JackInput>(client_, queueBytes_);
        if (auto error = input->Start(std::string(name.substr(kJackPrefix.size())))) {
            return {nullptr, *error};
        }
        return {std::move(input), {}};
    }

  private:
    // Opens the client on first use; false, with error_ set, when it cannot.
    bool Connect() {
        for (int attempt = 1; client_ == nullptr && error_.empty(); ++attempt) {
            jack_status_t status{};
            client_ = jack_client_open(kClientName, JackNoStartServer, &status);
            if (client_ != nullptr) {
                break;
            }
            if ((status & JackVersionError) != 0 || attempt == kOpenAttempts) {
                error_ = DescribeOpenFailure(status);
            } else {
                std::this_thread::sleep_for(kOpenRetryPause);
            }
        }
        return client_ != nullptr;
    }

    const std::size_t queueBytes_;
    jack_client_t* client_ = nullptr;
    std::string error_;
    bool opened_ = false;
};

} // namespace

std::unique_ptr<Inputs> MakeJackInputs(std::size_t queueBytes) {
    return std::make_unique<JackInputs>(queueBytes);
}

} // namespace midi_ports
