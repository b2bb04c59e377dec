// Choosing a port by its address or its name; see PortChoice.h.
#include "PortChoice.h"

#include <algorithm>
#include <cstddef>
#include <functional>

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

// The name after the back end's prefix: "midi-monitor:input" for
// "jack:midi-monitor:input".
std::string_view WithoutPrefix(std::string_view name) {
    const std::size_t prefixEnd = name.find(':');
    return prefixEnd == std::string_view::npos ? name : name.substr(prefixEnd + 1);
}

// A run of at most nine digits read as a number without leading zeros;
// nothing when `text` is not one.
std::optional<std::string> Number(std::string_view text) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const std::size_t first = std::min(text.find_first_not_of('0'), text.size() - 1);
    return std::string(text.substr(first));
}

// An argument in address form: the prefix it names (empty for none) and
// the address as the back ends write it.
struct Address {
    std::string prefix; // "alsa:", "winmm:", or empty for any
    std::string address;
};

// "hw:1,0,0" and "alsa:hw:1,0,0" (a card, a device and a subdevice), the
// card also by its ID ("hw:Gadget,0,0").
std::optional<Address> ReadDeviceAddress(std::string_view wanted) {
    std::string prefix;
    if (const std::size_t colon = wanted.find(':');
        !wanted.starts_with("hw:") && colon != std::string_view::npos) {
        prefix = wanted.substr(0, colon + 1);
        wanted.remove_prefix(colon + 1);
    }
    if (!wanted.starts_with("hw:")) {
        return std::nullopt;
    }
    wanted.remove_prefix(3);
    const std::size_t first = wanted.find(',');
    const std::size_t second = wanted.find(',', first + (first != std::string_view::npos));
    if (first == 0 || second == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view card = wanted.substr(0, first);
    const auto device = Number(wanted.substr(first + 1, second - first - 1));
    const auto subdevice = Number(wanted.substr(second + 1));
    if (!device || !subdevice || card.find(':') != std::string_view::npos) {
        return std::nullopt;
    }
    return Address{prefix, "hw:" + Number(card).value_or(std::string(card)) + "," + *device + "," +
                               *subdevice};
}

// "14:0" and "alsa:14:0" (a client and a port), "winmm:2" (a device
// number), or a device's address: the forms an address takes. A number
// alone is no address, since it may as well be part of a name.
std::optional<Address> ReadAddress(std::string_view wanted) {
    if (auto device = ReadDeviceAddress(wanted)) {
        return device;
    }
    std::string prefix;
    if (const std::size_t colon = wanted.find(':');
        colon != std::string_view::npos && !Number(wanted.substr(0, colon))) {
        prefix = wanted.substr(0, colon + 1);
        wanted.remove_prefix(colon + 1);
    }
    const std::size_t colon = wanted.find(':');
    if (colon == std::string_view::npos) {
        const auto number = Number(wanted);
        return number && !prefix.empty() ? std::optional<Address>({prefix, *number}) : std::nullopt;
    }
    const auto client = Number(wanted.substr(0, colon));
    const auto port = Number(wanted.substr(colon + 1));
    return client && port ? std::optional<Address>({prefix, *client + ":" + *port}) : std::nullopt;
}

// A card's raw MIDI subdevice, chosen by name only where no other port has
// the name.
bool IsDevice(const Port& port) {
    return port.address.starts_with("hw:");
}

void AppendIndented(std::string_view before, const std::vector<std::string>& texts,
                    std::vector<std::string>& lines) {
    for (const std::string& text : texts) {
        lines.push_back("  " + std::string(before) + text);
    }
}

std::vector<std::string> Lines(const std::vector<const Port*>& ports) {
    std::vector<std::string> lines;
    for (const Port* port : ports) {
        lines.push_back(ListLine(*port));
    }
    return lines;
}

} // namespace

PortChoice ChoosePort(const PortList& ports, std::string_view wanted, const PortKind& kind) {
    const std::optional<Address> address = ReadAddress(wanted);
    // The ways of naming a port, from the most precise to the loosest.
    const std::function<bool(const Port&)> ways[] = {
        [&](const Port& port) { return !port.address.empty() && ListLine(port) == wanted; },
        [&](const Port& port) {
            return address &&
                   (port.address == address->address || port.alias == address->address) &&
                   port.name.starts_with(address->prefix);
        },
        [&](const Port& port) { return port.name == wanted || WithoutPrefix(port.name) == wanted; },
        [&](const Port& port) {
            return SameLetters(port.name, wanted) || SameLetters(WithoutPrefix(port.name), wanted);
        },
        [&](const Port& port) { return Contains(port.name, wanted); },
    };
    PortChoice choice;
    for (const auto& names : ways) {
        std::vector<const Port*> matches;
        for (const Port& port : ports.ports) {
            if (names(port)) {
                matches.push_back(&port);
            }
        }
        // By name, a device's port yields to the other ports: its own
        // sequencer port has the same name.
        if (&names >= &ways[2] && std::any_of(matches.begin(), matches.end(),
                                              [](const Port* p) { return !IsDevice(*p); })) {
            std::erase_if(matches, [](const Port* p) { return IsDevice(*p); });
        }
        if (matches.size() == 1) {
            choice.port = *matches.front();
            return choice;
        }
        if (!matches.empty()) {
            choice.error = {Quoted(wanted) + " matches several " + std::string(kind.many) + ":"};
            AppendIndented("", Lines(matches), choice.error);
            return choice;
        }
    }
    if (ports.ports.empty()) {
        choice.error = DescribeNoPorts(ports, kind);
        choice.error.front().insert(0, "no " + std::string(kind.one) + " matches " +
                                           Quoted(wanted) + ": ");
        return choice;
    }
    std::vector<const Port*> all;
    for (const Port& port : ports.ports) {
        all.push_back(&port);
    }
    choice.error = {"no " + std::string(kind.one) + " matches " + Quoted(wanted) + "; the " +
                    std::string(kind.many.substr(kind.many.find(' ') + 1)) + " are:"};
    AppendIndented("", Lines(all), choice.error);
    AppendIndented("not reached: ", ports.unreachable, choice.error);
    return choice;
}

std::vector<std::string> DescribeNoPorts(const PortList& ports, const PortKind& kind) {
    std::vector<std::string> lines = {"there are no " + std::string(kind.many)};
    AppendIndented("not reached: ", ports.unreachable, lines);
    return lines;
}

} // namespace midi_ports
