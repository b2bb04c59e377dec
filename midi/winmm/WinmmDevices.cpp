// What WinMM's two back ends share; see WinmmDevices.h.
#include "WinmmDevices.h"

#include "Utf8.h"

namespace midi_ports {

namespace {

struct Device {
    Port port;
    UINT id;
};

// The devices whose capabilities (MIDIOUTCAPSW, MIDIINCAPSW) can be read.
template <class Caps>
std::vector<Device> Devices(UINT count, MMRESULT(WINAPI* getCaps)(UINT_PTR, Caps*, UINT)) {
    std::vector<Device> devices;
    for (UINT id = 0; id < count; ++id) {
        Caps caps{};
        if (getCaps(id, &caps, sizeof caps) == MMSYSERR_NOERROR) {
            devices.push_back({{std::string(kWinmmPrefix) + ToUtf8(std::wstring_view(caps.szPname)),
                                std::to_string(id)},
                               id});
        }
    }
    return devices;
}

std::vector<Device> Devices(const WinmmFunctions& f, WinmmDirection direction) {
    return direction == WinmmDirection::Output ? Devices(f.outGetNumDevs(), f.outGetDevCaps)
                                               : Devices(f.inGetNumDevs(), f.inGetDevCaps);
}

} // namespace

const WinmmFunctions& RealWinmmFunctions() {
#define VANTREL_WINMM_REAL(member, function) function,
    static const WinmmFunctions functions = {VANTREL_WINMM_FUNCTIONS(VANTREL_WINMM_REAL)};
#undef VANTREL_WINMM_REAL
    return functions;
}

std::string Describe(const WinmmFunctions& f, const std::string& what, MMRESULT result) {
    wchar_t text[MAXERRORLENGTH] = {};
    if (f.getErrorText(result, text, MAXERRORLENGTH) != MMSYSERR_NOERROR || text[0] == L'\0') {
        return what + ": WinMM error " + std::to_string(result);
    }
    return what + ": " + ToUtf8(std::wstring_view(text));
}

void ListWinmm(const WinmmFunctions& f, WinmmDirection direction, PortList& list) {
    for (Device& device : Devices(f, direction)) {
        list.ports.push_back(std::move(device.port));
    }
}

std::optional<UINT> FindWinmm(const WinmmFunctions& f, WinmmDirection direction, const Port& wanted,
                              std::string& error) {
    for (const Device& device : Devices(f, direction)) {
        if (device.port.name == wanted.name && device.port.address == wanted.address) {
            return device.id;
        }
    }
    error = std::string("there is no MIDI ") +
            (direction == WinmmDirection::Output ? "output" : "input") + " device " +
            Quoted(ListLine(wanted));
    return std::nullopt;
}

MidiBackEnds MakeWinmm(const WinmmFunctions& functions, std::chrono::milliseconds timeout) {
    return {MakeWinmmPorts(functions, timeout), MakeWinmmInputs(functions)};
}

} // namespace midi_ports
