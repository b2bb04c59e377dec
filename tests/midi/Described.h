// What the MIDI tests compare, in words: the lines a listing shows, and each
// message or event a MessageReader hands out.
#pragma once

#include "MessageReader.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The lines --list-ports or --list-inputs shows for what `lister` lists
// into `list`.
inline std::vector<std::string> Listed(midi_ports::PortLister& lister, midi_ports::PortList& list) {
    lister.List(list);
    std::vector<std::string> lines;
    for (const midi_ports::Port& port : list.ports) {
        lines.push_back(ListLine(port));
    }
    return lines;
}
inline std::vector<std::string> Listed(midi_ports::PortLister& lister) {
    midi_ports::PortList list;
    return Listed(lister, list);
}

// "F0 01 F7" for those bytes.
template <class Bytes> std::string Hex(const Bytes& bytes) {
    std::string text;
    for (const auto byte : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, text.empty() ? "%02X" : " %02X",
                      static_cast<std::uint8_t>(byte));
        text += hex;
    }
    return text;
}

// "F0 01 F7" for a whole message, "unsure F0 01 F7", "cut by F0", "more",
// or the event's kind, whether it cut a message and what it says: "lost,
// cut: why".
inline std::string Word(const midi_ports::Received& r) {
    using Kind = midi_ports::Received::Kind;
    const char* const kKinds[] = {"",       "unsure", "cut by", "more",
                                  "broken", "lost",   "xrun",   "closed"};
    const std::string kind = kKinds[static_cast<int>(r.kind)] + std::string(r.cut ? ", cut" : "");
    const std::string bytes = r.kind == Kind::Cut ? Hex(std::vector{r.cutBy}) : Hex(r.message);
    return kind + (kind.empty() || bytes.empty() ? "" : " ") + bytes +
           (r.what.empty() ? "" : ": " + r.what);
}
