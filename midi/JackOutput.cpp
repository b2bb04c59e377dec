// The JACK back end; see JackOutput.h. The process callback runs in JACK's
// real-time thread: it takes no lock, allocates nothing and shares only the
// ring buffer and atomic counters with the sending thread.
#include "JackOutput.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace midi_ports {

namespace {

using Clock = std::chrono::steady_clock;
using Size = std::uint32_t; // written in the queue in front of each message

constexpr char kClientName[] = "vantrel-convert";
constexpr char kPortName[] = "out";
constexpr std::size_t kQueueBytes = 64 * 1024;
constexpr std::chrono::milliseconds kPollInterval{1};
// libjack (1.9.21) sometimes fails to open a client, saying it could not
// initialise it or even reach the server, while a client of another JACK
// server on the machine is being opened at the same moment. So a failed open
// is tried again a few times; with no server running that costs 80 ms.
constexpr int kOpenAttempts = 5;
constexpr std::chrono::milliseconds kOpenRetryPause{20};

void Quiet(const char*) {}

std::string ServerName() {
    const char* name = std::getenv("JACK_DEFAULT_SERVER");
    return name != nullptr && *name != '\0' ? name : "default";
}

std::string DescribeOpenFailure(jack_status_t status) {
    const std::string server = "the JACK server " + Quoted(ServerName());
    if ((status & JackVersionError) != 0) {
        return server + " speaks another protocol version than this program's libjack";
    }
    if ((status & JackShmFailure) != 0) {
        return "cannot use the shared memory of " + server;
    }
    if ((status & (JackServerFailed | JackServerError)) != 0) {
        return "cannot connect to " + server + " (is it running?)";
    }
    return "cannot open a client of " + server + " (status " + std::to_string(status) + ")";
}

// What the process callback and the sending thread share.
struct Shared {
    jack_port_t* port = nullptr;
    jack_ringbuffer_t* queue = nullptr;
    std::atomic<std::uint64_t> taken{0};     // messages written into a period's buffer
    std::atomic<std::uint64_t> completed{0}; // of those, the ones whose period has ended
    std::atomic<Size> tooLarge{0};           // a message no period can hold, dropped
    std::atomic<bool> shutDown{false};
};

int Process(jack_nframes_t frames, void* argument) noexcept {
    Shared& shared = *static_cast<Shared*>(argument);
    std::uint64_t taken = shared.taken.load(std::memory_order_relaxed);
    // A period begins only when the one before it has ended.
    shared.completed.store(taken, std::memory_order_release);
    void* buffer = jack_port_get_buffer(shared.port, frames);
    jack_midi_clear_buffer(buffer);
    bool empty = true;
    for (;;) {
        Size size = 0;
        const std::size_t available = jack_ringbuffer_read_space(shared.queue);
        if (available < sizeof size) {
            break;
        }
        jack_ringbuffer_peek(shared.queue, reinterpret_cast<char*>(&size), sizeof size);
        if (available < sizeof size + size) {
            break; // the rest of the message is still being written
        }
        const bool fits = size <= jack_midi_max_event_size(buffer);
        if (!fits && !empty) {
            break; // the next period takes it
        }
        jack_ringbuffer_read_advance(shared.queue, sizeof size);
        jack_midi_data_t* data = fits ? jack_midi_event_reserve(buffer, 0, size) : nullptr;
        if (data != nullptr) {
            jack_ringbuffer_read(shared.queue, reinterpret_cast<char*>(data), size);
        } else {
            // Not even an empty period's buffer holds it.
            jack_ringbuffer_read_advance(shared.queue, size);
            shared.tooLarge.store(size, std::memory_order_relaxed);
        }
        ++taken;
        empty = false;
    }
    shared.taken.store(taken, std::memory_order_release);
    return 0;
}

void OnShutdown(jack_status_t, const char*, void* argument) {
    static_cast<Shared*>(argument)->shutDown.store(true);
}

class JackOutput final : public Output {
  public:
    JackOutput(jack_client_t* client, std::chrono::milliseconds timeout)
        : client_(client), timeout_(timeout) {}

