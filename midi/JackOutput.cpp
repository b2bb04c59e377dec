// The JACK back end; see JackOutput.h.
//
// Four threads meet here. The sending thread (the tool's) queues messages
// and waits. JACK's real-time thread runs the process callback: it takes no
// lock, allocates nothing, and shares only the ring buffer, atomic counters
// and a semaphore it posts. JACK's notification thread runs the xrun,
// connection and shutdown callbacks, which note what happened and post the
// same semaphore. The libjack thread makes every call that waits for the
// server, so that the sending thread can give up on it.
//
// Nothing the callbacks run is declared noexcept: libjack ends a process
// thread that does not stop in time with an asynchronous pthread_cancel,
// whose unwinding would end the whole program at a noexcept frame.
#include "JackOutput.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <pthread.h>
#include <semaphore.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace midi_ports {

namespace {

using Clock = std::chrono::steady_clock;
using Size = std::uint32_t; // written in the queue in front of each message

constexpr char kClientName[] = "vantrel-convert";
constexpr char kPortName[] = "out";
constexpr std::size_t kQueueBytes = 64 * 1024;
// Of each period's port buffer, at most this share is filled.
constexpr std::size_t kBufferShare = 4;
// How long after the period that carried a message an xrun notice may still
// come for it. The server notices an xrun at the start of the next cycle and
// tells its clients through a socket, so the notice lags the xrun by up to
// a period plus the time its threads wait for a processor.
constexpr jack_time_t kXrunNoticeUsecs = 50'000;
// libjack (1.9.21) sometimes fails to open a client, saying it could not
// initialise it or even reach the server, while a client of another JACK
// server on the machine is being opened at the same moment. So a failed open
// is tried again a few times; with no server running that costs 80 ms.
constexpr int kOpenAttempts = 5;
constexpr std::chrono::milliseconds kOpenRetryPause{20};

std::atomic<bool> stalled{false};

void Quiet(const char*) {}

// A POSIX semaphore whose waits end at a deadline on the monotonic clock,
// so that setting the wall clock moves no deadline. Posting is safe in the
// real-time thread.
class Semaphore {
  public:
    Semaphore() { sem_init(&semaphore_, 0, 0); }
    ~Semaphore() { sem_destroy(&semaphore_); }
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    void Post() { sem_post(&semaphore_); }

    // Posts unless a post is waiting to be taken already: a waiter wakes,
    // and a thread that posts every period piles up no count.
    void Wake() {
        int value = 0;
        if (sem_getvalue(&semaphore_, &value) != 0 || value == 0) {
            sem_post(&semaphore_);
        }
    }

    void Wait() {
        while (sem_wait(&semaphore_) != 0 && errno == EINTR) {
        }
    }

    // Waits for a post; false when the deadline came first.
    bool WaitUntil(Clock::time_point deadline) {
        constexpr long kBillion = 1'000'000'000;
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::max(deadline - Clock::now(), Clock::duration::zero()))
                              .count();
        timespec until{};
        clock_gettime(CLOCK_MONOTONIC, &until);
        until.tv_sec += static_cast<time_t>(left / kBillion);
        until.tv_nsec += static_cast<long>(left % kBillion);
        if (until.tv_nsec >= kBillion) {
            ++until.tv_sec;
            until.tv_nsec -= kBillion;
        }
        for (;;) {
            if (sem_clockwait(&semaphore_, CLOCK_MONOTONIC, &until) == 0) {
                return true;
            }
            if (errno != EINTR) {
                return false;
            }
        }
    }

  private:
    sem_t semaphore_;
};

// The thread that makes libjack's calls. The caller waits for each with a
// deadline; a call that misses it leaves this thread blocked, and then the
// thread and this object are left to the end of the process (Abandon).
//
// It runs with every signal blocked, and so do the threads libjack starts
// from it (they inherit the mask): signals for the program reach its own
// threads, never libjack's.
class LibjackThread {
  public:
    enum class Outcome { Returned, Threw, Late };

