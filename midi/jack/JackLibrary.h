// libjack's functions as the JACK back end calls them: one table
// (JackFunctions), filled from libjack.so.0 with dlopen the first time a run
// lists or connects (PlatformLibrary.h), or handed in by a test. A run that
// does neither never loads libjack. Only libjack's headers are used, for the
// functions' types.
#pragma once

#include <jack/jack.h>
#include <jack/midiport.h>

#include <string>

namespace midi_ports {

// The libjack functions the back ends use, each named without its "jack_".
// clang-format off
#define VANTREL_JACK_FUNCTIONS(X) \
    X(client_open) X(client_close) X(activate) X(deactivate) X(get_client_name) X(get_ports) \
    X(free) X(port_by_name) X(port_by_id) X(port_flags) X(port_type) X(port_name) \
    X(port_register) X(port_unregister) X(port_is_mine) X(port_get_buffer) X(port_connected) \
    X(port_get_connections) X(connect) X(disconnect) X(get_sample_rate) X(get_time) \
    X(last_frame_time) X(set_process_callback) X(set_xrun_callback) X(set_port_connect_callback) \
    X(set_port_registration_callback) X(on_info_shutdown) X(set_error_function) \
    X(set_info_function) X(midi_get_event_count) X(midi_event_get) X(midi_clear_buffer) \
    X(midi_max_event_size) X(midi_event_reserve) X(midi_get_lost_event_count)
// clang-format on

struct JackFunctions {
#define VANTREL_JACK_SLOT(name) decltype(&::jack_##name) name;
    VANTREL_JACK_FUNCTIONS(VANTREL_JACK_SLOT)
#undef VANTREL_JACK_SLOT
};

// Gives the table, or null with `error` set for the user.
using JackLoader = const JackFunctions* (*)(std::string& error);

// libjack.so.0's functions, loaded on the first call.
const JackFunctions* LoadLibjack(std::string& error);

} // namespace midi_ports
