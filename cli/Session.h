// What vantrel-convert does with each command: converting it (as text, or
// as raw bytes for --syx, checked for --check), or for --decode reading a
// message text back into its command; and the exit status that follows.
// With --send, each message that passes the data-byte check also goes to
// the Sender.
//
// The conversion is conversion/Conversion.h's, fed a command in pieces and
// writing UTF-8 straight into the output. A line of ASCII, the usual case,
// is converted from its bytes as they lie, since each is one code unit. Any
// other line is decoded from UTF-8 one piece at a time, each time the
// conversion reads it, so a long line is never held again as UTF-16 or as
// whole output: memory grows with the longest line, by little more than the
// line itself.
#pragma once

#include "Conversion.h"
#include "LineReader.h"
#include "Output.h"
#include "Utf8.h"

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

// Exit statuses. When several apply, the highest in this order wins:
// kBadInput, then kPortFailed, then kTimedOut, then kNotData, then kRefused
// (and kNotShown, the same value).
inline constexpr int kAllAccepted = 0;
inline constexpr int kRefused = 1;    // a command does not start with "set "
inline constexpr int kNotShown = 1;   // --receive: a message could not be shown as asked
inline constexpr int kBadInput = 2;   // invalid UTF-8, bad usage, malformed message, failed output
inline constexpr int kNotData = 3;    // --check or --syx: a value is not a data byte
inline constexpr int kPortFailed = 4; // --send, --receive: no such port, or it failed or lost input
inline constexpr int kTimedOut = 5;   // --receive: the quiet time ended the run before --count

class Sender;

enum class Mode { Text, Syx, Decode };

// Names a command in errors: "line 3" or "argument 2".
struct Place {
    const char* kind;
    std::size_t number;
};

class Session {
  public:
    // `pieceBytes`: lines longer than this many bytes go piece by piece.
    // `sender`: for --send, which implies the check.
    Session(Mode mode, bool check, Output& output, std::ostream& err, std::size_t pieceBytes,
            Sender* sender = nullptr)
        : mode_(mode), check_(check || sender != nullptr), output_(output), err_(err),
          pieceBytes_(pieceBytes), sender_(sender) {}

    // A command given as code units (an argument).
    void Process(std::u16string_view units, Place where);

    // A line of standard input. Offsets in errors count from the start of
    // the line as it stands in the input, a byte order mark included.
    void ProcessLine(const InputLine& line, Place where);

    // Text that is not valid UTF-8: an error, and an empty output line.
    void Invalid(const Utf8Error& error, Place where);

    // A line that could not be held or converted for want of memory: an
    // error, and an empty output line.
    void OutOfMemory(Place where);

    // Writes "vantrel-convert: line 3: <what>" to the error stream, with
    // control characters escaped, and notes the status.
    void Fail(Place where, std::string_view what, int status);

    // The exit status so far.
    int Status() const { return status_; }

    // Writes a --send error that names its own places ("vantrel-convert:
    // lines 3-5: ...") and stops the run with kPortFailed.
    void Halt(std::string_view error);

    // True once sending has failed or stopped: the run reads no further.
    bool Stopped() const { return stopped_; }
    void Note(int status);

  private:
    template <typename Pieces>
    void Convert(Pieces& pieces, const conversion::CommandShape& shape, Place where);
    template <typename Char> void Decode(std::basic_string_view<Char> text, Place where);
    void WriteCommand(std::u16string_view command);
    void EndLine();
    // "vantrel-convert: line 3: ", the start of every error about a command.
    static std::string ErrorPrefix(Place where);

    const Mode mode_;
    const bool check_;
    Output& output_;
    std::ostream& err_;
    const std::size_t pieceBytes_;
    int status_ = kAllAccepted;
    std::u16string units_;   // a piece of the current command, decoded
    std::u16string command_; // a command read back from a message
    std::string complaint_;  // a complaint before its line breaks are escaped
    std::u16string sent_;    // a command for the Sender
    Sender* const sender_;
    bool stopped_ = false;
};
