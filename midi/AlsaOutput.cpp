// The ALSA sequencer back end; see AlsaOutput.h.
#include "AlsaOutput.h"

#include "AlsaPortWalk.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <vector>

namespace midi_ports {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kClientName[] = "vantrel-convert";
constexpr char kPortName[] = "out";
constexpr char kDevice[] = "/dev/snd/seq";
constexpr unsigned kWritable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
constexpr short kOutputRoom = POLLOUT; // what Send polls for

void Quiet(const char*, int, const char*, int, const char*, ...) {}

std::string Because(const std::string& what, int error) {
    return what + ": " + snd_strerror(error);
}

// A System Exclusive event from `port` to its subscribers, sent directly.
// alsa-lib's macros narrow ints into the event's byte-sized fields.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wsign-conversion"
snd_seq_event_t SysexEvent(int port, std::span<const std::uint8_t> message) {
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    snd_seq_ev_set_source(&event, port);
    snd_seq_ev_set_subs(&event);
    snd_seq_ev_set_direct(&event);
    // alsa-lib only reads the data of an event it sends.
    snd_seq_ev_set_sysex(&event, message.size(), const_cast<std::uint8_t*>(message.data()));
    return event;
}
#pragma GCC diagnostic pop

struct Destination {
    Port port; // the full name, prefix included, and "client:port"
    int client;
    int number;
};

class AlsaOutput final : public Output {
  public:
    AlsaOutput(const AlsaFunctions& functions, snd_seq_t* sequencer, int port,
               std::chrono::milliseconds timeout)
        : f_(functions), sequencer_(sequencer), port_(port), timeout_(timeout) {}

    // A card's port goes through snd-seq-midi, whose output buffer of 4 KiB
    // drops silently what does not fit; the tool cannot tell a card's port
    // from another, so every port gets the card's limit.
    std::size_t MaxMessageBytes() const override { return 4096; }

    std::optional<std::string> Send(std::span<const std::uint8_t> message) override {
        snd_seq_event_t event = SysexEvent(port_, message);
        const auto deadline = Clock::now() + timeout_;
        int result = 0;
        while ((result = f_.eventOutput(sequencer_, &event)) == -EAGAIN && Waited(deadline)) {
        }
        if (result < 0) {
            return Failure("cannot queue the message", result);
        }
        // Draining returns the bytes still waiting until the kernel has them all.
        while ((result = f_.drainOutput(sequencer_)) != 0 && (result > 0 || result == -EAGAIN) &&
               Waited(deadline)) {
        }
        if (result != 0) {
            return Failure("cannot hand the message to the sequencer", result);
        }
        // Syncing polls until the kernel has passed the event on; a signal
        // (Ctrl-C) cuts that poll short, and the wait goes on.
        while ((result = f_.syncOutputQueue(sequencer_)) < 0 &&
               (result == -EINTR || (result == -1 && errno == EINTR))) {
        }
        if (result < 0) {
            return Because("cannot sync the sequencer's output", result);
        }
        return std::nullopt;
    }

    std::optional<std::string> Finish() override { return std::nullopt; }

  private:
    // Waits until the sequencer can take more output and returns true, or
    // returns false at the deadline (or when it cannot be polled).
    bool Waited(Clock::time_point deadline) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        const int count = f_.pollDescriptorsCount(sequencer_, kOutputRoom);
        descriptors_.resize(static_cast<std::size_t>(std::max(count, 0)));
        const int filled =
            f_.pollDescriptors(sequencer_, descriptors_.data(),
                               static_cast<unsigned>(descriptors_.size()), kOutputRoom);
        if (filled <= 0) {
            return false;
        }
        const int result = f_.poll(descriptors_.data(), static_cast<nfds_t>(filled),
                                   static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
        return result >= 0 || errno == EINTR;
    }

    std::string Failure(const std::string& what, int result) const {
        if (result > 0 || result == -EAGAIN) {
            return "the ALSA sequencer took no message for " + std::to_string(timeout_.count()) +
                   " ms";
        }
        return Because(what, result);
    }

    const AlsaFunctions& f_;
    snd_seq_t* const sequencer_;
    const int port_;
    const std::chrono::milliseconds timeout_;
    std::vector<pollfd> descriptors_;
};

class AlsaPorts final : public Ports {
  public:
    AlsaPorts(const AlsaFunctions& functions, std::chrono::milliseconds timeout)
        : f_(functions), timeout_(timeout) {
        snd_lib_error_set_handler(Quiet);
    }

    ~AlsaPorts() override {
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
        for (Destination& destination : Destinations()) {
            list.ports.push_back(std::move(destination.port));
        }
    }

    Opened Open(const Port& wanted) override {
        if (!Connect()) {
            return {nullptr, error_.empty()
                                 ? "there is no ALSA sequencer (no " + std::string(kDevice) + ")"
                                 : error_};
        }
        for (const Destination& destination : Destinations()) {
            if (destination.port.name != wanted.name ||
                destination.port.address != wanted.address) {
                continue;
            }
            const int port = f_.createSimplePort(
                sequencer_, kPortName, SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
            if (port < 0) {
                return {nullptr, Because("cannot create an ALSA sequencer port", port)};
            }
            if (const int result =
                    f_.connectTo(sequencer_, port, destination.client, destination.number);
                result < 0) {
                return {nullptr,
                        Because("cannot connect to " + Quoted(destination.port.name), result)};
            }
            return {std::make_unique<AlsaOutput>(f_, sequencer_, port, timeout_), {}};
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
                    f_.open(&sequencer_, "default", SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK);
                result < 0) {
                sequencer_ = nullptr;
                error_ = Because("cannot open the sequencer", result);
                return false;
            }
            f_.setClientName(sequencer_, kClientName);
        }
        return sequencer_ != nullptr;
    }

    std::vector<Destination> Destinations() {
        std::vector<Destination> destinations;
        EachOtherPort(f_, sequencer_, kWritable, [&](std::string name, snd_seq_addr_t address) {
            destinations.push_back({{std::move(name), std::to_string(address.client) + ":" +
                                                          std::to_string(address.port)},
                                    address.client,
                                    address.port});
        });
        return destinations;
    }

    const AlsaFunctions& f_;
    const std::chrono::milliseconds timeout_;
    snd_seq_t* sequencer_ = nullptr;
    bool tried_ = false;
    std::string error_;
};

bool SequencerPresent() {
    return access(kDevice, F_OK) == 0;
}

} // namespace

const AlsaFunctions& RealAlsaFunctions() {
    static const AlsaFunctions functions = {SequencerPresent,
                                            snd_seq_open,
                                            snd_seq_close,
                                            snd_seq_set_client_name,
                                            snd_seq_client_id,
                                            snd_seq_query_next_client,
                                            snd_seq_query_next_port,
                                            snd_seq_create_simple_port,
                                            snd_seq_connect_to,
                                            snd_seq_event_output,
                                            snd_seq_drain_output,
                                            snd_seq_sync_output_queue,
                                            snd_seq_poll_descriptors_count,
                                            snd_seq_poll_descriptors,
                                            ::poll};
    return functions;
}

std::unique_ptr<Ports> MakeAlsaPorts(const AlsaFunctions& functions,
                                     std::chrono::milliseconds timeout) {
    return std::make_unique<AlsaPorts>(functions, timeout);
}

} // namespace midi_ports
