// MIDI output through the ALSA sequencer, on alsa-lib.
//
// Listing walks the sequencer's clients and the ports that take MIDI and
// accept both writes and subscriptions, as "alsa:client:port" with the
// address "14:0" (client and port numbers), as aconnect and aplaymidi -p
// name them. Opening creates one port of this program's own client and
// connects it to the destination at that address. Each message goes as one
// System Exclusive event sent directly (not through a queue); Send then
// drains the output to the kernel and syncs it, so Finish has nothing left
// to wait for. The sequencer is opened non-blocking: when the kernel cannot
// take the event yet, Send polls the sequencer's descriptors until it can,
// and fails when it still cannot at the deadline.
//
// The sequencer cannot tell a sender that a receiver dropped its data (a
// client's full input pool, a raw MIDI device's full buffer): only the
// tool's pacing guards against that.
//
// Without /dev/snd/seq (as in a container) the back end is skipped quietly:
// no ports, and nothing said. alsa-lib's error messages are silenced.
//
// Every alsa-lib call that reaches the sequencer goes through a table of
// functions, so tests can put in fakes (an open that fails, a drain that
// takes long or never ends). The structures alsa-lib fills are still read
// with its own accessors.
#pragma once

#include "MidiPorts.h"

#include <alsa/asoundlib.h>
#include <poll.h>

#include <chrono>
#include <memory>
#include <string_view>

namespace midi_ports {

inline constexpr std::string_view kAlsaPrefix = "alsa:";

struct AlsaFunctions {
    bool (*sequencerPresent)(); // whether the device exists
    decltype(&snd_seq_open) open;
    decltype(&snd_seq_close) close;
    decltype(&snd_seq_set_client_name) setClientName;
    decltype(&snd_seq_client_id) clientId;
    decltype(&snd_seq_query_next_client) queryNextClient;
    decltype(&snd_seq_query_next_port) queryNextPort;
    decltype(&snd_seq_create_simple_port) createSimplePort;
    decltype(&snd_seq_connect_to) connectTo;
    decltype(&snd_seq_event_output) eventOutput;
    decltype(&snd_seq_drain_output) drainOutput;
    decltype(&snd_seq_sync_output_queue) syncOutputQueue;
    decltype(&snd_seq_poll_descriptors_count) pollDescriptorsCount;
    decltype(&snd_seq_poll_descriptors) pollDescriptors;
    int (*poll)(pollfd* descriptors, nfds_t count, int milliseconds);
};

// The real functions, and /dev/snd/seq as the device.
const AlsaFunctions& RealAlsaFunctions();

std::unique_ptr<Ports> MakeAlsaPorts(const AlsaFunctions& functions = RealAlsaFunctions(),
                                     std::chrono::milliseconds timeout = kDeliveryTimeout);

} // namespace midi_ports
