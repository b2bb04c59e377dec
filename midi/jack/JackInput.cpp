// MIDI input from a JACK server (MakeJackInputs in JackClient.h).
//
// Opening registers one MIDI input port of this program's own client and
// connects the chosen source to it; a connection anyone else makes to that
// port is undone, so only the source is heard. Until it is undone, JACK
// mixes the other port's events with the source's in one buffer: such events
// are dropped and reported as lost.
//
// JACK hands each MIDI event over whole, in its real-time thread. The process
// callback, which takes no lock and allocates nothing, copies every event
// into a lock-free queue and wakes the tool's thread, which reads it. What
// does not reach the tool is marked in the queue where it happened: events
// that JACK itself counts as lost, events dropped because the queue was full
// (the printing fell that far behind), and periods of the server that ran
// without this client's callback (PeriodTimes.h: what the source sent then
// is gone). A callback whose frame time leaves that in doubt puts a pending
// mark before its events, and the next callback settles it with a verdict
// mark; the tool's thread hands out nothing after a pending mark until its
// verdict has come. The connection counts as lost only when the process
// callback finds it gone or JACK says it was removed, never from timing
// alone; that, the server shutting down, or a server that runs no period
// for the deadline, ends the input.
#include "JackClient.h"
#include "PeriodTimes.h"

#include <atomic>
#include <optional>

namespace midi_ports {

namespace {

// Written in the queue in place of a size. Input was lost here; a period
// ran without the callback here; whether one did is in doubt here, until
// the verdict; the verdict: one did, or none did. Events are smaller than
// the smallest mark.
constexpr Size kLossMark = 0xFFFFFFFF;
constexpr Size kMissedMark = 0xFFFFFFFE;
constexpr Size kPendingMark = 0xFFFFFFFD;
constexpr Size kMissedVerdict = 0xFFFFFFFC;
constexpr Size kLateReadVerdict = 0xFFFFFFFB;
constexpr Size kFirstMark = kLateReadVerdict;

// What the process callback and the tool's thread share.
struct Shared : Watch {
    explicit Shared(std::size_t queueBytes) : queue(queueBytes) {}
    ByteQueue queue;
    // The real-time thread's own: how its periods follow each other, and
    // the marks still to be written, in the order they are written.
    PeriodTimes times;
    Size verdictToMark = 0; // 0 for none
    bool missedToMark = false;
    bool pendingToMark = false;
    bool lossToMark = false;
    std::atomic<bool> gone{false};               // the process callback found no connection
    std::atomic<std::uint64_t> lostEvents{0};    // counted by JACK on the way in
    std::atomic<std::uint64_t> droppedEvents{0}; // the queue had no room for them
    std::atomic<std::uint64_t> droppedBytes{0};
    std::atomic<std::uint64_t> mixedEvents{0}; // came while another port was connected too
};

// Writes the marks due, in order, as far as there is room; true when none
// is left.
bool WriteMarks(Shared& shared) {
    const auto write = [&](Size mark) {
        if (shared.queue.WriteSpace() < sizeof mark) {
            return false;
        }
        shared.queue.Write(&mark, sizeof mark);
        return true;
    };
    if (shared.verdictToMark != 0 && write(shared.verdictToMark)) {
        shared.verdictToMark = 0;
    }
    for (auto [due, mark] : {std::pair{&shared.missedToMark, kMissedMark},
                             std::pair{&shared.pendingToMark, kPendingMark},
                             std::pair{&shared.lossToMark, kLossMark}}) {
        if (*due && shared.verdictToMark == 0 && write(mark)) {
            *due = false;
        }
    }
    return shared.verdictToMark == 0 && !shared.missedToMark && !shared.pendingToMark &&
           !shared.lossToMark;
}

// Notes what the frame time of this callback says about missed periods.
void WatchPeriods(Shared& shared, jack_nframes_t frames) {
    const PeriodTimes::Verdict verdict =
        shared.times.Next(shared.jack->last_frame_time(shared.client), frames);
    if (verdict.last != PeriodTimes::Settled::Nothing) {
        // A pending mark that could not be written leaves its verdict
        // alone, which then counts as a mark of its own.
        // A verdict still waiting for room merges with this one.
        shared.pendingToMark = false;
        shared.verdictToMark =
            verdict.last == PeriodTimes::Settled::Missed || shared.verdictToMark == kMissedVerdict
                ? kMissedVerdict
                : kLateReadVerdict;
    }
    shared.missedToMark = shared.missedToMark || verdict.now == PeriodTimes::Timing::Missed;
    shared.pendingToMark = verdict.now == PeriodTimes::Timing::Unsure;
}

int Process(jack_nframes_t frames, void* argument) {
    Shared& shared = static_cast<Shared&>(*static_cast<Watch*>(argument));
    const JackFunctions& jack = *shared.jack;
    const bool live = shared.live.load(std::memory_order_relaxed);
    const int connections = jack.port_connected(shared.port);
    const std::size_t queued = shared.queue.ReadSpace();
    bool changed = false;
    if (!live) {
        if (connections > 0) {
            shared.live.store(true, std::memory_order_release);
            changed = true;
        }
    } else if (connections == 0 && !shared.gone.load(std::memory_order_relaxed)) {
        shared.gone.store(true, std::memory_order_release);
        changed = true;
    }
    shared.periods.fetch_add(1, std::memory_order_relaxed);
    // Before the connection is live nothing can be missed.
    if (live) {
        WatchPeriods(shared, frames);
    }
    void* buffer = jack.port_get_buffer(shared.port, frames);
    if (const std::uint32_t lost = jack.midi_get_lost_event_count(buffer); lost != 0) {
        shared.lostEvents.fetch_add(lost, std::memory_order_release);
        shared.lossToMark = true;
    }
    const std::uint32_t count = jack.midi_get_event_count(buffer);
    // JACK mixes what every connected port sends: while a port other than
    // the source is connected too, until the tool's thread undoes that, no
    // event can be told to be the source's.
    if (count != 0 && connections > 1) {
        shared.mixedEvents.fetch_add(count, std::memory_order_release);
        shared.lossToMark = true;
    }
    for (std::uint32_t i = 0; i < count && connections <= 1; ++i) {
        jack_midi_event_t event;
        if (jack.midi_event_get(&event, buffer, i) != 0) {
            continue;
        }
        if (!WriteMarks(shared) || event.size >= kFirstMark ||
            shared.queue.WriteSpace() < sizeof(Size) + event.size) {
            shared.droppedEvents.fetch_add(1, std::memory_order_release);
            shared.droppedBytes.fetch_add(event.size, std::memory_order_release);
            shared.lossToMark = true;
            continue;
        }
        const auto size = static_cast<Size>(event.size);
        shared.queue.Write(&size, sizeof size);
        shared.queue.Write(event.buffer, event.size);
    }
    WriteMarks(shared);
    if (changed || shared.queue.ReadSpace() != queued) {
        shared.progress.Wake();
    }
    return 0;
}

class JackInput final : public Input {
  public:
    JackInput(JackClient& client, Shared& shared, std::string source)
        : client_(client), shared_(shared), source_(std::move(source)) {}

