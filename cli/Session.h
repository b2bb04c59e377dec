// What vantrel-convert does with each command: converting it (as text, or
// as raw bytes for --syx, checked for --check), or for --decode reading a
// message text back into its command; and the exit status that follows.
// With --send, each message that passes the data-byte check also goes to
// the Sender.
//
// A line of standard input is held as the UTF-8 bytes it came in. A line
// longer than one piece is never held again as UTF-16 or as whole output:
// its units are counted first, since the length comes before them, then
// decoded, converted and written one piece at a time. So memory grows with
// the longest line, by little more than the line itself.
#pragma once

#include "Output.h"
#include "Utf8.h"

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// Exit statuses. When several apply, the highest in this order wins:
// kBadInput, then kPortFailed, then kNotData, then kRefused.
inline constexpr int kAllAccepted = 0;
inline constexpr int kRefused = 1;    // a command does not start with "set "
inline constexpr int kBadInput = 2;   // invalid UTF-8, bad usage, malformed message, failed output
inline constexpr int kNotData = 3;    // --check or --syx: a value is not a data byte
inline constexpr int kPortFailed = 4; // --send: no such port, or opening or sending failed

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

    // A line of standard input. `skipped` is the number of bytes of the line
    // before `bytes` (a byte order mark), so that offsets in errors count
    // from the start of the line as it stands in the input.
    void ProcessLine(std::string_view bytes, Place where, std::size_t skipped);

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

    // Reports a failure the back end noticed on its own after a send,
    // naming the commands of the messages it concerns, and stops the run;
    // true if there was one.
    bool CheckDelivery();

    // True once a send has failed: the run ends at once.
    bool Stopped() const { return stopped_; }
    void Note(int status);

  private:
    void Convert(std::u16string_view units, Place where);
    void Decode(std::u16string_view text, Place where);
    void ConvertLong(std::string_view bytes, Place where, std::size_t skipped);
    void DecodeLong(std::string_view bytes, Place where, std::size_t skipped);
    // Answers a message read back into command_: checked for --check, then
    // the command as one output line.
    void AnswerDecoded(Place where);
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
    std::u16string units_;   // the current command, or a piece of it
    std::u16string command_; // a command read back from a message
    std::u16string text_;    // message text before it becomes UTF-8
    Sender* const sender_;
    std::vector<std::size_t> sent_; // the number of each sent message's command
    const char* sentKind_ = "line";
    bool stopped_ = false;
};