    ~JackOutput() override {
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

    // Registers the port, starts the client and connects to `destination`.
    std::optional<std::string> Start(const std::string& destination) {
        jack_port_t* target = jack_port_by_name(client_, destination.c_str());
        if (target == nullptr) {
            return "there is no JACK port " + Quoted(destination);
        }
        if ((jack_port_flags(target) & JackPortIsInput) == 0 ||
            std::strcmp(jack_port_type(target), JACK_DEFAULT_MIDI_TYPE) != 0) {
            return Quoted(destination) + " is not a JACK MIDI input port";
        }
        shared_.queue = jack_ringbuffer_create(kQueueBytes);
        shared_.port =
            jack_port_register(client_, kPortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        if (shared_.queue == nullptr || shared_.port == nullptr) {
            return "cannot create a JACK MIDI output port";
        }
        if (jack_set_process_callback(client_, Process, &shared_) != 0) {
            return "cannot set the JACK process callback";
        }
        jack_on_info_shutdown(client_, OnShutdown, &shared_);
        if (jack_activate(client_) != 0) {
            return "cannot activate the JACK client";
        }
        active_ = true;
        if (jack_connect(client_, jack_port_name(shared_.port), destination.c_str()) != 0) {
            return "cannot connect to " + Quoted(destination);
        }
        destination_ = destination;
        return std::nullopt;
    }

    std::optional<std::string> Send(std::span<const std::uint8_t> message) override {
        const std::size_t needed = sizeof(Size) + message.size();
        if (needed > jack_ringbuffer_write_space(shared_.queue) +
                         jack_ringbuffer_read_space(shared_.queue)) {
            return "a message of " + std::to_string(message.size()) +
                   " bytes is larger than the send queue";
        }
        if (auto error =
                WaitFor([&] { return jack_ringbuffer_write_space(shared_.queue) >= needed; })) {
            return error;
        }
        const Size size = static_cast<Size>(message.size());
        jack_ringbuffer_write(shared_.queue, reinterpret_cast<const char*>(&size), sizeof size);
        jack_ringbuffer_write(shared_.queue, reinterpret_cast<const char*>(message.data()),
                              message.size());
        ++queued_;
        return std::nullopt;
    }

    std::optional<std::string> Finish() override {
        if (auto error = WaitFor(
                [&] { return shared_.completed.load(std::memory_order_acquire) == queued_; })) {
            return error;
        }
        if (jack_port_connected_to(shared_.port, destination_.c_str()) == 0) {
            return "the connection to " + Quoted(destination_) + " was lost";
        }
        return std::nullopt;
    }

  private:
    std::optional<std::string> Trouble() const {
        if (shared_.shutDown.load()) {
            return "the JACK server shut down";
        }
        if (const Size size = shared_.tooLarge.load(std::memory_order_relaxed); size != 0) {
            return "a message of " + std::to_string(size) +
                   " bytes is larger than a JACK period's MIDI buffer";
        }
        return std::nullopt;
    }

    // Waits until `done` holds, for as long as the server keeps completing
    // periods that carry messages.
    template <typename Done> std::optional<std::string> WaitFor(Done done) {
        auto deadline = Clock::now() + timeout_;
        std::uint64_t seen = shared_.completed.load(std::memory_order_acquire);
        while (!done()) {
            if (auto trouble = Trouble()) {
                return trouble;
            }
            const auto now = Clock::now();
            const std::uint64_t completed = shared_.completed.load(std::memory_order_acquire);
            if (completed != seen) {
                seen = completed;
                deadline = now + timeout_;
            } else if (now >= deadline) {
                return "the JACK server passed on no message for " +
                       std::to_string(timeout_.count()) + " ms; " +
                       std::to_string(queued_ - completed) + " still waiting";
            }
            std::this_thread::sleep_for(kPollInterval);
        }
        return Trouble();
    }

    jack_client_t* const client_;
    const std::chrono::milliseconds timeout_;
    Shared shared_;
    bool active_ = false;
    std::string destination_;
    std::uint64_t queued_ = 0;
};

class JackPorts final : public Ports {
  public:
    explicit JackPorts(std::chrono::milliseconds timeout) : timeout_(timeout) {
        jack_set_error_function(Quiet);
        jack_set_info_function(Quiet);
    }

    ~JackPorts() override {
        if (client_ != nullptr) {
            jack_client_close(client_);
        }
    }

    void List(PortList& list) override {
        if (!Connect()) {
            list.unreachable.push_back("jack: " + error_);
            return;
        }
        const char** names =
            jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
        for (const char** name = names; name != nullptr && *name != nullptr; ++name) {
            list.ports.push_back({std::string(kJackPrefix) + *name, {}});
        }
        jack_free(names);
    }

    Opened Open(const Port& port) override {
        const std::string_view name = port.name;
        if (!name.starts_with(kJackPrefix)) {
            return {nullptr, Quoted(name) + " is not a JACK port"};
        }
        if (!Connect()) {
            return {nullptr, error_};
        }
        if (opened_) {
            return {nullptr, "a JACK port is open already"};
        }
        opened_ = true;
        auto output = std::make_unique<JackOutput>(client_, timeout_);
        if (auto error = output->Start(std::string(name.substr(kJackPrefix.size())))) {
            return {nullptr, *error};
        }
        return {std::move(output), {}};
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

    const std::chrono::milliseconds timeout_;
    jack_client_t* client_ = nullptr;
    std::string error_;
    bool opened_ = false;
};

} // namespace

std::unique_ptr<Ports> MakeJackPorts(std::chrono::milliseconds timeout) {
    return std::make_unique<JackPorts>(timeout);
}

} // namespace midi_ports
