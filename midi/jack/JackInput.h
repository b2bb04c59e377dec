// MIDI input from a running JACK server, on libjack.
//
// The server is the one JACK_DEFAULT_SERVER names, or the default one; none
// is ever started. Listing gives the MIDI output ports of other clients as
// "jack:client:port". Opening registers one MIDI input port of this
// program's own client and connects the chosen source to it; a connection
// anyone else makes to that port is undone, so only the source is heard.
// Until it is undone, JACK mixes the other port's events with the source's
// in one buffer: such events are dropped and reported as lost.
//
// JACK hands each MIDI event over whole, in its real-time thread. The process
// callback copies every event into a lock-free queue and wakes the tool's
// thread, which reads it. What does not reach the tool is marked in the
// queue where it happened: events that JACK itself counts as lost, events
// dropped because the queue was full (the printing fell that far behind),
// and periods that came late (an xrun: what the source sent in between may
// be gone). The connection counts as lost only when the process callback
// finds it gone or JACK says it was removed, never from timing alone; that,
// the server shutting down, or a server that runs no period for the
// deadline, ends the input.
//
// The client and its deadlines are JackClient's (JackClient.h): opening
// returns once a period has run with the connection in place, so that what
// the source sends after that is heard.
#pragma once

#include "JackClient.h"
#include "MidiInputs.h"

#include <chrono>
#include <cstddef>
#include <memory>

namespace midi_ports {

// The ring buffer between JACK's thread and the tool's: room for a long
// burst of messages, and for a message of a megabyte.
inline constexpr std::size_t kJackInputQueueBytes = std::size_t{2} << 20;

// Nothing here touches libjack: `load` runs when the sources are first
// listed or opened.
std::unique_ptr<Inputs> MakeJackInputs(std::size_t queueBytes = kJackInputQueueBytes,
                                       std::chrono::milliseconds timeout = kDeliveryTimeout,
                                       JackLoader load = LoadLibjack);

} // namespace midi_ports
