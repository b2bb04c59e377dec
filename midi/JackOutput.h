// MIDI output through a running JACK server, on libjack.
//
// The server is the one JACK_DEFAULT_SERVER names, or the default one; none
// is ever started. Listing gives the server's MIDI input ports as
// "jack:client:port". Opening registers one MIDI output port of this
// program's own client, connects it to the chosen destination and returns
// once a period has run with the connection in place, so the first message
// cannot go out before the receiver is listening.
//
// Sending queues each message in a lock-free ring buffer. The process
// callback moves messages from it into each period's port buffer, at most a
// quarter of that buffer a period (its size read from the server, at least
// one message a period), so that other sources into the same input still
// fit; the rest waits for the next periods. Send waits only when the queue
// is full; Finish waits until every message has gone out, lets the server's
// xrun notices catch up, and closes the client.
//
// Failures the back end notices on its own come back through Trouble(): the
// receiver went away or the server shut down (the messages not yet passed
// on are not delivered), or an xrun struck while messages were in flight
// (they may be lost or doubled).
//
// Every call into libjack that waits for the server runs on a thread of its
// own and is given up after the timeout. A server that stops answering
// (frozen, say) leaves that call blocked for good: the back end then stalls
// for good too (see JackStalled), touches libjack no more and frees nothing
// libjack's threads may still use.
//
// libjack's error and information messages are silenced; errors are reported
// in the tool's own words.
#pragma once

#include "MidiPorts.h"

#include <jack/jack.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace midi_ports {

inline constexpr std::string_view kJackPrefix = "jack:";

std::unique_ptr<Ports> MakeJackPorts(std::chrono::milliseconds timeout = kDeliveryTimeout);

// True once a call into libjack has not returned by its deadline. The
// program must then end with _exit: libjack's client cannot be closed, and
// its threads and destructors may block or run again at any time.
bool JackStalled();

// The JACK server the tool uses: JACK_DEFAULT_SERVER, or "default".
std::string ServerName();

// Why a JACK client could not be opened, from jack_client_open's status; for
// the output and the input back end alike.
std::string DescribeOpenFailure(jack_status_t status);

} // namespace midi_ports
