// The options of vantrel-convert: what an option is, what the parsed command
// line holds, and the parser and --help that read the table of options.
//
// Each option is one entry of the table (OptionTable.cpp): its long name and
// its short alias if it has one, the kind of value it takes, the range and
// default of a number, its lines in --help, how it updates the parsed
// options, and the rules its use must keep (what it needs, what it cannot be
// used with). The parser and --help read nothing else, so a new option is
// one entry there and, if its value needs one, one small function. The usage
// lines at the top of --help are checked against the table when it compiles;
// the manual page and the bash completion are checked against --help by a
// test (tests/packaging/options_agree_test.sh).
#pragma once

#include "RunTypes.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// What the command line asks, as the parser leaves it.
struct ParsedOptions {
    bool check = false;
    bool syx = false;
    bool decode = false;
    bool help = false;
    bool version = false;
    bool listPorts = false;
    bool listInputs = false;
    bool endOfOptions = false;             // "--" came: later arguments are commands
    const Argument* sendTo = nullptr;      // --send's PORT
    const Argument* receiveFrom = nullptr; // --receive's PORT
    const Argument* input = nullptr;       // --input's FILE
    const Argument* output = nullptr;      // --output's FILE
    Pacing pacing;
    std::optional<std::uint64_t> count;
    std::optional<std::chrono::milliseconds> timeout;
    std::vector<const Argument*> commands;

    // --syx with --decode or --send: the input is a .syx stream.
    bool SyxIn() const { return syx && (decode || sendTo != nullptr) && receiveFrom == nullptr; }

    // What the run writes for each command or message.
    Mode Writes() const { return decode ? Mode::Decode : syx && !SyxIn() ? Mode::Syx : Mode::Text; }
};

// What an option's value is, which words the option's errors.
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

// A rule that an option's use must keep, asked once every argument is read
// and only when the option was given. Of several rules broken, the one of
// the lowest rank is named.
struct Rule {
    int rank = 0;
    std::string_view problem{}; // "--rate and --interval are for --send"
    bool (*broken)(const ParsedOptions&) = nullptr;
};

struct OptionSpec {
    std::string_view name{};  // "--send"
    std::string_view alias{}; // "-h", or empty
    ValueKind value = ValueKind::None;
    std::string_view valueName{}; // "PORT", as --help shows it
    // The description in --help: lines of at most 64 characters, joined by
    // line feeds, indented by the help writer, which puts the range in place
    // of "{range}" ("0 to 60000") and the default in place of "{default}".
    std::string_view help{};
    ValueRange range{}; // for numbers

    // How the option updates the parsed options; one of these, by its kind
    // of value:
    // - a flag sets its field;
    bool ParsedOptions::*flag = nullptr;
    // - a port or a file name keeps its argument; it may be given once, and
    //   not empty;
    const Argument* ParsedOptions::*text = nullptr;
    // - a number in its range is handed to this function; nothing stands
    //   for "max", which only a number of bytes a second may be. The
    //   default, where there is one, is handed to it before parsing.
    void (*number)(ParsedOptions&, std::optional<std::uint64_t>) = nullptr;

    std::array<Rule, 2> rules{};
};

// The table: every option, in the order --help lists them.
std::span<const OptionSpec> AllOptions();

// The option whose long name is `name` ("--rate"); the last entry if none.
const OptionSpec& OptionNamed(std::string_view name);

// Parses the options; on bad usage reports the first problem on `err`,
// with a pointer to --help, and returns nothing. The result points into
// `arguments`.
std::optional<ParsedOptions> ParseOptions(const std::vector<Argument>& arguments,
                                          std::ostream& err);

// "1 to 10000000", as the help and errors state a range.
std::string RangeText(const ValueRange& range);

// The whole of --help: the usage lines, the options, and the notes after
// them.
std::string HelpText();

// The parts of --help around its option lines (OptionTable.cpp): the usage
// lines and what the tool does; what --help says after the options
// (positions, pacing, what the back ends confirm, stopping, and the exit
// statuses, one to a line, "  4    the port ..."), for this platform.
std::string_view UsageText();
std::string HelpNotes();

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

} // namespace cli
