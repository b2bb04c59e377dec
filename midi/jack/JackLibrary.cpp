// Loading libjack's functions; see JackLibrary.h.
#include "JackLibrary.h"

#include "PlatformLibrary.h"

namespace midi_ports {

const JackFunctions* LoadLibjack(std::string& error) {
    static const char* const kNames[] = {
#define VANTREL_JACK_NAME(name) "jack_" #name,
        VANTREL_JACK_FUNCTIONS(VANTREL_JACK_NAME)
#undef VANTREL_JACK_NAME
    };
    static JackFunctions table{};
    static std::string failure;
    static const bool loaded = PlatformLibrary::Fill("libjack.so.0", kNames, table, failure);
    error = failure;
    return loaded ? &table : nullptr;
}

} // namespace midi_ports
