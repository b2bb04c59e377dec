// Choosing a port by part of its name; see PortChoice.h.
#include "PortChoice.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace midi_ports {

namespace {

char Fold(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameLetters(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return Fold(x) == Fold(y); });
}

bool Contains(std::string_view name, std::string_view part) {
    return std::search(name.begin(), name.end(), part.begin(), part.end(),
                       [](char x, char y) { return Fold(x) == Fold(y); }) != name.end();
}

bool NamesExactly(std::string_view name, std::string_view wanted) {
    const std::size_t prefixEnd = name.find(':');
    return SameLetters(name, wanted) ||
           (prefixEnd != std::string_view::npos && SameLetters(name.substr(prefixEnd + 1), wanted));
}

std::string Unreachable(const PortList& ports) {
    std::string lines;
    for (const std::string& text : ports.unreachable) {
        lines += "\n  not reached: " + text;
    }
    return lines;
}

std::string Listed(const std::vector<std::string>& names) {
    std::string lines;
    for (const std::string& name : names) {
        lines += "\n  " + name;
    }
    return lines;
}

} // namespace

PortChoice ChoosePort(const PortList& ports, std::string_view wanted) {
    std::vector<std::string> matches;
    std::vector<std::string> exact;
    for (const std::string& name : ports.names) {
        if (Contains(name, wanted)) {
            matches.push_back(name);
            if (NamesExactly(name, wanted)) {
                exact.push_back(name);
            }
        }
    }
    if (matches.size() == 1 || exact.size() == 1) {
        return {matches.size() == 1 ? matches.front() : exact.front(), {}};
    }
    if (matches.empty()) {
        std::string error = "no MIDI output port matches " + Quoted(wanted);
        error += ports.names.empty()
                     ? ": " + DescribeNoPorts(ports)
                     : "; the output ports are:" + Listed(ports.names) + Unreachable(ports);
        return {{}, error};
    }
    return {{}, Quoted(wanted) + " matches several MIDI output ports:" + Listed(matches)};
}

std::string DescribeNoPorts(const PortList& ports) {
    return "there are no MIDI output ports" + Unreachable(ports);
}

} // namespace midi_ports