    LibjackThread() {
        sigset_t all;
        sigset_t before;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &before);
        try {
            thread_ = std::thread([this] { Serve(); });
        } catch (...) {
            pthread_sigmask(SIG_SETMASK, &before, nullptr);
            throw;
        }
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
    }

    // Only for a thread that is not stuck in a call.
    ~LibjackThread() {
        if (thread_.joinable()) {
            {
                std::lock_guard lock(mutex_);
                quit_ = true;
            }
            pending_.Post();
            thread_.join();
        }
    }

    // Runs `call` on the thread, waiting for it until `deadline`.
    Outcome Run(std::function<void()> call, Clock::time_point deadline) {
        auto job = std::make_shared<Job>();
        job->call = std::move(call);
        {
            std::lock_guard lock(mutex_);
            job_ = job;
        }
        pending_.Post();
        if (!job->done.WaitUntil(deadline)) {
            return Outcome::Late;
        }
        return job->threw ? Outcome::Threw : Outcome::Returned;
    }

    // Leaves the thread blocked in its call until the process ends.
    void Abandon() { thread_.detach(); }

  private:
    // Shared with the thread, so that a call returning after its caller
    // gave up writes only to memory that is still there.
    struct Job {
        std::function<void()> call;
        bool threw = false;
        Semaphore done;
    };

    void Serve() {
        for (;;) {
            pending_.Wait();
            std::shared_ptr<Job> job;
            {
                std::lock_guard lock(mutex_);
                if (quit_) {
                    return;
                }
                job = std::move(job_);
            }
            if (job != nullptr) {
                try {
                    job->call();
                } catch (...) {
                    job->threw = true;
                }
                job->done.Post();
            }
        }
    }

    std::mutex mutex_;
    std::shared_ptr<Job> job_;
    bool quit_ = false;
    Semaphore pending_;
    std::thread thread_;
};

// What ended delivery, as the back end noticed it on its own. Only the
// first one is kept.
enum class Failure : int {
    Gone,     // the receiver went away: from `first` on, nothing may have arrived
    ShutDown, // the server shut down: likewise
    TooLarge, // message `first` fits in no period's buffer and was dropped
    Xrun,     // an xrun struck while messages `first` to `last` were in flight
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
    Failure kind_ = Failure::Gone;
    std::uint64_t first_ = 0;
    std::uint64_t last_ = 0;
};

