// The JACK client both directions share; see JackClient.h.
#include "JackClient.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

namespace midi_ports {

namespace {

constexpr char kClientName[] = "vantrel-convert";
// libjack (1.9.21) sometimes fails to open a client, saying it could not
// initialise it or even reach the server, while a client of another JACK
// server on the machine is being opened at the same moment. So a failed open
// is tried again a few times; with no server running that costs 80 ms.
constexpr int kOpenAttempts = 5;
constexpr std::chrono::milliseconds kOpenRetryPause{20};
// How long a call into libjack may still take once a stop is requested:
// closing a live client takes a few milliseconds, and a frozen server must
// not hold the run.
constexpr std::chrono::milliseconds kGraceAfterStop{300};

void Quiet(const char*) {}

// Notes a change of the connection between the Watch's two ports, or
// another port connected to its own.
void OnConnect(jack_port_id_t a, jack_port_id_t b, int connected, void* argument) {
    Watch& watch = *static_cast<Watch*>(argument);
    const jack_port_t* first = watch.jack->port_by_id(watch.client, a);
    const jack_port_t* second = watch.jack->port_by_id(watch.client, b);
    const bool ours = first == watch.port || second == watch.port;
    const bool theirs = first == watch.other || second == watch.other;
    if (ours && (connected == 0 ? theirs : !theirs)) {
        (connected == 0 ? watch.cut : watch.joined).store(true);
        watch.progress.Wake();
    }
}

void OnRegistration(jack_port_id_t id, int registered, void* argument) {
    Watch& watch = *static_cast<Watch*>(argument);
    // A port may be gone again by the time its notice comes.
    const jack_port_t* port = watch.jack->port_by_id(watch.client, id);
    if (registered != 0 && port != nullptr && watch.jack->port_is_mine(watch.client, port) != 0) {
        watch.registered.fetch_add(1);
        watch.progress.Wake();
    }
}

void OnShutdown(jack_status_t, const char*, void* argument) {
    Watch& watch = *static_cast<Watch*>(argument);
    watch.shutDown.store(true);
    watch.progress.Wake();
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

bool Watch::OnTime(jack_nframes_t frames, jack_time_t now) {
    // The time now, not the server's estimate of when the period began:
    // that estimate is smoothed, and jumps when the server resets it.
    const jack_nframes_t start = jack->last_frame_time(client);
    const jack_time_t periodUsecs = jack_time_t{frames} * 1'000'000 / sampleRate;
    const bool onTime =
        !ranOnce || (start == lastStart + lastFrames && now - lastUsecs >= periodUsecs / 2);
    periods.fetch_add(1, std::memory_order_relaxed);
    ranOnce = true;
    lastStart = start;
    lastFrames = frames;
    lastUsecs = now;
    return onTime;
}

bool Watch::Frozen(std::chrono::milliseconds timeout, bool watching) {
    if (!watching) {
        periodsSeen = periods.load(std::memory_order_relaxed);
        periodsSeenAt = Clock::now();
        return false;
    }
    return SinceLastPeriod() >= timeout;
}

Clock::duration Watch::SinceLastPeriod() {
    const std::uint64_t now = periods.load(std::memory_order_relaxed);
    if (now != periodsSeen) {
        periodsSeen = now;
        periodsSeenAt = Clock::now();
    }
    return Clock::now() - periodsSeenAt;
}

// The thread that makes libjack's calls. The caller waits for each with a
// deadline; a call that misses it leaves this thread blocked, and then the
// client leaves the thread and this object to the end of the process: it is
// never destroyed while its thread runs.
//
// It runs with every signal blocked, and so do the threads libjack starts
// from it (they inherit the mask): signals for the program reach its own
// threads, never libjack's.
class JackClient::Thread {
  public:
    Thread() {
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

    ~Thread() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        pending_.Post();
        thread_.join();
    }

    // Runs `call` on the thread; false when `deadline` (or a stop, then
    // shortly after) came first.
    bool Run(std::function<void()> call, Clock::time_point deadline, StopCheck stop, bool& threw) {
        auto job = std::make_shared<Job>();
        job->call = std::move(call);
        {
            std::lock_guard lock(mutex_);
            job_ = job;
        }
        pending_.Post();
        bool done = job->done.WaitUntil(deadline, stop);
        if (!done && stop != nullptr && stop()) {
            done = job->done.WaitUntil(std::min(deadline, Clock::now() + kGraceAfterStop), nullptr);
        }
        threw = done && job->threw;
        return done;
    }

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

JackClient::JackClient(JackLoader load, std::chrono::milliseconds timeout,
                       std::shared_ptr<JackShared> shared)
    : load_(load), timeout_(timeout),
      shared_(shared != nullptr ? std::move(shared) : std::make_shared<JackShared>()) {}

JackClient::~JackClient() {
    Close();
    if (shared_->stalled.load()) {
        // The thread, what its call uses and what the callbacks use stay
        // for libjack's sake.
        static_cast<void>(thread_.release());
        static_cast<void>(watch_.release());
    }
}

bool JackClient::Run(std::string_view doing, std::function<void()> call, std::string& error) {
    if (shared_->stalled.load()) {
        error = NoAnswer(doing);
        return false;
    }
    bool threw = false;
    if (!thread_->Run(std::move(call), Clock::now() + timeout_, Stop(), threw)) {
        shared_->stalled.store(true);
        error = shared_->StopRequested() ? "stopped while " + std::string(doing) : NoAnswer(doing);
        return false;
    }
    if (threw) {
        error = "out of memory while " + std::string(doing);
        return false;
    }
    return true;
}

bool JackClient::Open() {
    if (client_ != nullptr || !error_.empty()) {
        return client_ != nullptr;
    }
    jack_ = load_(error_);
    if (jack_ == nullptr) {
        return false;
    }
    jack_->set_error_function(Quiet);
    jack_->set_info_function(Quiet);
    try {
        thread_ = std::make_unique<Thread>();
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
        [jack = jack_] {
            Opening opening;
            for (int attempt = 1; attempt <= kOpenAttempts; ++attempt) {
                opening.client = jack->client_open(kClientName, JackNoStartServer, &opening.status);
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

void JackClient::List(unsigned long flags, PortList& list) {
    if (!Open()) {
        list.unreachable.push_back("jack: " + error_);
        list.late = list.late || shared_->stalled.load();
        return;
    }
    std::string error;
    const auto names = Call<std::vector<std::string>>(
        "listing its ports",
        [jack = jack_, client = client_, flags] {
            std::vector<std::string> found;
            // The ports of this program's own client are not for it.
            const std::string own = std::string(jack->get_client_name(client)) + ":";
            const char** ports = jack->get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, flags);
            try {
                for (const char** name = ports; name != nullptr && *name != nullptr; ++name) {
                    if (!std::string_view(*name).starts_with(own)) {
                        found.push_back(std::string(kJackPrefix) + *name);
                    }
                }
            } catch (...) {
                jack->free(static_cast<void*>(ports));
                throw;
            }
            jack->free(static_cast<void*>(ports));
            return found;
        },
        error);
    if (!names) {
        list.unreachable.push_back("jack: " + error);
        list.late = list.late || shared_->stalled.load();
        return;
    }
    for (const std::string& name : *names) {
        list.ports.push_back({name, {}});
    }
}

std::optional<std::string> JackClient::Attach(const Port& port, unsigned long flags,
                                              std::unique_ptr<Watch> owned,
                                              JackProcessCallback process, JackXRunCallback xrun) {
    if (!port.name.starts_with(kJackPrefix)) {
        return Quoted(port.name) + " is not a JACK port";
    }
    if (!Open()) {
        return error_;
    }
    if (watch_ != nullptr) {
        return std::string("a JACK port is open already");
    }
    watch_ = std::move(owned);
    Watch& watch = *watch_;
    watch.jack = jack_;
    watch.client = client_;
    // Looking the port up, registering ours, starting the client and
    // connecting the two, in one call on the libjack thread: a text for the
    // user when one of them fails.
    std::string error;
    const auto failure = Call<std::string>(
        "connecting",
        [&jack = *jack_, client = client_, &watch, flags, process, xrun,
         other = port.name.substr(kJackPrefix.size())]() -> std::string {
            const bool sending = (flags & JackPortIsOutput) != 0;
            watch.other = jack.port_by_name(client, other.c_str());
            if (watch.other == nullptr) {
                return "there is no JACK port " + Quoted(other);
            }
            if ((jack.port_flags(watch.other) & (sending ? JackPortIsInput : JackPortIsOutput)) ==
                    0 ||
                std::strcmp(jack.port_type(watch.other), JACK_DEFAULT_MIDI_TYPE) != 0) {
                return Quoted(other) + (sending ? " is not a JACK MIDI input port"
                                                : " is not a JACK MIDI output port");
            }
            watch.sampleRate = std::max<jack_nframes_t>(jack.get_sample_rate(client), 1);
            watch.port = jack.port_register(client, sending ? "out" : "in", JACK_DEFAULT_MIDI_TYPE,
                                            flags, 0);
            if (watch.port == nullptr || jack.set_process_callback(client, process, &watch) != 0 ||
                (xrun != nullptr && jack.set_xrun_callback(client, xrun, &watch) != 0) ||
                jack.set_port_connect_callback(client, OnConnect, &watch) != 0 ||
                jack.set_port_registration_callback(client, OnRegistration, &watch) != 0) {
                return sending ? "cannot create a JACK MIDI output port"
                               : "cannot create a JACK MIDI input port";
            }
            jack.on_info_shutdown(client, OnShutdown, &watch);
            if (jack.activate(client) != 0) {
                return "cannot activate the JACK client";
            }
            const char* ours = jack.port_name(watch.port);
            if ((sending ? jack.connect(client, ours, other.c_str())
                         : jack.connect(client, other.c_str(), ours)) != 0) {
                return "cannot connect to " + Quoted(other);
            }
            return {};
        },
        error);
    if (!failure || !failure->empty()) {
        return failure ? *failure : error;
    }
    const auto deadline = Clock::now() + timeout_;
    while (!watch.live.load(std::memory_order_acquire)) {
        if (watch.shutDown.load()) {
            return "the JACK server shut down";
        }
        if (!watch.progress.WaitUntil(deadline, Stop()) &&
            !watch.live.load(std::memory_order_acquire)) {
            Stall();
            return shared_->StopRequested()
                       ? "stopped while connecting"
                       : "the JACK server " + Quoted(ServerName()) + " ran no period for " +
                             std::to_string(timeout_.count()) + " ms after connecting";
        }
    }
    return std::nullopt;
}

std::optional<std::string> JackClient::RoundTrip(Watch& watch) {
    const std::uint64_t before = watch.registered.load();
    std::string error;
    const auto port = Call<jack_port_t*>(
        "confirming",
        [jack = jack_, client = client_] {
            return jack->port_register(client, "confirm", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput,
                                       0);
        },
        error);
    if (!port || *port == nullptr) {
        return port ? "cannot register a JACK port to confirm delivery" : error;
    }
    const auto deadline = Clock::now() + timeout_;
    while (watch.registered.load() == before) {
        if (!watch.progress.WaitUntil(deadline, nullptr) && watch.registered.load() == before) {
            Stall();
            return NoAnswer("confirming");
        }
    }
    Call<int>(
        "confirming",
        [jack = jack_, client = client_, port = *port] {
            return jack->port_unregister(client, port);
        },
        error);
    return error.empty() ? std::nullopt : std::optional(error);
}

std::optional<std::string> JackClient::Close() {
    if (client_ == nullptr || shared_->stalled.load()) {
        return std::nullopt;
    }
    std::string error;
    Call<bool>(
        "closing the client",
        [jack = jack_, client = client_] {
            jack->deactivate(client);
            jack->client_close(client);
            return true;
        },
        error);
    client_ = nullptr;
    return error.empty() ? std::nullopt : std::optional(error);
}

void JackClient::Stall() {
    shared_->stalled.store(true);
}

std::string JackClient::NoAnswer(std::string_view doing) const {
    return "the JACK server " + Quoted(ServerName()) + " did not answer for " +
           std::to_string(timeout_.count()) + " ms while " + std::string(doing);
}

} // namespace midi_ports
