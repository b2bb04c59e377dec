// MIDI through a running JACK server, on libjack: the output ports
// (MakeJackPorts) and the sources (MakeJackInputs), and the one client that
// both directions share.
//
// The server is the one JACK_DEFAULT_SERVER names, or the default one; none
// is ever started. Listing gives the MIDI ports of other clients that take
// the direction's events, as "jack:client:port". Opening registers one MIDI
// port of this program's own client, connects it with the chosen port and
// returns once a period has run with the connection in place: the first
// message sent cannot go out before the receiver listens, and a source is
// heard from then on. libjack's error and information messages are
// silenced; errors are reported in the tool's own words.
//
// libjack is not linked. Every call goes through one table of functions
// (JackFunctions), filled from libjack.so.0 with dlopen the first time a run
// lists or connects; tests may hand in a table of their own. A run that does
// neither never loads libjack, and a missing library reads like a server
// that cannot be reached: "libjack.so.0 is not installed".
//
// Every call that may wait for the server (opening, activating, connecting,
// listing, deactivating, closing) runs on a thread of the client's own and
// is given up at a deadline, or soon after a stop is requested (Ctrl-C,
// SIGTERM). A server that stops answering (frozen, say) leaves that call
// blocked for good: the client then stalls for good too (JackShared), and
// so do the other clients of the program; they touch libjack no more and
// free nothing libjack's threads may still use.
//
// The callbacks libjack runs are never declared noexcept: libjack ends a
// process thread that does not stop in time with an asynchronous
// pthread_cancel, whose unwinding would end the whole program at a noexcept
// frame.
#pragma once

#include "MidiInputs.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <semaphore.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace midi_ports {

inline constexpr std::string_view kJackPrefix = "jack:";

// The libjack functions the back ends use, each named without its "jack_".
// clang-format off
#define VANTREL_JACK_FUNCTIONS(X) \
    X(client_open) X(client_close) X(activate) X(deactivate) X(get_client_name) X(get_ports) \
    X(free) X(port_by_name) X(port_by_id) X(port_flags) X(port_type) X(port_name) \
    X(port_register) X(port_unregister) X(port_is_mine) X(port_get_buffer) X(port_connected) \
    X(port_get_connections) X(connect) X(disconnect) X(get_sample_rate) X(get_time) \
    X(last_frame_time) X(set_process_callback) X(set_xrun_callback) X(set_port_connect_callback) \
    X(set_port_registration_callback) X(on_info_shutdown) X(set_error_function) \
    X(set_info_function) X(midi_get_event_count) X(midi_event_get) X(midi_clear_buffer) \
    X(midi_max_event_size) X(midi_event_reserve) X(midi_get_lost_event_count)
// clang-format on

struct JackFunctions {
#define VANTREL_JACK_SLOT(name) decltype(&::jack_##name) name;
    VANTREL_JACK_FUNCTIONS(VANTREL_JACK_SLOT)
#undef VANTREL_JACK_SLOT
};

// Gives the table, or null with `error` set for the user.
using JackLoader = const JackFunctions* (*)(std::string& error);

// libjack.so.0's functions, loaded on the first call.
const JackFunctions* LoadLibjack(std::string& error);

// Whether the program has been asked to stop (Ctrl-C, SIGTERM); null when
// it cannot be, and then a wait ends only at its deadline.
using StopCheck = bool (*)();

// What the JACK clients of one program share: how to tell that a stop was
// requested, and whether one of them has stalled. libjack is one per
// process, so a stall holds for every client: once a call into libjack has
// not returned by its deadline, no client touches libjack again, and the
// program must end with _exit (libjack's client cannot be closed, and its
// threads and destructors may block or run again at any time). It outlives
// the clients, so that the program can still ask once they are gone.
struct JackShared {
    StopCheck stopRequested = nullptr;
    std::atomic<bool> stalled{false};

    bool StopRequested() const { return stopRequested != nullptr && stopRequested(); }
};

