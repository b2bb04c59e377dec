// A JACK server of the test's own, for end-to-end tests of sending: jackd
// from Debian's jackd2 with the dummy driver, which needs no sound hardware.
// It schedules in real time where the system grants it, as audio machines
// do (and carries on without otherwise): without it a busy machine makes
// xruns in nearly every period. It runs under a name of its own,
// set as JACK_DEFAULT_SERVER for the test process and every program it
// starts, so parallel runs do not collide.
//
// Everything it starts (the server, and clients such as jack_midi_dump) is
// stopped when the object goes, clients first, on failure too, as
// ChildProcess stops its children.
#pragma once

#include "ChildProcess.h"

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class JackServer {
  public:
    // Starts the server with these options for the dummy driver ("-p", "16")
    // and waits until it takes clients; Error() says why not.
    explicit JackServer(const std::vector<std::string>& driverOptions = {});
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    const std::string& Error() const { return error_; }
    // The xruns the server has told of so far.
    int Xruns() const { return xruns_.load(); }
    const std::string& Name() const { return name_; }

    // Starts a client program (stopped with the server) and waits until the
    // port of that full name exists; false if it does not come.
    bool StartClient(const std::vector<std::string>& argv, const std::string& outputFile,
                     const std::string& port);

    // Whether the port of that full name exists.
    bool HasPort(const std::string& port) { return jack_port_by_name(client_, port.c_str()); }

    // Sends `signal` to the server (SIGSTOP, SIGCONT), or to the clients started.
    void Signal(int signal) { server_->Signal(signal); }
    void SignalClients(int signal);
    // Stops the clients started, as the server's end would.
    void StopClients() { clients_.clear(); }

  private:
    std::string name_;
    std::string error_;
    std::unique_ptr<ChildProcess> server_;
    // The test's own, for looking at ports; it has a MIDI output port that
    // sends nothing, "vantrel-test:out", and counts xruns.
    jack_client_t* client_ = nullptr;
    std::atomic<int> xruns_{0};
    std::vector<std::unique_ptr<ChildProcess>> clients_;
};

// The fixture `Base`, whose JACK server runs periods of `Frames` frames.
template <class Base, int Frames> class AtPeriod : public Base {
  protected:
    AtPeriod() : Base({"-p", std::to_string(Frames)}) {}
};

// Opens a client of the server JACK_DEFAULT_SERVER names, trying again when
// libjack fails to set it up; null if it never succeeds.
jack_client_t* OpenClient(const char* name);

// Runs of a row that a busy machine may leave without a verdict: the
// server ran no period for the tool in time, or an xrun the tool named
// makes what came unjudgeable. `run` makes and checks run number `run` and
// returns true when it judged it, or false with `why` set when the machine
// did not serve it; it checks what it can of such a run too (the status
// that names the xrun). Runs go on until `wanted` were judged, up to
// `limit` runs, and the row fails unless at least one was: a row that
// passes over every run could never fail.
void JudgeRuns(int wanted, int limit, const std::function<bool(int run, std::string& why)>& run);

// Waits until `done` holds, polling every few milliseconds, for up to
// `timeout`; returns whether it does.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
