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
// (the printing fell that far behind), and periods that came late (an xrun:
// what the source sent in between may be gone). The connection counts as
// lost only when the process callback finds it gone or JACK says it was
// removed, never from timing alone; that, the server shutting down, or a
// server that runs no period for the deadline, ends the input.
#include "JackClient.h"

#include <atomic>
#include <optional>

namespace midi_ports {

namespace {

// Written in the queue in place of a size: input was lost here; or an xrun
// struck here.
constexpr Size kLossMark = 0xFFFFFFFF;
constexpr Size kXrunMark = 0xFFFFFFFE;

// What the process callback and the tool's thread share.
struct Shared : Watch {
    explicit Shared(std::size_t queueBytes) : queue(queueBytes) {}
    ByteQueue queue;
    // The real-time thread's own: marks still to be written.
    bool lossToMark = false;
    bool xrunToMark = false;
    std::atomic<bool> gone{false};               // the process callback found no connection
    std::atomic<std::uint64_t> lostEvents{0};    // counted by JACK on the way in
    std::atomic<std::uint64_t> droppedEvents{0}; // the queue had no room for them
    std::atomic<std::uint64_t> droppedBytes{0};
    std::atomic<std::uint64_t> mixedEvents{0}; // came while another port was connected too
};

// Writes the marks due, as far as there is room; true when none is left.
bool WriteMarks(Shared& shared) {
    for (auto [due, mark] :
         {std::pair{&shared.xrunToMark, kXrunMark}, std::pair{&shared.lossToMark, kLossMark}}) {
        if (*due && shared.queue.WriteSpace() >= sizeof mark) {
            shared.queue.Write(&mark, sizeof mark);
            *due = false;
        }
    }
    return !shared.xrunToMark && !shared.lossToMark;
}

int Process(jack_nframes_t frames, void* argument) {
    Shared& shared = static_cast<Shared&>(*static_cast<Watch*>(argument));
    const JackFunctions& jack = *shared.jack;
    const bool onTime = shared.OnTime(frames, jack.get_time());
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
    } else if (!onTime) {
        // Periods were skipped or crowded: what the source sent meanwhile
        // may not have come.
        shared.xrunToMark = true;
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
        if (!WriteMarks(shared) || event.size >= kXrunMark ||
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
            if (TakeQueued(piece)) {
                return;
            }
            // With the queue empty, a loss after the last event is due now.
            if (auto loss = Losses()) {
                piece.kind = Piece::Kind::Lost;
                piece.what = *loss;
                return;
            }
            if (closed_.empty()) {
                closed_ = Ended();
            }
            if (!closed_.empty()) {
                piece.kind = Piece::Kind::Closed;
                piece.what = closed_;
                return;
            }
            // A stop request ends the wait too: the tool then stops.
            if (Clock::now() >= deadline || !shared_.progress.WaitUntil(deadline, true)) {
                piece.kind = Piece::Kind::Quiet;
                return;
            }
        }
    }

    void Stop() override { stopped_ = true; }

  private:
    // Moves the queued events into the piece, up to a mark; true, with the
    // piece's kind set, when it has something to hand out.
    bool TakeQueued(Piece& piece) {
        Size size = 0;
        std::size_t available = 0;
        while ((available = shared_.queue.ReadSpace()) >= sizeof size) {
            shared_.queue.Peek(&size, sizeof size);
            if (size == kXrunMark) {
                shared_.queue.Read(nullptr, sizeof size);
                piece.kind = Piece::Kind::Xrun;
                return true;
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
};

class JackInputs final : public Inputs {
  public:
    JackInputs(std::size_t queueBytes, std::chrono::milliseconds timeout, JackLoader load)
        : queueBytes_(queueBytes), client_(load, timeout) {}

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
                                       JackLoader load) {
    return std::make_unique<JackInputs>(queueBytes, timeout, load);
}

} // namespace midi_ports
