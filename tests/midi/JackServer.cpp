// The test's own JACK server and the programs started with it; see
// JackServer.h.
#include "JackServer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>

#include <cstdlib>
#include <iostream>
#include <thread>

namespace {

constexpr std::chrono::seconds kStartTimeout{15};
// libjack sometimes fails to set up a client while a client of another JACK
// server (a test running in parallel) is being set up; such a client is
// opened or started again.
constexpr int kAttempts = 5;

void Quiet(const char*) {}

// A client without a process callback holds up the periods of the clients
// its ports connect to: this one has one that does nothing.
int Idle(jack_nframes_t, void*) {
    return 0;
}

int OnXrun(void* argument) {
    ++*static_cast<std::atomic<int>*>(argument);
    return 0;
}

// Starts a program with standard output and error going to `outputFile` and
// nothing on its standard input.
std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& argv,
                                    const std::string& outputFile) {
    auto child = std::make_unique<ChildProcess>(argv, ChildOptions{.outputFile = outputFile});
    child->CloseInput();
    return child;
}

} // namespace

void JudgeRuns(int wanted, int limit, const std::function<bool(int run, std::string& why)>& run) {
    int judged = 0;
    std::string passedOver;
    for (int number = 0; number < limit && judged < wanted; ++number) {
        std::string why;
        if (run(number, why)) {
            ++judged;
        } else {
            passedOver += "\n  run " + std::to_string(number) + ": " + why;
        }
        if (testing::Test::HasFatalFailure()) {
            return;
        }
    }
    EXPECT_GT(judged, 0) << "the machine served no run well enough to judge it:" << passedOver;
    if (!passedOver.empty()) {
        std::cout << "judged " << judged << " runs, passed over:" << passedOver << "\n";
    }
}

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

JackServer::JackServer(const std::vector<std::string>& driverOptions)
    : name_("vantrel-test-" + std::to_string(getpid())) {
    setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
    jack_set_error_function(Quiet);
    jack_set_info_function(Quiet);
    const std::string log = "/tmp/" + name_ + ".log";
    std::vector<std::string> argv = {"jackd", "-R", "-n", name_, "-d", "dummy"};
    argv.insert(argv.end(), driverOptions.begin(), driverOptions.end());
    server_ = Start(argv, log);
    WaitUntil(
        [this] {
            client_ = OpenClient("vantrel-test");
            return client_ != nullptr || !server_->Running();
        },
        kStartTimeout);
    if (client_ == nullptr) {
        error_ = "jackd -R -n " + name_ + " -d dummy did not start; see " + log;
    } else if (jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0) ==
                   nullptr ||
               jack_set_process_callback(client_, Idle, nullptr) != 0 ||
               jack_set_xrun_callback(client_, OnXrun, &xruns_) != 0 ||
               jack_activate(client_) != 0) {
        error_ = "cannot set up the test's client of " + name_;
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
        ChildProcess& child = *clients_.emplace_back(Start(argv, outputFile));
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