    void Next(Piece& piece, std::chrono::milliseconds wait) override {
        piece.bytes.clear();
        piece.what.clear();
        const auto deadline = Clock::now() + (stopped_ ? std::chrono::milliseconds(0) : wait);
        for (;;) {
            if (shared_.joined.exchange(false)) {
                KeepOnlySource();
            }
            if (TakeQueued(piece, stopped_ || !closed_.empty())) {
                return;
            }
            // With the queue empty, a loss after the last event is due now.
            if (auto loss = Losses()) {
                piece.kind = Piece::Kind::Lost;
                piece.what = *loss;
                return;
            }
            if (closed_.empty() && !(closed_ = Ended()).empty()) {
                continue; // what is queued comes out first
            }
            if (!closed_.empty()) {
                piece.kind = Piece::Kind::Closed;
                piece.what = closed_;
                return;
            }
            // A stop request ends the wait too: the tool then stops.
            if (Clock::now() >= deadline || !shared_.progress.WaitUntil(deadline, client_.Stop())) {
                piece.kind = Piece::Kind::Quiet;
                return;
            }
        }
    }

    void Stop() override { stopped_ = true; }

    std::optional<std::string> Unserved(std::chrono::milliseconds quiet) override {
        const auto idle =
            std::chrono::duration_cast<std::chrono::milliseconds>(shared_.SinceLastPeriod());
        if (idle < quiet / 2) {
            return std::nullopt;
        }
        // Closing would wait for the server, which does not answer.
        client_.Stall();
        return "the JACK server " + Quoted(ServerName()) + " ran no period for " +
               std::to_string(idle.count()) + " ms";
    }