// The JACK server the tool uses: JACK_DEFAULT_SERVER, or "default".
std::string ServerName();

// Why a JACK client could not be opened, from jack_client_open's status.
std::string DescribeOpenFailure(jack_status_t status);

using Clock = std::chrono::steady_clock;

// A POSIX semaphore whose waits end at a deadline on the monotonic clock,
// or at a stop request when `stoppable`. Posting is safe in the real-time
// thread.
class Semaphore {
  public:
    Semaphore() { sem_init(&semaphore_, 0, 0); }
    ~Semaphore() { sem_destroy(&semaphore_); }
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    void Post() { sem_post(&semaphore_); }

    // Posts unless a post is waiting to be taken already: a thread that
    // posts every period piles up no count.
    void Wake();

    // Waits for a post, for as long as it takes; for threads that no
    // signal reaches.
    void Wait();

    // Waits for a post; false when the deadline came first, or a stop that
    // `stop` (when not null) tells of.
    bool WaitUntil(Clock::time_point deadline, StopCheck stop);

  private:
    sem_t semaphore_;
};

// A lock-free queue of bytes between one writer and one reader, for the
// real-time thread: neither side locks or allocates.
class ByteQueue {
  public:
    explicit ByteQueue(std::size_t bytes) : data_(bytes) {}
    std::size_t Capacity() const { return data_.size(); }
    std::size_t ReadSpace() const;
    std::size_t WriteSpace() const { return data_.size() - ReadSpace(); }
    // Copies `size` bytes in or out; the caller has checked the space.
    // Peek copies without taking, from `offset` bytes past the next byte.
    void Write(const void* bytes, std::size_t size);
    void Peek(void* bytes, std::size_t size, std::size_t offset = 0) const;
    void Read(void* bytes, std::size_t size);

  private:
    std::vector<std::uint8_t> data_;
    std::atomic<std::size_t> written_{0};
    std::atomic<std::size_t> read_{0};
};

// What the callbacks of either direction share with the tool's thread about
// the connection and the server.
struct Watch {
    virtual ~Watch() = default;
    Semaphore progress;                       // posted whenever something below changes
    std::atomic<bool> live{false};            // a period has run with the connection in place
    std::atomic<bool> cut{false};             // the connect callback saw it removed
    std::atomic<bool> joined{false};          // it saw another port connected to ours
    std::atomic<bool> shutDown{false};        // the server shut down
    std::atomic<std::uint64_t> periods{0};    // periods the process callback has run
    std::atomic<std::uint64_t> registered{0}; // ports this client has registered, as told
    jack_port_t* port = nullptr;              // ours
    jack_port_t* other = nullptr;             // the port connected to ours
    jack_client_t* client = nullptr;
    const JackFunctions* jack = nullptr;
    jack_nframes_t sampleRate = 48'000;
    // The process callback's own: where the last period began, its length
    // and when it ran.
    bool ranOnce = false;
    jack_nframes_t lastStart = 0;
    jack_nframes_t lastFrames = 0;
    jack_time_t lastUsecs = 0;

    // The sender's rule (the receiver has its own, PeriodTimes.h). At the
    // start of a period of `frames`, at `now`: whether it follows the last
    // period as it should. It does not when periods were skipped, or
    // when it comes within half a period of the last: the server started it
    // while the last was still running, so what the last period carried may
    // not have been read, or read twice. (In its default, asynchronous mode
    // jackd starts every period on time even while the last one has not
    // finished, and tells of that xrun only for the first such period.)
    bool OnTime(jack_nframes_t frames, jack_time_t now);

    // For the tool's thread: whether no period has run for `timeout` while
    // it was `watching`, as seen at each call (a frozen server).
    bool Frozen(std::chrono::milliseconds timeout, bool watching = true);
    // For the tool's thread: how long no period has run, as seen at each
    // call of this or Frozen.
    Clock::duration SinceLastPeriod();
    std::uint64_t periodsSeen = 0;
    Clock::time_point periodsSeenAt = Clock::now();
};

