// Error lines and the exit status; see Report.h.
#include "Report.h"

#include "Escapes.h"

#include <ostream>

namespace cli {

void WriteError(std::ostream& err, const std::vector<std::string>& lines) {
    std::string text = "vantrel-convert: ";
    for (const std::string& line : lines) {
        AppendControlsEscaped(line, text);
        text += '\n';
    }
    err.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::string Report::Prefix(Place where) {
    return "vantrel-convert: " + std::string(where.kind) + " " + std::to_string(where.number) +
           ": ";
}

void Report::Fail(Place where, std::string_view what, int status) {
    std::string line = Prefix(where);
    AppendControlsEscaped(what, line);
    line += '\n';
    err_.write(line.data(), static_cast<std::streamsize>(line.size()));
    Note(status);
}

void Report::Error(const std::vector<std::string>& lines, int status) {
    WriteError(err_, lines);
    Note(status);
}

void Report::Note(int status) {
    auto rank = [](int s) {
        return s == kBadInput     ? 5
               : s == kPortFailed ? 4
               : s == kTimedOut   ? 3
               : s == kNotData    ? 2
                                  : s;
    };
    if (rank(status) > rank(status_)) {
        status_ = status;
    }
}

} // namespace cli