// What the callbacks and the sending thread share. Messages are numbered
// from 0 in the order of Send.
struct Shared {
    jack_client_t* client = nullptr;
    jack_port_t* port = nullptr;   // ours
    jack_port_t* target = nullptr; // the receiver's
    jack_ringbuffer_t* queue = nullptr;
    jack_nframes_t sampleRate = 48'000;
    Semaphore progress;            // posted whenever something below changes
    std::atomic<bool> live{false}; // a period has run with the connection in place
    // The largest event an empty period's port buffer holds, read each
    // period (before `live` is first set).
    std::atomic<std::size_t> emptyRoom{0};
    std::atomic<bool> cut{false};         // the connection callback saw it removed
    std::atomic<std::uint64_t> handed{0}; // messages handed to the back end
    std::atomic<std::uint64_t> taken{0};  // of those, the ones copied into a period's buffer
    // Of those, the ones copied before the last period began: the receiver
    // has read them unless it went away.
    std::atomic<std::uint64_t> read{0};
    // Of those, the ones whose period ended more than an xrun notice's delay
    // ago: no xrun can concern them any more.
    std::atomic<std::uint64_t> settled{0};
    FailureRecord failure;
    std::atomic<jack_time_t> lastXrunUsecs{0}; // when the last xrun notice came
    std::atomic<std::uint64_t> periods{0};     // periods the process callback has run
    // The process callback's own: where the last period began, its length
    // and when it ran; the count taken before a period and when that ran,
    // which becomes `settled` once old enough.
    bool ranOnce = false;
    jack_nframes_t lastStart = 0;
    jack_nframes_t lastFrames = 0;
    jack_time_t lastUsecs = 0;
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
//
// A period is not on time when periods were skipped, or when it comes
// within half a period of the last: the server started it while the last
// was still running, so the receiver may not have read what the last one
// carried, or read it twice. (In its default, asynchronous mode jackd
// starts every period on time even while the last one has not finished,
// and tells of that xrun only for the first such period.)
PeriodStart StartPeriod(Shared& shared, jack_nframes_t frames, std::uint64_t before,
                        bool& changed) {
    // The time now, not the server's estimate of when the period began:
    // that estimate is smoothed, and jumps when the server resets it.
    const jack_time_t now = jack_get_time();
    const jack_nframes_t start = jack_last_frame_time(shared.client);
    const jack_time_t periodUsecs = jack_time_t{frames} * 1'000'000 / shared.sampleRate;
    const jack_time_t xrun = shared.lastXrunUsecs.load(std::memory_order_relaxed);
    PeriodStart period{};
    period.onTime = !shared.ranOnce || (start == shared.lastStart + shared.lastFrames &&
                                        now - shared.lastUsecs >= periodUsecs / 2);
    period.calm = xrun <= now && now - xrun >= kXrunNoticeUsecs;
    period.lastBefore = shared.read.load(std::memory_order_relaxed);
    shared.periods.fetch_add(1, std::memory_order_relaxed);
    shared.ranOnce = true;
    shared.lastStart = start;
    shared.lastFrames = frames;
    shared.lastUsecs = now;
    shared.read.store(before, std::memory_order_release);

    const std::uint64_t settled = shared.settled.load(std::memory_order_relaxed);
    if (settled != shared.checkpoint &&
        now - shared.checkpointUsecs >= kXrunNoticeUsecs + periodUsecs) {
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
    const std::size_t room = jack_midi_max_event_size(buffer);
    std::uint64_t taken = before;
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
        if (taken != before &&
            room - jack_midi_max_event_size(buffer) + size > room / kBufferShare) {
            break; // this period's share is full; the next period takes it
        }
        jack_ringbuffer_read_advance(shared.queue, sizeof size);
        jack_midi_data_t* data = size <= room ? jack_midi_event_reserve(buffer, 0, size) : nullptr;
        if (data == nullptr) {
            // Not even an empty period's buffer holds it.
            jack_ringbuffer_read_advance(shared.queue, size);
            shared.failure.Set(Failure::TooLarge, taken, taken);
            return taken + 1;
        }
        jack_ringbuffer_read(shared.queue, reinterpret_cast<char*>(data), size);
        ++taken;
    }
    return taken;
}

int Process(jack_nframes_t frames, void* argument) {
    Shared& shared = *static_cast<Shared*>(argument);
    void* buffer = jack_port_get_buffer(shared.port, frames);
    jack_midi_clear_buffer(buffer);
    shared.emptyRoom.store(jack_midi_max_event_size(buffer), std::memory_order_relaxed);
    const std::uint64_t before = shared.taken.load(std::memory_order_relaxed);
    bool changed = false;
    const PeriodStart period = StartPeriod(shared, frames, before, changed);
    const std::uint64_t handed = shared.handed.load(std::memory_order_acquire);
    const bool connected = jack_port_connected(shared.port) > 0 && !shared.cut.load();
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
    Shared& shared = *static_cast<Shared*>(argument);
    shared.lastXrunUsecs.store(jack_get_time(), std::memory_order_relaxed);
    const std::uint64_t settled = shared.settled.load(std::memory_order_acquire);
    const std::uint64_t handed = shared.handed.load(std::memory_order_acquire);
    if (settled < handed) {
        shared.failure.Set(Failure::Xrun, settled, handed - 1);
        shared.progress.Wake();
    }
    return 0;
}

// The process callback rules on a removed connection at its next period,
// when it knows whether the receiver read the last one.
void OnConnection(jack_port_id_t a, jack_port_id_t b, int connected, void* argument) {
    Shared& shared = *static_cast<Shared*>(argument);
    const jack_port_t* first = jack_port_by_id(shared.client, a);
    const jack_port_t* second = jack_port_by_id(shared.client, b);
    if (connected == 0 && ((first == shared.port && second == shared.target) ||
                           (first == shared.target && second == shared.port))) {
        shared.cut.store(true);
    }
}

// No period follows: what the last one carried may not have been read.
void OnShutdown(jack_status_t, const char*, void* argument) {
    Shared& shared = *static_cast<Shared*>(argument);
    shared.failure.Set(Failure::ShutDown, shared.read.load(std::memory_order_acquire));
    shared.progress.Wake();
}

class JackPorts;

// The port of an open client, connected to its destination.
class JackOutput final : public Output {
  public:
    JackOutput(JackPorts& ports, Shared& shared) : ports_(ports), shared_(shared) {}

    // Registers the port, starts the client, connects to `destination` and
    // waits until a period has run with the connection in place.
    std::optional<std::string> Start(const std::string& destination);

