// The walk over the ALSA sequencer's ports that both the output and the input
// back end list from: every MIDI port of another client that has the
// capabilities asked for and is not hidden. The back ends' function tables
// differ (each has its own fake in the tests), so the walk takes either.
#pragma once

#include "AlsaOutput.h"

#include <alsa/asoundlib.h>

#include <string>

namespace midi_ports {

// Calls take(name, address) for each such port, in the sequencer's order:
// its full name ("alsa:CLIENT:PORT") and its address.
template <typename Functions, typename Take>
void EachOtherPort(const Functions& f, snd_seq_t* sequencer, unsigned capability, Take&& take) {
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* port = nullptr;
    if (snd_seq_client_info_malloc(&client) < 0 || snd_seq_port_info_malloc(&port) < 0) {
        snd_seq_client_info_free(client);
        return;
    }
    const int self = f.clientId(sequencer);
    snd_seq_client_info_set_client(client, -1);
    while (f.queryNextClient(sequencer, client) >= 0) {
        const int number = snd_seq_client_info_get_client(client);
        if (number == self) {
            continue;
        }
        snd_seq_port_info_set_client(port, number);
        snd_seq_port_info_set_port(port, -1);
        while (f.queryNextPort(sequencer, port) >= 0) {
            const unsigned has = snd_seq_port_info_get_capability(port);
            if ((has & capability) != capability || (has & SND_SEQ_PORT_CAP_NO_EXPORT) != 0 ||
                (snd_seq_port_info_get_type(port) & SND_SEQ_PORT_TYPE_MIDI_GENERIC) == 0) {
                continue;
            }
            take(std::string(kAlsaPrefix) + snd_seq_client_info_get_name(client) + ":" +
                     snd_seq_port_info_get_name(port),
                 *snd_seq_port_info_get_addr(port));
        }
    }
    snd_seq_port_info_free(port);
    snd_seq_client_info_free(client);
}

} // namespace midi_ports
