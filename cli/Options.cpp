// Looking up options and writing their help; see Options.h.
#include "Options.h"

#include <algorithm>

namespace cli {

namespace {

// Descriptions start in this column of --help; a name that does not leave
// room for two spaces before it goes on a line of its own.
constexpr std::size_t kDescriptionColumn = 13;

} // namespace

const OptionSpec* FindOption(std::u16string_view argument) {
    auto same = [argument](std::string_view name) {
        return !name.empty() && name.size() == argument.size() &&
               std::equal(name.begin(), name.end(), argument.begin(),
                          [](char a, char16_t b) { return static_cast<char16_t>(a) == b; });
    };
    for (const OptionSpec& option : kOptions) {
        if (same(option.name) || same(option.alias)) {
            return &option;
        }
    }
    return nullptr;
}

std::string RangeText(const ValueRange& range) {
    return std::to_string(range.lowest) + " to " + std::to_string(range.highest);
}

std::string OptionHelp() {
    const std::string indent(kDescriptionColumn, ' ');
    std::string text;
    for (const OptionSpec& option : kOptions) {
        std::string label = "  ";
        if (!option.alias.empty()) {
            label += std::string(option.alias) + ", ";
        }
        label += option.name;
        if (option.value != ValueKind::None) {
            label += ' ';
            label += option.valueName;
        }
        text += label;
        if (label.size() + 2 <= kDescriptionColumn) {
            text.append(kDescriptionColumn - label.size(), ' ');
        } else {
            text += '\n';
            text += indent;
        }
        std::string help(option.help);
        auto put = [&help](std::string_view mark, const std::string& value) {
            if (const auto at = help.find(mark); at != std::string::npos) {
                help.replace(at, mark.size(), value);
            }
        };
        put("{range}", RangeText(option.range));
        if (option.range.fallback) {
            put("{default}", std::to_string(*option.range.fallback));
        }
        for (const char c : help) {
            text += c;
            if (c == '\n') {
                text += indent;
            }
        }
        text += '\n';
    }
    return text;
}

std::string HelpNotes() {
    std::string text = R"(
Positions in errors count the values of a message from 0 (F0 is 0, the
length is 8, the command's first unit is 9). A line that cannot be read
gives an empty output line.

--send paces the messages: each starts no sooner than the previous start
plus the larger of its bytes at the rate and the interval. A MIDI cable
carries 3125 bytes a second (10 bits a byte), so 300 messages of 137 bytes
take about 13.7 s at the default rate. The answer to each command is
written as its message is handed on.

)";
    text += OnPlatform(R"(WinMM confirms that the device took each message. Ctrl-C or Ctrl-Break
stops reading at once, finishes the message in hand and waits for what was
handed on; a second one ends the run at once.
)",
                       R"(JACK confirms that a period carried each message; the ALSA sequencer
only that the kernel took it, and a receiver that falls behind drops data
unseen, which only pacing prevents. Ctrl-C, SIGINT or SIGTERM stops
reading at once, finishes the message in hand and waits for what was
handed on; a second one ends the run at once.
)");
    text += R"(
Exit status:
  0    every command was accepted
  1    a command was refused (--receive: a message could not be shown
       as asked)
  2    bad input, usage or output: invalid UTF-8, an unknown option, a
       malformed message, a line too long for memory, output that cannot
       be written, a .syx message that is not whole
  3    a value is not a MIDI data byte (--check, --syx, --send)
  4    the port cannot be found, is ambiguous or cannot be opened,
       sending or receiving failed or timed out, or a message is longer
       than the port carries whole
  5    --timeout ended --receive before --count messages came
)";
    text += OnPlatform(R"(  130  Ctrl-C or Ctrl-Break
When several apply: 130 over 2 over 4 over 5 over 3 over 1.
)",
                       R"(  130  Ctrl-C or SIGINT
  143  SIGTERM
When several apply: 130 and 143 over 2 over 4 over 5 over 3 over 1.
)");
    return text;
}

} // namespace cli
