// MIDI output through a JACK server (MakeJackPorts in JackClient.h).
//
// Sending queues each message in a lock-free ring buffer. The process
// callback moves messages from it into each period's port buffer, at most a
// quarter of that buffer a period (at least one message), so that other
// sources into the same input still fit; the rest waits for the next
// periods. Send waits only when the queue is full; Finish waits until every
// message has gone out, lets the server's xrun notices catch up, and closes
// the client. Failures noticed on their own come back through Trouble(): the
// receiver went away or the server shut down (what was not yet passed on is
// not delivered), an xrun struck while messages were in flight (they may be
// lost or doubled), or the server stopped answering while input was idle.
//
// Four threads meet here. The sending thread (the tool's) queues messages
// and waits. JACK's real-time thread runs the process callback: it takes no
// lock, allocates nothing, and shares only the queue, atomic counters and a
// semaphore it posts. JACK's notification thread runs the xrun, connection
// and shutdown callbacks, which note what happened and post the same
// semaphore. The client's own thread makes every call that waits for the
// server (JackClient.h).
#include "JackClient.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace midi_ports {

namespace {

constexpr std::size_t kQueueBytes = 64 * 1024;
// Of each period's port buffer, at most this share is filled.
constexpr std::size_t kBufferShare = 4;
// How long after the period that carried a message an xrun notice may still
// come for it. The server notices an xrun at the start of the next cycle and
// tells its clients through a socket, so the notice lags the xrun by up to
// a period plus the time its threads wait for a processor.
constexpr jack_time_t kXrunNoticeUsecs = 50'000;

// What ended delivery, as the back end noticed it on its own. Only the
// first one is kept.
enum class Failure : int {
    Gone,        // the receiver went away: from `first` on, nothing may have arrived
    ShutDown,    // the server shut down: likewise
    TooLarge,    // message `first` fits in no period's buffer and was dropped
    Xrun,        // an xrun struck while messages `first` to `last` were in flight
    Frozen,      // the server ran no period for the deadline: from `first` on, unconfirmed
    Stuck,       // periods ran, but all too close to xruns to pass anything on
    Unconfirmed, // the round trip of Finish did not come back in time
};

class FailureRecord {
  public:
    // Keeps the failure if it is the first; safe in every thread.
    void Set(Failure kind, std::uint64_t first, std::uint64_t last = 0) {
        int expected = kFree;
        if (state_.compare_exchange_strong(expected, kWriting, std::memory_order_acquire)) {
            kind_ = kind;
            first_ = first;
            last_ = last;
            state_.store(kWritten, std::memory_order_release);
        }
    }

    // Notes that messages from `first` on may be concerned too: an xrun
    // notice that came after the failure was noted. Safe in every thread.
    void Widen(std::uint64_t first) {
        std::uint64_t now = widened_.load();
        while (first < now && !widened_.compare_exchange_weak(now, first)) {
        }
    }
    std::uint64_t Widened() const { return widened_.load(); }

    // Forgets the failure, for sending taken up again. The real-time
    // thread's own, at the start of a period.
    void Clear() {
        widened_.store(UINT64_MAX);
        state_.store(kFree, std::memory_order_release);
    }

    // True once a failure has been noticed, even while it is being written.
    bool Any() const { return state_.load(std::memory_order_acquire) != kFree; }

    // The failure, once written: kind, first and last.
    bool Read(Failure& kind, std::uint64_t& first, std::uint64_t& last) const {
        if (state_.load(std::memory_order_acquire) != kWritten) {
            return false;
        }
        kind = kind_;
        first = first_;
        last = last_;
        return true;
    }

