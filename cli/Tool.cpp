// The work of vantrel-convert: options, the line loop, and what each mode
// writes for one command. The conversion itself is ConvertCommand's.
#include "Tool.h"

#include "LineReader.h"
#include "Output.h"

#include <algorithm>
#include <istream>
#include <new>
#include <ostream>

#ifndef VANTREL_VERSION
#error "VANTREL_VERSION must be defined by the build"
#endif

namespace {

constexpr std::string_view kProgram = "vantrel-convert";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kHelp =
    R"(Usage: vantrel-convert [--check] [--syx | --decode] [--] [command ...]

Packs Kestrane Server commands that begin with "set " into MIDI System
Exclusive messages written as hex text, one output line per command.
Commands are the arguments or, when there are none, the lines of standard
input (LF or CR LF line ends). Input and output are UTF-8.

  --check    also check that every value between F0 and F7 is a MIDI data
             byte (00 to 7f); report each one that is not on standard error
  --syx      write the messages as raw bytes (a .syx stream) instead of
             text; only messages that pass --check are written
  --decode   the reverse: read message texts, print the commands they carry
  --help     show this help
  --version  show the version
  --         end of options: later arguments are commands

Positions in errors count the values of a message from 0 (F0 is 0, the
length is 8, the command's first unit is 9). A line that cannot be read
gives an empty output line.

Exit status: 0 all accepted, 1 a command was refused, 2 bad input, usage
or output (invalid UTF-8, unknown option, malformed message, a line too long
for memory, output that cannot be written), 3 a value is not a data byte
(--check, --syx). When several apply: 2 over 3 over 1.
)";

struct Options {
    Mode mode = Mode::Text;
    bool check = false;
    bool help = false;
    bool version = false;
    std::vector<const Argument*> commands;
};

std::string Utf8(std::u16string_view units) {
    std::string text;
    AppendUtf8(units, text);
    return text;
}

// Parses the options; on bad usage reports it on `err` and returns nothing.
std::optional<Options> ParseOptions(const std::vector<Argument>& arguments, std::ostream& err) {
    Options options;
    bool syx = false;
    bool decode = false;
    bool optionsEnded = false;
    std::string problem;
    for (const Argument& argument : arguments) {
        const std::u16string& a = argument.units;
        if (optionsEnded || argument.invalid || a.size() < 2 || a[0] != u'-') {
            options.commands.push_back(&argument);
        } else if (a == u"--") {
            optionsEnded = true;
        } else if (a == u"--check") {
            options.check = true;
        } else if (a == u"--syx") {
            syx = true;
        } else if (a == u"--decode") {
            decode = true;
        } else if (a == u"--help" || a == u"-h") {
            options.help = true;
        } else if (a == u"--version") {
            options.version = true;
        } else if (problem.empty()) {
            problem = "unknown option '" + Utf8(a) + "'";
        }
    }
    if (problem.empty() && syx && decode) {
        problem = "--syx and --decode cannot be used together";
    }
    if (!problem.empty()) {
        err << kProgram << ": " << problem << "\nTry 'vantrel-convert --help'.\n";
        return std::nullopt;
    }
    options.mode = decode ? Mode::Decode : syx ? Mode::Syx : Mode::Text;
    return options;
}

} // namespace

Argument ArgumentFromUtf8(std::string_view bytes) {
    Argument argument;
    argument.invalid = DecodeUtf8(bytes, argument.units);
    return argument;
}

int RunConvertTool(const std::vector<Argument>& arguments, std::istream& in, std::ostream& out,
                   std::ostream& err, std::size_t pieceBytes) {
    const std::optional<Options> options = ParseOptions(arguments, err);
    if (!options) {
        return kBadInput;
    }
    Output output(out, err);
    if (options->help || options->version) {
        output.Pending() = options->help ? kHelp : VANTREL_VERSION "\n";
        return output.Flush() ? kAllAccepted : kBadInput;
    }

    Session session(options->mode, options->check, output, err, pieceBytes);
    auto finish = [&] {
        if (!output.Flush()) {
            session.Note(kBadInput);
        }
        return session.Status();
    };
    if (!options->commands.empty()) {
        std::size_t number = 0;
        for (const Argument* argument : options->commands) {
            const Place where{"argument", ++number};
            if (argument->invalid) {
                session.Invalid(*argument->invalid, where);
            } else {
                session.Process(argument->units, where);
            }
            if (!output.WriteIfFull()) {
                break;
            }
        }
        return finish();
    }

    LineReader reader(*in.rdbuf());
    std::string line;
    std::size_t number = 0;
    while (!output.Failed()) {
        // Every answer goes out before the reader may wait for more input.
        const LineReader::Result result = reader.Next(line, [&] { return output.Flush(); });
        if (result == LineReader::Result::End || result == LineReader::Result::Stopped) {
            break;
        }
        const Place where{"line", ++number};
        if (result == LineReader::Result::OutOfMemory) {
            session.OutOfMemory(where);
            continue;
        }
        std::string_view bytes = line;
        if (bytes.ends_with('\r')) {
            bytes.remove_suffix(1);
        }
        std::size_t skipped = 0;
        if (number == 1 && bytes.starts_with(kByteOrderMark)) {
            bytes.remove_prefix(kByteOrderMark.size());
            skipped = kByteOrderMark.size();
        }
        const std::size_t answered = output.Pending().size();
        try {
            session.ProcessLine(bytes, where, skipped);
        } catch (const std::bad_alloc&) {
            // Whatever of the answer is still here goes; the line gets an
            // empty one, as an unreadable line does.
            output.Pending().resize(std::min(answered, output.Pending().size()));
            session.OutOfMemory(where);
        }
        output.WriteIfFull();
    }
    if (reader.Failed()) {
        session.Fail(Place{"line", number + 1}, "cannot read standard input", kBadInput);
    }
    return finish();
}
