// MIDI output through a running JACK server, on libjack.
//
// The server is the one JACK_DEFAULT_SERVER names, or the default one; none
// is ever started. Listing gives the server's MIDI input ports as
// "jack:client:port". Opening registers one MIDI output port of this
// program's own client and connects it to the chosen destination.
//
// Sending queues each message in a lock-free ring buffer. The process
// callback moves messages from it into each period's port buffer for as long
// as jack_midi_max_event_size says the next one fits, and leaves the rest for
// the next periods, so a burst of any size is delivered whole and in order;
// Send waits only when the queue itself is full. Finishing waits until the
// queue is empty and the period that took the last message has ended. Either
// wait fails when the server takes no message for the timeout, and when the
// server shuts down.
//
// libjack's error and information messages are silenced; errors are reported
// in the tool's own words.
#pragma once

#include "MidiPorts.h"

#include <chrono>
#include <memory>
#include <string_view>

namespace midi_ports {

inline constexpr std::string_view kJackPrefix = "jack:";

std::unique_ptr<Ports> MakeJackPorts(std::chrono::milliseconds timeout = kDeliveryTimeout);

} // namespace midi_ports
