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
// callback copies every event into a lock-free ring buffer, which the tool's
// own thread reads. What does not reach the tool is reported where it
// happened: events that JACK itself counts as lost, and events dropped
// because the ring buffer was full (the printing fell that far behind).
// Losing the connection to the source, or the server, ends the input.
#pragma once

#include "MidiInputs.h"

#include <cstddef>
#include <memory>

namespace midi_ports {

// The ring buffer between JACK's thread and the tool's: room for a long
// burst of messages, and for a message of a megabyte.
inline constexpr std::size_t kJackInputQueueBytes = std::size_t{2} << 20;

std::unique_ptr<Inputs> MakeJackInputs(std::size_t queueBytes = kJackInputQueueBytes);

} // namespace midi_ports
