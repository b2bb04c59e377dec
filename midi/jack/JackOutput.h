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
// The client and its deadlines are JackClient's (JackClient.h). A server
// that stops answering while messages wait ends the run within the deadline
// too when no message is being sent: Trouble() notices it.
//
// libjack's error and information messages are silenced; errors are reported
// in the tool's own words.
#pragma once

#include "JackClient.h"

#include <chrono>
#include <memory>

namespace midi_ports {

// Nothing here touches libjack: `load` runs when the ports are first listed
// or opened.
std::unique_ptr<Ports> MakeJackPorts(std::chrono::milliseconds timeout = kDeliveryTimeout,
                                     JackLoader load = LoadLibjack);

} // namespace midi_ports
