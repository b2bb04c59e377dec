// MIDI output through the ALSA sequencer, on the client of AlsaClient.h.
//
// Each message goes as one System Exclusive event sent directly (not
// through a queue) from this client's port to its subscribers; Send then
// drains the output to the kernel and syncs it, so Finish has nothing left
// to wait for. The sequencer is open non-blocking: when the kernel cannot
// take the event yet, Send polls the sequencer's descriptors until it can,
// and fails when it still cannot at the deadline.
//
// The sequencer cannot tell a sender that a receiver dropped its data (a
// client's full input pool, a raw MIDI device's full buffer): only the
// tool's pacing guards against that.
#include "AlsaClient.h"

#include <cerrno>
#include <cstdint>

namespace midi_ports {

namespace {

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

class AlsaOutput final : public OutputPort {
  public:
    AlsaOutput(AlsaClient& client, int port, std::chrono::milliseconds timeout)
        : client_(client), lib_(client.Library()), sequencer_(client.Sequencer()), port_(port),
          timeout_(timeout) {}

    // A card's port goes through snd-seq-midi, whose output buffer of 4 KiB
    // drops silently what does not fit; the tool cannot tell a card's port
    // from another, so every port gets the card's limit.
    std::size_t MaxMessageBytes() const override { return 4096; }

    std::optional<std::string> Send(std::span<const std::uint8_t> message) override {
        snd_seq_event_t event = SysexEvent(port_, message);
        const auto deadline = Clock::now() + timeout_;
        int result = 0;
        while ((result = lib_.eventOutput(sequencer_, &event)) == -EAGAIN && Waited(deadline)) {
        }
        if (result < 0) {
            return Failure("cannot queue the message", result);
        }
        // Draining returns the bytes still waiting until the kernel has them all.
        while ((result = lib_.drainOutput(sequencer_)) != 0 && (result > 0 || result == -EAGAIN) &&
               Waited(deadline)) {
        }
        if (result != 0) {
            return Failure("cannot hand the message to the sequencer", result);
        }
        // Syncing polls until the kernel has passed the event on; a signal
        // (Ctrl-C) cuts that poll short, and the wait goes on.
        while ((result = lib_.syncOutputQueue(sequencer_)) < 0 &&
               (result == -EINTR || (result == -1 && errno == EINTR))) {
        }
        if (result < 0) {
            return client_.Because("cannot sync the sequencer's output", result);
        }
        return std::nullopt;
    }

    std::optional<std::string> Finish() override { return std::nullopt; }

  private:
    // Waits until the sequencer can take more output and returns true, or
    // returns false at the deadline (or when it cannot be polled).
    bool Waited(Clock::time_point deadline) {
        const auto left = TimeLeft(deadline);
        if (left.count() <= 0) {
            return false;
        }
        const int result = client_.Wait(POLLOUT, left);
        return result >= 0 || result == -EINTR;
    }

    std::string Failure(const std::string& what, int result) const {
        if (result > 0 || result == -EAGAIN) {
            return "the ALSA sequencer took no message for " + std::to_string(timeout_.count()) +
                   " ms";
        }
        return client_.Because(what, result);
    }

    AlsaClient& client_;
    const SequencerLibrary& lib_;
    snd_seq_t* const sequencer_;
    const int port_;
    const std::chrono::milliseconds timeout_;
};

class AlsaPorts final : public Ports {
  public:
    AlsaPorts(std::shared_ptr<AlsaClient> client, std::chrono::milliseconds timeout)
        : client_(std::move(client)), timeout_(timeout) {}

    void List(PortList& list) override { client_->List(AlsaDirection::Output, list); }

    Opened Open(const Port& wanted) override {
        const AlsaConnection connection = client_->Connect(AlsaDirection::Output, wanted);
        if (!connection.error.empty()) {
            return {nullptr, connection.error};
        }
        return {std::make_unique<AlsaOutput>(*client_, connection.self.port, timeout_), {}};
    }

  private:
    const std::shared_ptr<AlsaClient> client_;
    const std::chrono::milliseconds timeout_;
};

} // namespace

std::unique_ptr<Ports> MakeAlsaPorts(std::shared_ptr<AlsaClient> client,
                                     std::chrono::milliseconds timeout) {
    return std::make_unique<AlsaPorts>(std::move(client), timeout);
}

} // namespace midi_ports
