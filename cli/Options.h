// The options of vantrel-convert, declared once.
//
// kOptions is the one list of the tool's options: each one's long name, its
// short alias if it has one, whether it takes a value and of what kind, the
// range and default of a number, and its lines in --help. The parser reads
// it to know the options and their ranges, --help writes its option lines
// from it, and a test checks that the manual page and the bash completion
// name exactly these options, that the completion knows which of them take
// a value, and that the manual page states the ranges and defaults. A new
// option is added here first; the test then names every place that does not
// know it yet.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

enum class OptionId {
    Check,
    Syx,
    Decode,
    Send,
    Rate,
    Interval,
    ListPorts,
    Receive,
    Count,
    Timeout,
    ListInputs,
    Input,
    Output,
    Help,
    Version,
    EndOfOptions
};

// What an option's value is, which also tells the completion what to offer.
enum class ValueKind {
    None,           // a flag
    OutputPort,     // the name of a MIDI output port (the completion lists them)
    InputPort,      // the name of a MIDI source (the completion lists them)
    BytesPerSecond, // a whole number of bytes a second, or "max"
    Milliseconds,   // a whole number of milliseconds
    Number,         // a whole number
    File,           // a file's name
};

// The whole numbers a numeric value may take, and the one it takes when the
// option is not given, if it has one.
struct ValueRange {
    std::uint64_t lowest = 0;
    std::uint64_t highest = 0;
    std::optional<std::uint64_t> fallback;
};

// Where the platforms differ, the help speaks of what this build reaches:
// WinMM devices and the console's Ctrl-C and Ctrl-Break on Windows; JACK,
// the ALSA sequencer and signals elsewhere.
#ifdef _WIN32
inline constexpr bool kWindowsHelp = true;
#else
inline constexpr bool kWindowsHelp = false;
#endif

// `windows` in a Windows build, `elsewhere` in any other.
constexpr std::string_view OnPlatform(std::string_view windows, std::string_view elsewhere) {
    return kWindowsHelp ? windows : elsewhere;
}

struct OptionSpec {
    OptionId id;
    std::string_view name;  // "--send"
    std::string_view alias; // "-h", or empty
    ValueKind value;
    std::string_view valueName; // "PORT", as --help shows it
    // The description in --help: lines of at most 64 characters, joined by
    // line feeds, indented by the help writer, which puts the range in place
    // of "{range}" ("0 to 60000") and the default in place of "{default}".
    std::string_view help;
    ValueRange range{}; // for numbers
};

inline constexpr std::array<OptionSpec, 16> kOptions{{
    {OptionId::Check, "--check", "", ValueKind::None, "",
     "also check that every value between F0 and F7 is a MIDI data\n"
     "byte (00 to 7f); report each one that is not on standard error"},
    {OptionId::Syx, "--syx", "", ValueKind::None, "",
     "write the messages as raw bytes (a .syx stream) instead of\n"
     "text; only messages that pass --check are written; with\n"
     "--decode or --send, read a .syx stream instead of commands"},
    {OptionId::Decode, "--decode", "", ValueKind::None, "",
     "the reverse: read message texts, print the commands they carry"},
    {OptionId::Send, "--send", "", ValueKind::OutputPort, "PORT",
     OnPlatform("also send each message that passes --check to the MIDI output\n"
                "device PORT, the first of these that names any: a line of\n"
                "--list-ports, a device number (winmm:2), the whole name\n"
                "(letter case first, then in either case), a part of it",
                "also send each message that passes --check to the MIDI output\n"
                "port PORT, the first of these that names any: a line of\n"
                "--list-ports, an address (14:0, alsa:14:0), the whole name\n"
                "(letter case first, then in either case), a part of it")},
    {OptionId::Rate,
     "--rate",
     "",
     ValueKind::BytesPerSecond,
     "BYTES",
     "with --send: hand messages on at most BYTES bytes a second\n"
     "({range}; default {default}, under a MIDI cable's 3125); 'max'\n"
     "for as fast as the port takes them, for receivers that read\n"
     "at once",
     // 4% under a cable's 3,125 bytes a second, so that a device whose
     // clock runs slow still drains its buffer faster than it fills.
     {1, 10'000'000, 3000}},
    {OptionId::Interval,
     "--interval",
     "",
     ValueKind::Milliseconds,
     "MS",
     "with --send: at least MS milliseconds ({range}, default\n"
     "{default}) from the start of one message to the start of the\n"
     "next",
     {0, 60'000, 0}},
    {OptionId::ListPorts, "--list-ports", "", ValueKind::None, "",
     OnPlatform("list the MIDI output devices, one to a line: the name, and\n"
                "the device number in brackets",
                "list the MIDI output ports, one to a line: the name, and for\n"
                "ALSA ports the address in brackets")},
    {OptionId::Receive, "--receive", "", ValueKind::InputPort, "PORT",
     "print each System Exclusive message that arrives from the MIDI\n"
     "source PORT (chosen as for --send), one to a line, as it comes"},
    {OptionId::Count,
     "--count",
     "",
     ValueKind::Number,
     "N",
     "with --receive: stop after N ({range}) complete messages",
     {1, 1'000'000'000, std::nullopt}},
    {OptionId::Timeout,
     "--timeout",
     "",
     ValueKind::Milliseconds,
     "MS",
     "with --receive: stop when nothing has arrived for MS\n"
     "({range}) milliseconds (status 5 if --count messages have\n"
     "not come)",
     {1, 86'400'000, std::nullopt}},
    {OptionId::ListInputs, "--list-inputs", "", ValueKind::None, "",
     OnPlatform("list the MIDI input devices for --receive, as --list-ports does",
                "list the MIDI sources for --receive, as --list-ports lists")},
    {OptionId::Input, "--input", "", ValueKind::File, "FILE",
     "read FILE instead of standard input"},
    {OptionId::Output, "--output", "", ValueKind::File, "FILE",
     "write FILE instead of standard output (a .syx file, where\n"
     "a shell's redirection would re-encode bytes)"},
    {OptionId::Help, "--help", "-h", ValueKind::None, "", "show this help"},
    {OptionId::Version, "--version", "", ValueKind::None, "", "show the version"},
    {OptionId::EndOfOptions, "--", "", ValueKind::None, "",
     "end of options: later arguments are commands"},
}};

// The option that `argument` names (its long name or its alias), if any.
const OptionSpec* FindOption(std::u16string_view argument);

// The option with this id.
constexpr const OptionSpec& Option(OptionId id) {
    for (const OptionSpec& option : kOptions) {
        if (option.id == id) {
            return option;
        }
    }
    return kOptions.back(); // not reached: every id has its entry
}

// "1 to 10000000", as the help and errors state a range.
std::string RangeText(const ValueRange& range);

// The option lines of --help, from kOptions.
std::string OptionHelp();

// What --help says after the options: positions, pacing, what the back ends
// confirm, stopping, and the exit statuses, one to a line ("  4    the port
// ..."), for this platform.
std::string HelpNotes();

} // namespace cli
