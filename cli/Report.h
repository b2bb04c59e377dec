// What a vantrel-convert run reports: its error lines on standard error,
// each naming its place ("line 3", "argument 2", "message 4") where it has
// one, and the exit status they add up to. The converting session and the
// receiver both report through one Report.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// Exit statuses. When several apply, the highest in this order wins:
// kBadInput, then kPortFailed, then kTimedOut, then kNotData, then kRefused
// (and kNotShown, the same value). A stop request's status (130, 143) ranks
// above them all.
inline constexpr int kAllAccepted = 0;
inline constexpr int kRefused = 1;    // a command does not start with "set "
inline constexpr int kNotShown = 1;   // a received message could not be shown as asked
inline constexpr int kBadInput = 2;   // invalid UTF-8, bad usage, malformed message, failed output
inline constexpr int kNotData = 3;    // --check or --syx: a value is not a data byte
inline constexpr int kPortFailed = 4; // --send, --receive: no such port, or it failed or lost input
inline constexpr int kTimedOut = 5;   // --receive: the quiet time ended the run before --count

// Names a command or message in errors: "line 3", "argument 2", "message 4".
struct Place {
    const char* kind;
    std::size_t number;
};

// Writes an error of one or more lines to `err`: "vantrel-convert: " and the
// first line, then the others as they are, control characters escaped in
// each.
void WriteError(std::ostream& err, const std::vector<std::string>& lines);

class Report {
  public:
    explicit Report(std::ostream& err) : err_(err) {}

    // "vantrel-convert: line 3: <what>", control characters escaped; notes
    // the status.
    void Fail(Place where, std::string_view what, int status);

    // "vantrel-convert: <what>" over one or more lines (WriteError); notes
    // the status.
    void Error(const std::vector<std::string>& lines, int status);

    // Notes a status without a line of its own.
    void Note(int status);

    // The exit status so far.
    int Status() const { return status_; }

    // The exit code of a run: the status of a stop request (`stopStatus`,
    // 0 for none) above every other.
    int ExitCode(int stopStatus) const { return stopStatus != 0 ? stopStatus : status_; }

    // "vantrel-convert: line 3: ", the start of an error about a place, for
    // a caller that writes a long line in pieces to Stream().
    static std::string Prefix(Place where);
    std::ostream& Stream() { return err_; }

  private:
    std::ostream& err_;
    int status_ = kAllAccepted;
};

} // namespace cli