  private:
    // Moves the queued events into the piece, up to a mark; true, with the
    // piece's kind set, when it has something to hand out. A pending mark
    // holds back what follows it until its verdict has come, or, when the
    // input is `ending` and no verdict will come, counts as a missed period.
    bool TakeQueued(Piece& piece, bool ending) {
        Size size = 0;
        std::size_t available = 0;
        while ((available = shared_.queue.ReadSpace()) >= sizeof size) {
            shared_.queue.Peek(&size, sizeof size);
            if (size == kPendingMark) {
                const std::optional<Size> verdict = FindVerdict();
                if (!verdict && !ending) {
                    break;
                }
                verdictsTaken_ += verdict ? 1U : 0U;
                size = verdict.value_or(kMissedVerdict);
            } else if ((size == kMissedVerdict || size == kLateReadVerdict) && verdictsTaken_ > 0) {
                --verdictsTaken_; // taken at its pending mark
                size = kLateReadVerdict;
            }
            if (size == kMissedMark || size == kMissedVerdict) {
                shared_.queue.Read(nullptr, sizeof size);
                piece.kind = Piece::Kind::Xrun;
                return true;
            }
            if (size == kLateReadVerdict) {
                shared_.queue.Read(nullptr, sizeof size);
                continue;
            }
            if (size == kLossMark) {
                shared_.queue.Read(nullptr, sizeof size);
                if (auto loss = Losses()) {
                    piece.kind = Piece::Kind::Lost;
                    piece.what = *loss;
                    return true;
                }
                continue; // reported already, when the queue was last empty
            }
            if (available < sizeof size + size) {
                break; // the rest of the event is still being written
            }
            shared_.queue.Read(nullptr, sizeof size);
            const std::size_t at = piece.bytes.size();
            piece.bytes.resize(at + size);
            shared_.queue.Read(piece.bytes.data() + at, size);
        }
        piece.kind = Piece::Kind::Bytes;
        return !piece.bytes.empty();
    }

    // The verdict on the pending mark that comes next, once it is queued:
    // the first verdict mark after it.
    std::optional<Size> FindVerdict() const {
        const std::size_t available = shared_.queue.ReadSpace();
        for (std::size_t at = sizeof(Size); available >= at + sizeof(Size);) {
            Size size = 0;
            shared_.queue.Peek(&size, sizeof size, at);
            if (size == kMissedVerdict || size == kLateReadVerdict) {
                return size;
            }
            at += sizeof size + (size >= kFirstMark ? 0 : size);
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

    // Why the input has ended, or nothing: the connection or the server is
    // gone, or the server has run no period for the deadline.
    std::string Ended() {
        if (shared_.shutDown.load()) {
            return "the JACK server shut down";
        }
        if (shared_.gone.load(std::memory_order_acquire) || shared_.cut.load()) {
            return "the connection from " + Quoted(source_) + " was lost";
        }
        if (shared_.Frozen(client_.Timeout())) {
            client_.Stall();
            return "the JACK server " + Quoted(ServerName()) + " ran no period for " +
                   std::to_string(client_.Timeout().count()) + " ms";
        }
        return {};
    }

    // Undoes every connection to the port but the source's.
    void KeepOnlySource() {
        std::string error;
        client_.Call<bool>(
            "undoing a connection to this program's input",
            [jack = &client_.Jack(), client = client_.Handle(), port = shared_.port,
             source = source_] {
                const char** connections = jack->port_get_connections(port);
                for (const char** name = connections; name != nullptr && *name != nullptr; ++name) {
                    if (source != *name) {
                        jack->disconnect(client, *name, jack->port_name(port));
                    }
                }
                jack->free(static_cast<void*>(connections));
                return true;
            },
            error);
        if (!error.empty() && closed_.empty()) {
            closed_ = error;
        }
    }

    JackClient& client_;
    Shared& shared_;
    const std::string source_;
    bool stopped_ = false;
    std::string closed_; // why the input has ended, once it has
    // Verdicts still queued that were taken at their pending marks.
    std::size_t verdictsTaken_ = 0;
};

class JackInputs final : public Inputs {
  public:
    JackInputs(std::size_t queueBytes, std::chrono::milliseconds timeout, JackLoader load,
               std::shared_ptr<JackShared> shared)
        : queueBytes_(queueBytes), client_(load, timeout, std::move(shared)) {}

    void List(PortList& list) override { client_.List(JackPortIsOutput, list); }

    OpenedInput Open(const Port& port) override {
        auto owned = std::make_unique<Shared>(queueBytes_);
        Shared& shared = *owned;
        if (auto error = client_.Attach(port, JackPortIsInput, std::move(owned), Process)) {
            return {nullptr, *error};
        }
        return {std::make_unique<JackInput>(client_, shared, port.name.substr(kJackPrefix.size())),
                {}};
    }

  private:
    const std::size_t queueBytes_;
    JackClient client_;
};

} // namespace

std::unique_ptr<Inputs> MakeJackInputs(std::size_t queueBytes, std::chrono::milliseconds timeout,
                                       JackLoader load, std::shared_ptr<JackShared> shared) {
    return std::make_unique<JackInputs>(queueBytes, timeout, load, std::move(shared));
}

} // namespace midi_ports
