// The options of vantrel-convert, one entry each, and the text of --help
// around them. An entry says everything about its option: its names, its
// value, its help, how it updates the parsed options (Options.h) and the
// rules its use must keep. The rules' ranks keep the order in which
// problems are named when several rules are broken at once.
#include "Options.h"

#include <algorithm>

namespace cli {

namespace {

using Value = std::optional<std::uint64_t>;
using Ms = std::chrono::milliseconds;

// The rules that two options share.
constexpr Rule kForSend{5, "--rate and --interval are for --send",
                        [](const ParsedOptions& o) { return o.sendTo == nullptr; }};
constexpr Rule kForReceive{7, "--count and --timeout are for --receive",
                           [](const ParsedOptions& o) { return o.receiveFrom == nullptr; }};
constexpr Rule kListsAlone{
    6, "--list-ports and --list-inputs take no commands, --send or --receive",
    [](const ParsedOptions& o) {
        return o.sendTo != nullptr || o.receiveFrom != nullptr || !o.commands.empty();
    }};

constexpr auto kTable = std::to_array<OptionSpec>({
    {.name = "--check",
     .help = "also check that every value between F0 and F7 is a MIDI data\n"
             "byte (00 to 7f); report each one that is not on standard error",
     .flag = &ParsedOptions::check},
    {.name = "--syx",
     .help = "write the messages as raw bytes (a .syx stream) instead of\n"
             "text; only messages that pass --check are written; with\n"
             "--decode or --send, read a .syx stream instead of commands",
     .flag = &ParsedOptions::syx,
     .rules = {Rule{3, "--syx with --decode or --send reads a .syx stream and takes no commands",
                    [](const ParsedOptions& o) { return o.SyxIn() && !o.commands.empty(); }}}},
    {.name = "--decode",
     .help = "the reverse: read message texts, print the commands they carry",
     .flag = &ParsedOptions::decode,
     .rules = {Rule{2, "--syx and --decode cannot be used together with --receive",
                    [](const ParsedOptions& o) { return o.syx && o.receiveFrom != nullptr; }}}},
    {.name = "--send",
     .value = ValueKind::OutputPort,
     .valueName = "PORT",
     .help = OnPlatform("also send each message that passes --check to the MIDI output\n"
                        "device PORT, the first of these that names any: a line of\n"
                        "--list-ports, a device number (winmm:2), the whole name\n"
                        "(letter case first, then in either case), a part of it",
                        "also send each message that passes --check to the MIDI output\n"
                        "port PORT, the first of these that names any: a line of\n"
                        "--list-ports, an address (14:0, alsa:14:0), the whole name\n"
                        "(letter case first, then in either case), a part of it"),
     .text = &ParsedOptions::sendTo,
     .rules = {Rule{1, "--send cannot be used with --decode",
                    [](const ParsedOptions& o) { return o.decode; }}}},
    {.name = "--rate",
     .value = ValueKind::BytesPerSecond,
     .valueName = "BYTES",
     .help = "with --send: hand messages on at most BYTES bytes a second\n"
             "({range}; default {default}, under a MIDI cable's 3125); 'max'\n"
             "for as fast as the port takes them, for receivers that read\n"
             "at once",
     // 4% under a cable's 3,125 bytes a second, so that a device whose
     // clock runs slow still drains its buffer faster than it fills.
     .range = {1, 10'000'000, 3000},
     .number = [](ParsedOptions& o, Value rate) { o.pacing.bytesPerSecond = rate; },
     .rules = {kForSend}},
    {.name = "--interval",
     .value = ValueKind::Milliseconds,
     .valueName = "MS",
     .help = "with --send: at least MS milliseconds ({range}, default\n"
             "{default}) from the start of one message to the start of the\n"
             "next",
     .range = {0, 60'000, 0},
     .number = [](ParsedOptions& o, Value ms) { o.pacing.interval = Ms(ms.value()); },
     .rules = {kForSend}},
    {.name = "--list-ports",
     .help = OnPlatform("list the MIDI output devices, one to a line: the name, and\n"
                        "the device number in brackets",
                        "list the MIDI output ports, one to a line: the name, and for\n"
                        "ALSA ports the address in brackets"),
     .flag = &ParsedOptions::listPorts,
     .rules = {kListsAlone}},
    {.name = "--receive",
     .value = ValueKind::InputPort,
     .valueName = "PORT",
     .help = "print each System Exclusive message that arrives from the MIDI\n"
             "source PORT (chosen as for --send), one to a line, as it comes",
     .text = &ParsedOptions::receiveFrom,
     .rules = {Rule{8, "--receive cannot be used with --send or --check",
                    [](const ParsedOptions& o) { return o.sendTo != nullptr || o.check; }},
               Rule{9, "--receive takes no commands",
                    [](const ParsedOptions& o) { return !o.commands.empty(); }}}},
    {.name = "--count",
     .value = ValueKind::Number,
     .valueName = "N",
     .help = "with --receive: stop after N ({range}) complete messages",
     .range = {1, 1'000'000'000, std::nullopt},
     .number = [](ParsedOptions& o, Value count) { o.count = count; },
     .rules = {kForReceive}},
    {.name = "--timeout",
     .value = ValueKind::Milliseconds,
     .valueName = "MS",
     .help = "with --receive: stop when nothing has arrived for MS\n"
             "({range}) milliseconds (status 5 if --count messages have\n"
             "not come)",
     .range = {1, 86'400'000, std::nullopt},
     .number = [](ParsedOptions& o, Value ms) { o.timeout = Ms(ms.value()); },
     .rules = {kForReceive}},
    {.name = "--list-inputs",
     .help = OnPlatform("list the MIDI input devices for --receive, as --list-ports does",
                        "list the MIDI sources for --receive, as --list-ports lists"),
     .flag = &ParsedOptions::listInputs,
     .rules = {kListsAlone}},
    {.name = "--input",
     .value = ValueKind::File,
     .valueName = "FILE",
     .help = "read FILE instead of standard input",
     .text = &ParsedOptions::input,
     .rules = {Rule{
         4, "--input cannot be used with commands or --receive",
         [](const ParsedOptions& o) { return !o.commands.empty() || o.receiveFrom != nullptr; }}}},
    {.name = "--output",
     .value = ValueKind::File,
     .valueName = "FILE",
     .help = "write FILE instead of standard output (a .syx file, where\n"
             "a shell's redirection would re-encode bytes)",
     .text = &ParsedOptions::output},
    {.name = "--help", .alias = "-h", .help = "show this help", .flag = &ParsedOptions::help},
    {.name = "--version", .help = "show the version", .flag = &ParsedOptions::version},
    {.name = "--",
     .help = "end of options: later arguments are commands",
     .flag = &ParsedOptions::endOfOptions},
});

constexpr std::string_view kUsage =
    R"(Usage: vantrel-convert [--check] [--syx | --decode] [--] [command ...]
       vantrel-convert --send PORT [--rate BYTES|max] [--interval MS] [--check]
                       [--] [command ...]
       vantrel-convert --decode --syx [--input FILE]
       vantrel-convert --send PORT --syx [--rate BYTES|max] [--interval MS]
                       [--input FILE]
       vantrel-convert --receive PORT [--count N] [--timeout MS] [--syx | --decode]
                       [--output FILE]
       vantrel-convert --list-ports | --list-inputs

Packs Kestrane Server commands that begin with "set " into MIDI System
Exclusive messages written as hex text, one output line per command.
Commands are the arguments or, when there are none, the lines of standard
input (LF or CR LF line ends). Input and output are UTF-8.

--receive is the other end: it prints each System Exclusive message that
arrives, a Vantrel message as the text above (with --decode its command,
with --syx its bytes), any other as upper-case hex (F0 7E 7F 06 01 F7).
--decode --syx and --send --syx read what --receive --syx wrote: a .syx
stream of System Exclusive messages, Vantrel's or not.

)";

// Whether the usage lines (up to the first empty line) name only options of
// the table, a valued one followed by its value's name, and every option
// but --help and --version, which have no usage line of their own.
constexpr bool UsageAgrees(std::string_view usage, std::span<const OptionSpec> options) {
    usage = usage.substr(0, usage.find("\n\n"));
    std::array<bool, 64> named{};
    for (std::size_t at = usage.find("--"); at != std::string_view::npos;
         at = usage.find("--", at)) {
        std::size_t end = at + 2;
        while (end < usage.size() &&
               ((usage[end] >= 'a' && usage[end] <= 'z') || usage[end] == '-')) {
            ++end;
        }
        const std::string_view name = usage.substr(at, end - at);
        const auto option = std::find_if(options.begin(), options.end(),
                                         [name](const OptionSpec& o) { return o.name == name; });
        if (option == options.end() ||
            (option->value != ValueKind::None &&
             (usage.substr(end, 1) != " " ||
              usage.substr(end + 1, option->valueName.size()) != option->valueName))) {
            return false;
        }
        named.at(static_cast<std::size_t>(option - options.begin())) = true;
        at = end;
    }
    for (std::size_t i = 0; i < options.size(); ++i) {
        if (!named.at(i) && options[i].name != "--help" && options[i].name != "--version") {
            return false;
        }
    }
    return true;
}
static_assert(UsageAgrees(kUsage, kTable), "the usage lines name an option the table lacks, "
                                           "give a value another name, or leave an option out");

} // namespace

std::span<const OptionSpec> AllOptions() {
    return kTable;
}

std::string_view UsageText() {
    return kUsage;
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