  private:
    static constexpr int kFree = 0;
    static constexpr int kWriting = 1;
    static constexpr int kWritten = 2;
    std::atomic<int> state_{kFree};
    std::atomic<std::uint64_t> widened_{UINT64_MAX};
    Failure kind_ = Failure::Gone;
    std::uint64_t first_ = 0;
    std::uint64_t last_ = 0;
};

// What the callbacks and the sending thread share. Messages are numbered
// from 0 in the order of Send.
struct Shared : Watch {
    ByteQueue queue{kQueueBytes};
    // The largest event an empty period's port buffer holds, read each
    // period (before `live` is first set).
    std::atomic<std::size_t> emptyRoom{0};
    std::atomic<std::uint64_t> handed{0}; // messages handed to the back end
    std::atomic<std::uint64_t> taken{0};  // of those, the ones copied into a period's buffer
    // Of those, the ones copied before the last period began: the receiver
    // has read them unless it went away.
    std::atomic<std::uint64_t> read{0};
    // Of those, the ones whose period ended more than an xrun notice's delay
    // ago: no xrun can concern them any more.
    std::atomic<std::uint64_t> settled{0};
    // Its value before it last grew, and whether Finish is confirming: an
    // xrun notice that comes then, late, concerns what it grew by.
    std::atomic<std::uint64_t> settledBefore{0};
    std::atomic<bool> finishing{false};
    FailureRecord failure;
    std::atomic<jack_time_t> lastXrunUsecs{0}; // when the last xrun notice came
    // Taking sending up again after an xrun: the tool's thread asks for a
    // new generation, from message `resumeFrom` on; the process callback
    // drops what is queued, counts from there, and says it has done so.
    std::atomic<std::uint64_t> resumeFrom{0};
    std::atomic<std::uint64_t> generation{0};
    std::atomic<std::uint64_t> generationTaken{0};
    // The process callback's own: the count taken before a period and when
    // that ran, which becomes `settled` once old enough.
    std::uint64_t checkpoint = 0;
    jack_time_t checkpointUsecs = 0;
};

// What the process callback learns at the start of a period.
struct PeriodStart {
    bool onTime;              // it follows the last period as it should
    bool calm;                // no xrun notice came lately
    std::uint64_t lastBefore; // the count taken before the last period
};

// The process callback's bookkeeping at the start of a period of `frames`,
// `before` messages having been taken by earlier periods. Sets `changed`
// when `settled` changes.
PeriodStart StartPeriod(Shared& shared, jack_nframes_t frames, std::uint64_t before,
                        bool& changed) {
    const jack_time_t now = shared.jack->get_time();
    const jack_time_t periodUsecs = jack_time_t{frames} * 1'000'000 / shared.sampleRate;
    const jack_time_t xrun = shared.lastXrunUsecs.load(std::memory_order_relaxed);
    PeriodStart period{};
    period.onTime = shared.OnTime(frames, now);
    period.calm = xrun <= now && now - xrun >= kXrunNoticeUsecs;
    period.lastBefore = shared.read.load(std::memory_order_relaxed);
    shared.read.store(before, std::memory_order_release);

    const std::uint64_t settled = shared.settled.load(std::memory_order_relaxed);
    if (settled != shared.checkpoint &&
        now - shared.checkpointUsecs >= kXrunNoticeUsecs + periodUsecs) {
        shared.settledBefore.store(settled, std::memory_order_relaxed);
        shared.settled.store(shared.checkpoint, std::memory_order_release);
        changed = true;
    }
    if (shared.settled.load(std::memory_order_relaxed) == shared.checkpoint &&
        before != shared.checkpoint) {
        shared.checkpoint = before;
        shared.checkpointUsecs = now;
    }
    return period;
}

// Moves messages from the queue into the port buffer: at most its share,
// but at least one. Returns the count taken in all.
std::uint64_t Take(Shared& shared, void* buffer, std::uint64_t before) {
    const JackFunctions& jack = *shared.jack;
    const std::size_t room = jack.midi_max_event_size(buffer);
    std::uint64_t taken = before;
    for (;;) {
        Size size = 0;
        const std::size_t available = shared.queue.ReadSpace();
        if (available < sizeof size) {
            break;
        }
        shared.queue.Peek(&size, sizeof size);
        if (available < sizeof size + size) {
            break; // the rest of the message is still being written
        }
        if (taken != before &&
            room - jack.midi_max_event_size(buffer) + size > room / kBufferShare) {
            break; // this period's share is full; the next period takes it
        }
        shared.queue.Read(nullptr, sizeof size);
        jack_midi_data_t* data = size <= room ? jack.midi_event_reserve(buffer, 0, size) : nullptr;
        if (data == nullptr) {
            // Not even an empty period's buffer holds it.
            shared.queue.Read(nullptr, size);
            shared.failure.Set(Failure::TooLarge, taken, taken);
            return taken + 1;
        }
        shared.queue.Read(data, size);
        ++taken;
    }
    return taken;
}

// Takes up a new generation of messages, if one was asked for: what is
// still queued was handed on before the xrun and comes again, so it goes,
// and the counts start again at the first message not confirmed.
bool TakeGeneration(Shared& shared) {
    const std::uint64_t generation = shared.generation.load(std::memory_order_acquire);
    if (generation == shared.generationTaken.load(std::memory_order_relaxed)) {
        return false;
    }
    shared.queue.Read(nullptr, shared.queue.ReadSpace());
    const std::uint64_t from = shared.resumeFrom.load(std::memory_order_relaxed);
    for (auto* count : {&shared.taken, &shared.read, &shared.settled, &shared.settledBefore}) {
        count->store(from, std::memory_order_relaxed);
    }
    shared.checkpoint = from;
    shared.failure.Clear();
    shared.generationTaken.store(generation, std::memory_order_release);
    return true;
}

int Process(jack_nframes_t frames, void* argument) {
    Shared& shared = static_cast<Shared&>(*static_cast<Watch*>(argument));
    const JackFunctions& jack = *shared.jack;
    void* buffer = jack.port_get_buffer(shared.port, frames);
    jack.midi_clear_buffer(buffer);
    if (TakeGeneration(shared)) {
        shared.progress.Wake();
    }
    shared.emptyRoom.store(jack.midi_max_event_size(buffer), std::memory_order_relaxed);
    const std::uint64_t before = shared.taken.load(std::memory_order_relaxed);
    bool changed = false;
    const PeriodStart period = StartPeriod(shared, frames, before, changed);
    const std::uint64_t handed = shared.handed.load(std::memory_order_acquire);
    const bool connected = jack.port_connected(shared.port) > 0 && !shared.cut.load();
    // What the last period carried may not have been read when this period
    // is not on time, or when the connection is gone (the receiver may have
    // died before the last period; the server then ends that period early).
    if (shared.failure.Any()) {
        // After a failure nothing more goes out.
    } else if (!connected && shared.live.load(std::memory_order_relaxed)) {
        shared.failure.Set(Failure::Gone, period.lastBefore);
        changed = true;
    } else if (!period.onTime && period.lastBefore != before) {
        shared.failure.Set(Failure::Xrun, period.lastBefore, handed - 1);
        changed = true;
    } else if (connected) {
        // Messages go out only once someone listens, and not while the
        // graph may still be catching up after an xrun.
        if (!shared.live.load(std::memory_order_relaxed)) {
            shared.live.store(true, std::memory_order_release);
            changed = true;
        }
        if (const std::uint64_t taken = period.calm ? Take(shared, buffer, before) : before;
            taken != before) {
            shared.taken.store(taken, std::memory_order_release);
            changed = true;
        }
    }
    if (changed) {
        shared.progress.Wake();
    }
    return 0;
}

int OnXrun(void* argument) {
    Shared& shared = static_cast<Shared&>(*static_cast<Watch*>(argument));
    shared.lastXrunUsecs.store(shared.jack->get_time(), std::memory_order_relaxed);
    std::uint64_t settled = shared.settled.load(std::memory_order_acquire);
    const std::uint64_t handed = shared.handed.load(std::memory_order_acquire);
    if (settled == handed && shared.finishing.load()) {
        settled = shared.settledBefore.load(std::memory_order_relaxed);
    }
    if (settled < handed) {
        shared.failure.Set(Failure::Xrun, settled, handed - 1);
        shared.failure.Widen(settled);
        shared.progress.Wake();
    }
    return 0;
}

// The port of an open client, connected to its destination.
class JackOutput final : public OutputPort {
  public:
    JackOutput(JackClient& client, Shared& shared) : client_(client), shared_(shared) {}

