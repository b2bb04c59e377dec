// libFuzzer target for vantrel-convert's own input handling: any bytes as
// standard input, under one of a few option sets, with lines taken whole or
// piece by piece. Nothing may crash; every input line gives exactly one
// output line (but with --syx); and in plain conversion the UTF-8 decoding
// must agree with glibc's iconv on which lines are valid, where the first bad
// byte of an invalid one is, and what a valid one decodes to.
#include "ConvertCommand.h"
#include "Tool.h"

#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

using namespace cli;

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// iconv's reading of `bytes` as UTF-16 units, or the offset of the first
// byte it refuses.
struct IconvReading {
    bool valid = false;
    std::size_t offset = 0;
    std::u16string units;
};

IconvReading ReadWithIconv(std::string_view bytes) {
    static const iconv_t converter = iconv_open("UTF-16LE", "UTF-8");
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    std::string in(bytes);
    std::string out(2 * bytes.size() + 4, '\0');
    char* inAt = in.data();
    std::size_t inLeft = in.size();
    char* outAt = out.data();
    std::size_t outLeft = out.size();
    IconvReading reading;
    reading.valid = iconv(converter, &inAt, &inLeft, &outAt, &outLeft) != static_cast<size_t>(-1);
    reading.offset = static_cast<std::size_t>(inAt - in.data());
    const std::size_t produced = out.size() - outLeft;
    reading.units.resize(produced / 2);
    std::memcpy(reading.units.data(), out.data(), reading.units.size() * 2);
    return reading;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// What plain conversion prints for a valid line.
std::string Answer(std::u16string units) {
    std::string answer;
    const bool accepted = JudgeCommand(units).accepted;
    AppendUtf8(ConvertCommand(units), answer);
    if (!accepted) {
        std::string escaped;
        for (const char c : answer) {
            escaped += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
        }
        answer = escaped;
    }
    return answer;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    static const char* const kOptionSets[][2] = {
        {nullptr, nullptr}, {"--check", nullptr}, {"--syx", nullptr}, {"--decode", "--check"}};
    const auto& options = kOptionSets[data[0] % 4];
    const std::size_t pieceBytes = (data[0] & 0x10) != 0 ? 5 : kPieceBytes;
    const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);

    std::vector<Argument> arguments;
    for (const char* option : options) {
        if (option != nullptr) {
            arguments.push_back(ArgumentFromUtf8(option));
        }
    }
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunConvertTool(arguments, in, out, err, {.pieceBytes = pieceBytes});
    Check(status >= 0 && status <= 3);

    const std::vector<std::string> lines = Lines(input);
    const std::vector<std::string> answers = Lines(out.str());
    if (options[0] != nullptr && std::strcmp(options[0], "--syx") == 0) {
        return 0;
    }
    Check(answers.size() == lines.size() && (out.str().empty() || out.str().back() == '\n'));
    if (options[0] != nullptr) {
        return 0;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        std::size_t skipped = 0;
        if (i == 0 && line.starts_with("\xEF\xBB\xBF")) {
            line.remove_prefix(3);
            skipped = 3;
        }
        const IconvReading reading = ReadWithIconv(line);
        if (reading.valid) {
            Check(answers[i] == Answer(reading.units));
        } else {
            const std::string error = "vantrel-convert: line " + std::to_string(i + 1) +
                                      ": invalid UTF-8 at byte offset " +
                                      std::to_string(reading.offset + skipped) + " ";
            Check(answers[i].empty() && err.str().find(error) != std::string::npos);
        }
    }
    return 0;
}