// The client, the thread that calls libjack for it, and its one port.
class JackClient {
  public:
    // `shared`: with the program's other clients.
    JackClient(JackLoader load, std::chrono::milliseconds timeout,
               std::shared_ptr<JackShared> shared);
    ~JackClient();
    JackClient(const JackClient&) = delete;
    JackClient& operator=(const JackClient&) = delete;

    // Loads libjack and opens the client on first use; false, with the
    // reason in Error(), when it cannot.
    bool Open();
    const std::string& Error() const { return error_; }

    // The MIDI ports of other clients with `flags`, prefixed, into `list`;
    // a server that cannot be reached, or misses its deadline, is named in
    // list.unreachable ("jack: ...").
    void List(unsigned long flags, PortList& list);

    // Opens the client and attaches `watch`, which the callbacks share, to
    // `port` (as List gave it): registers this client's port (`flags` its
    // direction), starts the client, connects its port to `port` and waits
    // until a period has run with the connection in place. `watch` stays
    // as long as the client, and longer when it stalls.
    std::optional<std::string> Attach(const Port& port, unsigned long flags,
                                      std::unique_ptr<Watch> watch, JackProcessCallback process,
                                      JackXRunCallback xrun = nullptr);

    // A request that goes round through the server and back through the
    // client's notifications: once it returns, every notification the
    // server sent before (an xrun's, say) has been handled. The server
    // takes requests and sends notifications in order, on one thread.
    std::optional<std::string> RoundTrip(Watch& watch);

    // Runs `call` on the libjack thread and gives its result, or nothing
    // with `error` set when it did not return in time (the client has then
    // stalled) or threw.
    template <typename Result, typename Function>
    std::optional<Result> Call(std::string_view doing, Function call, std::string& error) {
        auto result = std::make_shared<std::optional<Result>>();
        if (!Run(
                doing, [call, result] { *result = call(); }, error)) {
            return std::nullopt;
        }
        return std::move(*result);
    }

    // Deactivates and closes the client; an error if the server does not
    // answer in time. The callbacks run no more once it has returned.
    std::optional<std::string> Close();

    // The client stalls, and the program's other clients with it: the
    // server does not pass messages on.
    void Stall();
    // What may end a wait early: the program's stop check.
    StopCheck Stop() const { return shared_->stopRequested; }
    std::chrono::milliseconds Timeout() const { return timeout_; }
    std::string NoAnswer(std::string_view doing) const;
    const JackFunctions& Jack() const { return *jack_; }
    jack_client_t* Handle() const { return client_; }

  private:
    class Thread;
    bool Run(std::string_view doing, std::function<void()> call, std::string& error);

    const JackLoader load_;
    const std::chrono::milliseconds timeout_;
    const std::shared_ptr<JackShared> shared_;
    const JackFunctions* jack_ = nullptr;
    std::unique_ptr<Thread> thread_;
    jack_client_t* client_ = nullptr;
    std::string error_;
    std::unique_ptr<Watch> watch_;
};

// Written in a queue in front of each message.
using Size = std::uint32_t;

// Each direction's client shares `shared` with the program's other JACK
// clients; null: a JackShared of its own.
std::unique_ptr<Ports> MakeJackPorts(std::chrono::milliseconds timeout = kDeliveryTimeout,
                                     JackLoader load = LoadLibjack,
                                     std::shared_ptr<JackShared> shared = nullptr);

// The ring buffer between JACK's thread and the tool's: room for a long
// burst of messages, and for a message of a megabyte.
inline constexpr std::size_t kJackInputQueueBytes = std::size_t{2} << 20;

std::unique_ptr<Inputs> MakeJackInputs(std::size_t queueBytes = kJackInputQueueBytes,
                                       std::chrono::milliseconds timeout = kDeliveryTimeout,
                                       JackLoader load = LoadLibjack,
                                       std::shared_ptr<JackShared> shared = nullptr);

} // namespace midi_ports