    // What an empty period's buffer holds, and the send queue too.
    std::size_t MaxMessageBytes() const override {
        return std::min(shared_.emptyRoom.load(std::memory_order_relaxed),
                        kQueueBytes - sizeof(Size));
    }
    std::optional<std::string> Send(std::span<const std::uint8_t> message) override;
    std::optional<std::string> Finish() override;
    std::optional<SendFailure> Trouble() override;
    std::optional<std::size_t> Resume() override;
    std::size_t Confirmed() const override {
        return static_cast<std::size_t>(shared_.settled.load(std::memory_order_acquire));
    }

    std::string destination;

  private:
    // Waits until `done` holds or a failure is noticed, for as long as the
    // server keeps passing messages on; a server that stops doing so is
    // noted as a failure.
    template <typename Done> void WaitFor(Done done);

    // Whether a failure has been noticed; a shutdown the client saw becomes
    // one here.
    bool Failed() {
        if (shared_.shutDown.load()) {
            // No period follows: what the last one carried may not have been read.
            shared_.failure.Set(Failure::ShutDown, shared_.read.load(std::memory_order_acquire));
        }
        return shared_.failure.Any();
    }

    // Notes a failure when no period has run for the deadline since a
    // message was handed on: a frozen server, which would hold the run.
    void WatchServer();

