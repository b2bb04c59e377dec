// Running vantrel-convert in-process on plain strings, for the tool's tests.
#pragma once

#include "Tool.h"

#include <sstream>
#include <string>
#include <vector>

namespace cli {

inline std::vector<Argument> Arguments(const std::vector<std::string>& args) {
    std::vector<Argument> arguments;
    for (const std::string& arg : args) {
        arguments.push_back(ArgumentFromUtf8(arg));
    }
    return arguments;
}

struct Outcome {
    int status;
    std::string out;
    std::string err;
    bool inputUntouched; // nothing of the input was read
};

// Runs the tool with `args` (UTF-8) and `input` as its standard input,
// reaching MIDI ports through `ports`, or none without it.
inline Outcome RunTool(const std::vector<std::string>& args, const std::string& input = {},
                       std::size_t pieceBytes = kPieceBytes, midi_ports::Ports* ports = nullptr) {
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    const int status =
        RunConvertTool(Arguments(args), in, out, err, {.ports = ports, .pieceBytes = pieceBytes});
    return {status, out.str(), err.str(), in.tellg() == 0};
}

// The bytes that a message text stands for (a .syx file's), read the plain
// way: hexadecimal values separated by blanks.
inline std::string BytesOfText(const std::string& text) {
    std::istringstream words(text);
    std::string bytes;
    for (unsigned value = 0; words >> std::hex >> value;) {
        bytes += static_cast<char>(value);
    }
    return bytes;
}

} // namespace cli
