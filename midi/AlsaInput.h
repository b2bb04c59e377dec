// MIDI input from the ALSA sequencer, on alsa-lib.
//
// Listing walks the sequencer's clients and the ports that send MIDI and
// accept subscriptions from others, as "alsa:client:port". Opening creates
// one port of this program's own client, writable by the sequencer but not
// open to subscriptions, and subscribes it to the chosen source; each event
// that arrives from any other sender is ignored, so only the source is heard.
// It also subscribes to the sequencer's announcements, to learn when the
// source or the subscription goes away.
//
// The kernel's raw MIDI bridges (hardware ports, Virtual Raw MIDI) hand a
// System Exclusive message on in chunks, each one event; their bytes come
// out in order, for SysexAssembler to put together. Other MIDI events come
// out as their status byte alone, enough to cut a message they interrupt;
// real-time events are left out. Waiting events sit in the client's input
// pool in the kernel, which by default holds about 5.5 KB of System
// Exclusive data: it is raised to the kernel's largest, 2000 cells (about
// 56 KB, enough for a 64 KiB message coming in chunks while the tool reads),
// and alsa-lib's input buffer with it. When the pool overflows anyway the
// kernel drops events and says so once (-ENOSPC); that is reported as a loss.
//
// Without /dev/snd/seq (as in a container) the back end is skipped quietly.
// Every alsa-lib call that reaches the sequencer goes through a table of
// functions, so tests can put in fakes.
#pragma once

#include "MidiInputs.h"

#include <alsa/asoundlib.h>

#include <cstddef>
#include <memory>

namespace midi_ports {

// The kernel's largest input pool (SNDRV_SEQ_MAX_CLIENT_EVENTS), in cells of
// 28 bytes, and an alsa-lib input buffer that holds all of it at once.
inline constexpr std::size_t kAlsaInputPoolCells = 2000;
inline constexpr std::size_t kAlsaInputBufferBytes = 128 * 1024;

struct AlsaInputFunctions {
    bool (*sequencerPresent)(); // whether the device exists
    decltype(&snd_seq_open) open;
    decltype(&snd_seq_close) close;
    decltype(&snd_seq_set_client_name) setClientName;
    decltype(&snd_seq_client_id) clientId;
    decltype(&snd_seq_query_next_client) queryNextClient;
    decltype(&snd_seq_query_next_port) queryNextPort;
    decltype(&snd_seq_set_input_buffer_size) setInputBufferSize;
    decltype(&snd_seq_set_client_pool_input) setClientPoolInput;
    decltype(&snd_seq_create_simple_port) createSimplePort;
    decltype(&snd_seq_connect_from) connectFrom;
    decltype(&snd_seq_event_input) eventInput;
    // Waits up to `milliseconds` for input: above 0 when some is there, 0
    // when none came, a negative error code when the wait failed.
    int (*waitForInput)(snd_seq_t* sequencer, int milliseconds);
};

// The real functions, /dev/snd/seq as the device, and poll() for the wait.
const AlsaInputFunctions& RealAlsaInputFunctions();

std::unique_ptr<Inputs>
MakeAlsaInputs(const AlsaInputFunctions& functions = RealAlsaInputFunctions());

} // namespace midi_ports
