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
// libjack is not linked: every call goes through its table of functions
// (JackLibrary.h), loaded the first time a run lists or connects. A missing
// library reads like a server that cannot be reached: "libjack.so.0 is not
// installed".
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

#include "JackLibrary.h"
#include "MidiInputs.h"
#include "RealTime.h"

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
