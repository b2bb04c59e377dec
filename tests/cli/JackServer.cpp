// The test's own JACK server and the programs started with it; see
// JackServer.h.
#include "JackServer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

namespace {

constexpr std::chrono::seconds kStartTimeout{15};
// A JACK server killed outright keeps its entry in libjack's registry of
// servers, which has room for eight, for good; so children are asked to stop
// (SIGINT, which jackd and jack_midi_dump both handle by closing cleanly) and
// killed only when they do not within this time.
constexpr std::chrono::seconds kStopTimeout{15};
// libjack sometimes fails to set up a client while a client of another JACK
// server (a test running in parallel) is being set up; such a client is
// opened or started again.
constexpr int kAttempts = 5;

void Quiet(const char*) {}

} // namespace

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& outputFile) {
    std::vector<char*> pointers;
    for (const std::string& arg : argv) {
        pointers.push_back(const_cast<char*>(arg.c_str()));
    }
    pointers.push_back(nullptr);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // Only async-signal-safe calls between fork and exec.
        prctl(PR_SET_PDEATHSIG, SIGINT);
        const int output = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int input = open("/dev/null", O_RDONLY);
        if (getppid() != parent || output < 0 || input < 0 || dup2(input, 0) < 0 ||
            dup2(output, 1) < 0 || dup2(output, 2) < 0) {
            _exit(127);
        }
        execvp(pointers[0], pointers.data());
        _exit(127);
    }
}

bool ChildProcess::Running() {
    if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
    }
    return pid_ > 0;
}

ChildProcess::~ChildProcess() {
    if (!Running()) {
        return;
    }
    kill(pid_, SIGINT);
    if (!WaitUntil([this] { return !Running(); }, kStopTimeout)) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

void ChildProcess::Signal(int signal) {
    if (Running()) {
        kill(pid_, signal);
    }
}

JackServer::JackServer(const std::vector<std::string>& driverOptions)
    : name_("vantrel-test-" + std::to_string(getpid())) {
    setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
    jack_set_error_function(Quiet);
    jack_set_info_function(Quiet);
    const std::string log = "/tmp/" + name_ + ".log";
    std::vector<std::string> argv = {"jackd", "-R", "-n", name_, "-d", "dummy"};
    argv.insert(argv.end(), driverOptions.begin(), driverOptions.end());
    server_ = std::make_unique<ChildProcess>(argv, log);
    WaitUntil(
        [this] {
            client_ = OpenClient("vantrel-test");
            return client_ != nullptr || !server_->Running();
        },
        kStartTimeout);
    if (client_ == nullptr) {
        error_ = "jackd -R -n " + name_ + " -d dummy did not start; see " + log;
    } else {
        unlink(log.c_str());
    }
}

void JackServer::SignalClients(int signal) {
    for (const auto& client : clients_) {
        client->Signal(signal);
    }
}

JackServer::~JackServer() {
    server_->Signal(SIGCONT); // a stopped server could not stop
    clients_.clear();
    if (client_ != nullptr) {
        jack_client_close(client_);
    }
    server_.reset();
    unsetenv("JACK_DEFAULT_SERVER");
}

bool JackServer::StartClient(const std::vector<std::string>& argv, const std::string& outputFile,
                             const std::string& port) {
    // A client whose set-up failed (see OpenClient) has ended: it is started again.
    for (int attempt = 0; client_ != nullptr && attempt < kAttempts; ++attempt) {
        ChildProcess& child =
            *clients_.emplace_back(std::make_unique<ChildProcess>(argv, outputFile));
        WaitUntil(
            [&] { return jack_port_by_name(client_, port.c_str()) != nullptr || !child.Running(); },
            kStartTimeout);
        if (jack_port_by_name(client_, port.c_str()) != nullptr) {
            return true;
        }
    }
    return false;
}

jack_client_t* OpenClient(const char* name) {
    jack_client_t* client = nullptr;
    for (int attempt = 0; client == nullptr && attempt < kAttempts; ++attempt) {
        client = jack_client_open(name, JackNoStartServer, nullptr);
    }
    return client;
}