    // What an empty period's buffer holds, and the send queue too.
    std::size_t MaxMessageBytes() const override {
        return std::min(shared_.emptyRoom.load(std::memory_order_relaxed),
                        kQueueBytes - 1 - sizeof(Size)); // the ring keeps one byte free
    }
    std::optional<std::string> Send(std::span<const std::uint8_t> message) override;
    std::optional<std::string> Finish() override;
    std::optional<SendFailure> Trouble() override;

  private:
    // Waits until `done` holds or a failure is noticed, for as long as the
    // server keeps passing messages on.
    template <typename Done> std::optional<std::string> WaitFor(Done done);

    JackPorts& ports_;
    Shared& shared_;
    std::string destination_;
    std::uint64_t handed_ = 0;
};

// The client, the thread that calls libjack for it, and what its callbacks
// share: all that a missed deadline leaves behind.
class JackPorts final : public Ports {
  public:
    explicit JackPorts(std::chrono::milliseconds timeout) : timeout_(timeout) {
        jack_set_error_function(Quiet);
        jack_set_info_function(Quiet);
    }

    ~JackPorts() override {
        Close();
        if (stalled.load()) {
            // libjack's threads may still run the callbacks, or the libjack
            // thread return from its call: all they use stays.
            if (thread_ != nullptr) {
                thread_->Abandon();
                thread_.release();
            }
            shared_.release();
        } else if (shared_ != nullptr && shared_->queue != nullptr) {
            jack_ringbuffer_free(shared_->queue);
        }
    }

    void List(PortList& list) override {
        if (!Connect()) {
            list.unreachable.push_back("jack: " + error_);
            return;
        }
        std::string error;
        const auto names = Call<std::vector<std::string>>(
            "listing its ports",
            [client = client_] {
                std::vector<std::string> found;
                const char** ports =
                    jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
                try {
                    for (const char** name = ports; name != nullptr && *name != nullptr; ++name) {
                        found.push_back(std::string(kJackPrefix) + *name);
                    }
                } catch (...) {
                    jack_free(ports);
                    throw;
                }
                jack_free(ports);
                return found;
            },
            error);
        if (!names) {
            list.unreachable.push_back("jack: " + error);
            return;
        }
        for (const std::string& name : *names) {
            list.ports.push_back({name, {}});
        }
    }

    Opened Open(const Port& port) override {
        const std::string_view name = port.name;
        if (!name.starts_with(kJackPrefix)) {
            return {nullptr, Quoted(name) + " is not a JACK port"};
        }
        if (!Connect()) {
            return {nullptr, error_};
        }
        if (shared_ != nullptr) {
            return {nullptr, "a JACK port is open already"};
        }
        shared_ = std::make_unique<Shared>();
        shared_->client = client_;
        auto output = std::make_unique<JackOutput>(*this, *shared_);
        if (auto error = output->Start(std::string(name.substr(kJackPrefix.size())))) {
            return {nullptr, *error};
        }
        return {std::move(output), {}};
    }

    // Runs `call` on the libjack thread and gives its result, or nothing
    // with `error` set when it did not return within the timeout (the back
    // end has then stalled) or threw.
    template <typename Result, typename Function>
    std::optional<Result> Call(std::string_view doing, Function call, std::string& error) {
        if (stalled.load()) {
            error = NoAnswer(doing);
            return std::nullopt;
        }
        auto result = std::make_shared<std::optional<Result>>();
        switch (thread_->Run([call, result] { *result = call(); }, Clock::now() + timeout_)) {
        case LibjackThread::Outcome::Returned:
            return std::move(*result);
        case LibjackThread::Outcome::Threw:
            error = "out of memory while " + std::string(doing);
            return std::nullopt;
        case LibjackThread::Outcome::Late:
            break;
        }
        stalled.store(true);
        error = NoAnswer(doing);
        return std::nullopt;
    }

    // Deactivates and closes the client; an error if the server does not
    // answer in time. The callbacks run no more once it has returned.
    std::optional<std::string> Close() {
        if (client_ == nullptr || stalled.load()) {
            return std::nullopt;
        }
        std::string error;
        Call<bool>(
            "closing the client",
            [client = client_] {
                jack_deactivate(client);
                jack_client_close(client);
                return true;
            },
            error);
        client_ = nullptr;
        return error.empty() ? std::nullopt : std::optional(error);
    }

