// Choosing a port by part of its name; see PortChoice.h.
#include "PortChoice.h"

#include <algorithm>
#include <cstddef>

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

void AppendIndented(std::string_view before, const std::vector<std::string>& texts,
                    std::vector<std::string>& lines) {
    for (const std::string& text : texts) {
        lines.push_back("  " + std::string(before) + text);
    }
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
    PortChoice choice;
    if (matches.size() == 1 || exact.size() == 1) {
        choice.name = matches.size() == 1 ? matches.front() : exact.front();
    } else if (matches.empty() && ports.names.empty()) {
        choice.error = DescribeNoPorts(ports);
        choice.error.front().insert(0, "no MIDI output port matches " + Quoted(wanted) + ": ");
    } else if (matches.empty()) {
        choice.error = {"no MIDI output port matches " + Quoted(wanted) +
                        "; the output ports are:"};
        AppendIndented("", ports.names, choice.error);
        AppendIndented("not reached: ", ports.unreachable, choice.error);
    } else {
        choice.error = {Quoted(wanted) + " matches several MIDI output ports:"};
        AppendIndented("", matches, choice.error);
    }
    return choice;
}

std::vector<std::string> DescribeNoPorts(const PortList& ports) {
    std::vector<std::string> lines = {"there are no MIDI output ports"};
    AppendIndented("not reached: ", ports.unreachable, lines);
    return lines;
}

} // namespace midi_ports