    JackClient& client_;
    Shared& shared_;
    std::uint64_t handed_ = 0;
    std::string unconfirmed_;  // why the round trip of Finish failed
    bool goneChecked_ = false; // the round trip after a receiver went away is made
};

class JackPorts final : public Ports {
  public:
    JackPorts(std::chrono::milliseconds timeout, JackLoader load,
              std::shared_ptr<JackShared> shared)
        : client_(load, timeout, std::move(shared)) {}

    void List(PortList& list) override { client_.List(JackPortIsInput, list); }

    Opened Open(const Port& port) override {
        auto owned = std::make_unique<Shared>();
        Shared& shared = *owned;
        if (auto error =
                client_.Attach(port, JackPortIsOutput, std::move(owned), Process, OnXrun)) {
            return {nullptr, *error};
        }
        auto output = std::make_unique<JackOutput>(client_, shared);
        output->destination = port.name.substr(kJackPrefix.size());
        return {std::move(output), {}};
    }

  private:
    JackClient client_;
};

void JackOutput::WatchServer() {
    if (shared_.Frozen(client_.Timeout(), handed_ != 0)) {
        client_.Stall();
        shared_.failure.Set(Failure::Frozen, shared_.settled.load(std::memory_order_acquire));
    }
}

template <typename Done> void JackOutput::WaitFor(Done done) {
    auto deadline = Clock::now() + client_.Timeout();
    std::uint64_t taken = shared_.taken.load(std::memory_order_acquire);
    std::uint64_t settled = shared_.settled.load(std::memory_order_acquire);
    std::uint64_t periods = shared_.periods.load(std::memory_order_relaxed);
    while (!done() && !Failed()) {
        // Messages handed on are delivered whatever is asked: no stop cuts
        // this wait short.
        const bool woken = shared_.progress.WaitUntil(deadline, nullptr);
        const std::uint64_t nowTaken = shared_.taken.load(std::memory_order_acquire);
        const std::uint64_t nowSettled = shared_.settled.load(std::memory_order_acquire);
        if (nowTaken != taken || nowSettled != settled) {
            taken = nowTaken;
            settled = nowSettled;
            periods = shared_.periods.load(std::memory_order_relaxed);
            deadline = Clock::now() + client_.Timeout();
        } else if (!woken) {
            // Periods that ran but took nothing were all too close to xruns.
            const bool running = shared_.periods.load(std::memory_order_relaxed) != periods;
            if (!running) {
                client_.Stall();
            }
            shared_.failure.Set(running ? Failure::Stuck : Failure::Frozen, nowSettled);
            return;
        }
    }
}

std::optional<std::string> JackOutput::Send(std::span<const std::uint8_t> message) {
    const std::size_t needed = sizeof(Size) + message.size();
    if (needed > shared_.queue.Capacity()) {
        return "a message of " + std::to_string(message.size()) +
               " bytes is larger than the send queue";
    }
    WaitFor([&] { return shared_.queue.WriteSpace() >= needed; });
    // After a failure the message counts as handed on but is not queued:
    // Trouble() names it among those not delivered.
    if (!shared_.failure.Any()) {
        const Size size = static_cast<Size>(message.size());
        shared_.queue.Write(&size, sizeof size);
        shared_.queue.Write(message.data(), message.size());
    }
    shared_.handed.store(++handed_, std::memory_order_release);
    return std::nullopt;
}

std::optional<std::string> JackOutput::Finish() {
    WaitFor([&] { return shared_.settled.load(std::memory_order_acquire) == handed_; });
    // Under load an xrun notice may come later than its window: the round
    // trip lets the notices sent so far arrive.
    shared_.finishing.store(true);
    if (!Failed() && handed_ != 0) {
        if (auto error = client_.RoundTrip(shared_)) {
            // The server's notices are held up for as long as it has not
            // answered, which may be since any period of the run: an xrun's
            // may yet come for any message, so none is confirmed.
            unconfirmed_ = *error;
            shared_.failure.Set(Failure::Unconfirmed, 0);
            return std::nullopt;
        }
    }
    return client_.Close();
}

std::optional<SendFailure> JackOutput::Trouble() {
    Failure kind{};
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    if (!Failed()) {
        WatchServer();
    }
    if (!shared_.failure.Read(kind, first, last) || handed_ == 0) {
        return std::nullopt;
    }
    // A receiver that died went on looking connected until the server
    // noticed; the xrun notices of those periods may still be on their way.
    if (kind == Failure::Gone && !goneChecked_) {
        goneChecked_ = true;
        client_.RoundTrip(shared_);
    }
    const bool widened = kind == Failure::Gone && shared_.failure.Widened() < first;
    first = widened ? shared_.failure.Widened() : first;
    // Every message handed on that no period confirmed is named.
    if (kind != Failure::TooLarge) {
        if (first >= handed_ && (kind == Failure::Gone || kind == Failure::ShutDown)) {
            return std::nullopt; // every message was delivered before
        }
        first = std::min(first, handed_ - 1);
        last = handed_ - 1;
    }
    const std::string server = "the JACK server " + Quoted(ServerName());
    const std::string timeout = std::to_string(client_.Timeout().count()) + " ms";
    std::string what;
    switch (kind) {
    case Failure::Gone:
        what = (widened ? "may not have been delivered" : "not delivered") +
               std::string(": the receiving port ") + Quoted(destination) + " went away";
        break;
    case Failure::ShutDown:
        what = "not delivered: " + server + " shut down";
        break;
    case Failure::TooLarge:
        what = "not delivered: the message is larger than a JACK period's MIDI buffer";
        break;
    case Failure::Xrun:
        what = "may be lost or doubled by an xrun";
        break;
    case Failure::Frozen:
        what = shared_.settled.load(std::memory_order_acquire) == handed_
                   ? "delivered, but then " + server + " ran no period for " + timeout
                   : "not confirmed: " + server + " ran no period for " + timeout;
        break;
    case Failure::Unconfirmed:
        what = "not confirmed: " + unconfirmed_;
        break;
    case Failure::Stuck:
        what =
            "not confirmed: " + server + " passed on no message for " + timeout + " for its xruns";
        break;
    }
    return SendFailure{std::move(what), static_cast<std::size_t>(first),
                       static_cast<std::size_t>(last), kind == Failure::Xrun && !widened};
}

std::optional<std::size_t> JackOutput::Resume() {
    Failure kind{};
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    if (!shared_.failure.Read(kind, first, last) || kind != Failure::Xrun ||
        shared_.shutDown.load()) {
        return std::nullopt;
    }
    // From the first message no period has confirmed, which is at most
    // where the xrun struck.
    const std::uint64_t from = std::min(first, shared_.settled.load(std::memory_order_acquire));
    shared_.resumeFrom.store(from, std::memory_order_relaxed);
    const std::uint64_t generation = shared_.generation.fetch_add(1) + 1;
    const auto deadline = Clock::now() + client_.Timeout();
    while (shared_.generationTaken.load(std::memory_order_acquire) != generation) {
        if (!shared_.progress.WaitUntil(deadline, nullptr) &&
            shared_.generationTaken.load(std::memory_order_acquire) != generation) {
            // No period ran to take it up: the server froze, and that is
            // the failure now.
            client_.Stall();
            shared_.failure.Clear();
            shared_.failure.Set(Failure::Frozen, from);
            return std::nullopt;
        }
    }
    shared_.finishing.store(false);
    handed_ = from;
    shared_.handed.store(from, std::memory_order_release);
    return static_cast<std::size_t>(from);
}

} // namespace

std::unique_ptr<Ports> MakeJackPorts(std::chrono::milliseconds timeout, JackLoader load,
                                     std::shared_ptr<JackShared> shared) {
    return std::make_unique<JackPorts>(timeout, load, std::move(shared));
}

} // namespace midi_ports