    // The back end stalls: the server does not pass messages on.
    void Stall() { stalled.store(true); }

    std::chrono::milliseconds Timeout() const { return timeout_; }

    std::string NoAnswer(std::string_view doing) const {
        return "the JACK server " + Quoted(ServerName()) + " did not answer for " +
               std::to_string(timeout_.count()) + " ms while " + std::string(doing);
    }

  private:
    // Opens the client on first use; false, with error_ set, when it cannot.
    bool Connect() {
        if (client_ != nullptr || !error_.empty()) {
            return client_ != nullptr;
        }
        try {
            thread_ = std::make_unique<LibjackThread>();
        } catch (...) {
            error_ = "cannot start a thread for libjack";
            return false;
        }
        struct Opening {
            jack_client_t* client = nullptr;
            jack_status_t status{};
        };
        const auto opened = Call<Opening>(
            "opening a client",
            [] {
                Opening opening;
                for (int attempt = 1; attempt <= kOpenAttempts; ++attempt) {
                    opening.client =
                        jack_client_open(kClientName, JackNoStartServer, &opening.status);
                    if (opening.client != nullptr || (opening.status & JackVersionError) != 0) {
                        break;
                    }
                    std::this_thread::sleep_for(kOpenRetryPause);
                }
                return opening;
            },
            error_);
        if (opened && opened->client == nullptr) {
            error_ = DescribeOpenFailure(opened->status);
        }
        client_ = opened ? opened->client : nullptr;
        return client_ != nullptr;
    }

    const std::chrono::milliseconds timeout_;
    std::unique_ptr<LibjackThread> thread_;
    jack_client_t* client_ = nullptr;
    std::string error_;
    std::unique_ptr<Shared> shared_;
};

std::optional<std::string> JackOutput::Start(const std::string& destination) {
    std::string error;
    jack_client_t* const client = shared_.client;
    const auto target = ports_.Call<jack_port_t*>(
        "looking up the port",
        [client, destination] { return jack_port_by_name(client, destination.c_str()); }, error);
    if (!target) {
        return error;
    }
    if (*target == nullptr) {
        return "there is no JACK port " + Quoted(destination);
    }
    if ((jack_port_flags(*target) & JackPortIsInput) == 0 ||
        std::strcmp(jack_port_type(*target), JACK_DEFAULT_MIDI_TYPE) != 0) {
        return Quoted(destination) + " is not a JACK MIDI input port";
    }
    shared_.target = *target;
    shared_.sampleRate = std::max<jack_nframes_t>(jack_get_sample_rate(client), 1);
    shared_.queue = jack_ringbuffer_create(kQueueBytes);
    if (shared_.queue == nullptr) {
        return "out of memory for the send queue";
    }
    Shared* const shared = &shared_;
    const auto port = ports_.Call<jack_port_t*>(
        "registering a port",
        [client, shared] {
            jack_port_t* ours =
                jack_port_register(client, kPortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
            shared->port = ours;
            if (ours != nullptr &&
                (jack_set_process_callback(client, Process, shared) != 0 ||
                 jack_set_xrun_callback(client, OnXrun, shared) != 0 ||
                 jack_set_port_connect_callback(client, OnConnection, shared) != 0)) {
                ours = nullptr;
            }
            jack_on_info_shutdown(client, OnShutdown, shared);
            return ours;
        },
        error);
    if (!port) {
        return error;
    }
    if (*port == nullptr) {
        return "cannot create a JACK MIDI output port";
    }
    const auto activated = ports_.Call<int>(
        "activating the client", [client] { return jack_activate(client); }, error);
    if (!activated) {
        return error;
    }
    if (*activated != 0) {
        return "cannot activate the JACK client";
    }
    const auto connected = ports_.Call<int>(
        "connecting",
        [client, shared, destination] {
            return jack_connect(client, jack_port_name(shared->port), destination.c_str());
        },
        error);
    if (!connected) {
        return error;
    }
    if (*connected != 0) {
        return "cannot connect to " + Quoted(destination);
    }
    destination_ = destination;
    const auto deadline = Clock::now() + ports_.Timeout();
    while (!shared_.live.load(std::memory_order_acquire)) {
        if (shared_.failure.Any()) {
            return "the JACK server shut down";
        }
        if (!shared_.progress.WaitUntil(deadline)) {
            ports_.Stall();
            return "the JACK server " + Quoted(ServerName()) + " ran no period for " +
                   std::to_string(ports_.Timeout().count()) + " ms after connecting";
        }
    }
    return std::nullopt;
}

template <typename Done> std::optional<std::string> JackOutput::WaitFor(Done done) {
    auto deadline = Clock::now() + ports_.Timeout();
    std::uint64_t taken = shared_.taken.load(std::memory_order_acquire);
    std::uint64_t settled = shared_.settled.load(std::memory_order_acquire);
    std::uint64_t periods = shared_.periods.load(std::memory_order_relaxed);
    while (!done() && !shared_.failure.Any()) {
        const bool woken = shared_.progress.WaitUntil(deadline);
        const std::uint64_t nowTaken = shared_.taken.load(std::memory_order_acquire);
        const std::uint64_t nowSettled = shared_.settled.load(std::memory_order_acquire);
        if (nowTaken != taken || nowSettled != settled) {
            taken = nowTaken;
            settled = nowSettled;
            periods = shared_.periods.load(std::memory_order_relaxed);
            deadline = Clock::now() + ports_.Timeout();
        } else if (!woken) {
            // Periods that ran but took nothing were all too close to xruns.
            const bool running = shared_.periods.load(std::memory_order_relaxed) != periods;
            if (!running) {
                ports_.Stall();
            }
            return "the JACK server " + Quoted(ServerName()) + " passed on no message for " +
                   std::to_string(ports_.Timeout().count()) + " ms" +
                   (running ? " for its xruns" : "") + "; " + std::to_string(handed_ - taken) +
                   " still waiting";
        }
    }
    return std::nullopt;
}

std::optional<std::string> JackOutput::Send(std::span<const std::uint8_t> message) {
    const std::size_t needed = sizeof(Size) + message.size();
    if (needed >
        jack_ringbuffer_write_space(shared_.queue) + jack_ringbuffer_read_space(shared_.queue)) {
        return "a message of " + std::to_string(message.size()) +
               " bytes is larger than the send queue";
    }
    if (auto error =
            WaitFor([&] { return jack_ringbuffer_write_space(shared_.queue) >= needed; })) {
        return error;
    }
    // After a failure the message counts as handed on but is not queued:
    // Trouble() names it among those not delivered.
    if (!shared_.failure.Any()) {
        const Size size = static_cast<Size>(message.size());
        jack_ringbuffer_write(shared_.queue, reinterpret_cast<const char*>(&size), sizeof size);
        jack_ringbuffer_write(shared_.queue, reinterpret_cast<const char*>(message.data()),
                              message.size());
    }
    shared_.handed.store(++handed_, std::memory_order_release);
    return std::nullopt;
}

std::optional<std::string> JackOutput::Finish() {
    if (auto error =
            WaitFor([&] { return shared_.settled.load(std::memory_order_acquire) == handed_; })) {
        return error;
    }
    return ports_.Close();
}

std::optional<SendFailure> JackOutput::Trouble() {
    Failure kind{};
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    if (!shared_.failure.Read(kind, first, last)) {
        return std::nullopt;
    }
    if (kind == Failure::Gone || kind == Failure::ShutDown) {
        if (first >= handed_) {
            return std::nullopt; // every message was delivered before
        }
        last = handed_ - 1;
    }
    std::string what;
    switch (kind) {
    case Failure::Gone:
        what = "not delivered: the receiving port " + Quoted(destination_) + " went away";
        break;
    case Failure::ShutDown:
        what = "not delivered: the JACK server shut down";
        break;
    case Failure::TooLarge:
        what = "not delivered: the message is larger than a JACK period's MIDI buffer";
        break;
    case Failure::Xrun:
        what = "may be lost or doubled by an xrun";
        break;
    }
    return SendFailure{std::move(what), static_cast<std::size_t>(first),
                       static_cast<std::size_t>(last)};
}

} // namespace

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

std::unique_ptr<Ports> MakeJackPorts(std::chrono::milliseconds timeout) {
    return std::make_unique<JackPorts>(timeout);
}

bool JackStalled() {
    return stalled.load();
}

} // namespace midi_ports
