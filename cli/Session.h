// What vantrel-convert does with each command: converting it (as text, or
// as raw bytes for --syx, checked for --check), or for --decode reading a
// message text back into its command; and what it does with each message of
// a .syx stream (--decode --syx, --send --syx). Errors and the exit status
// go to the run's Report. With --send, each message that passes the
// data-byte check also goes to the Sender, as the bytes the conversion made.
//
// Each command is walked once on its way to its text, its check and its raw
// bytes. A line of one piece (up to 64 KiB) holding an accepted command, the
// usual line, is converted straight from its UTF-8 bytes as they lie in the
// reader's buffer (conversion/Utf8Command.h), written into the output. Any
// other takes the general way, conversion/Conversion.h's, fed a command in pieces
// and writing UTF-8 straight into the output: a line of ASCII from its
// bytes, since each is one code unit, any other decoded from UTF-8 one piece
// at a time, each time the conversion reads it, so a long line is never held
// again as UTF-16 or as whole output: memory grows with the longest line, by
// little more than the line itself.
#pragma once

#include "BufferedOutput.h"
#include "Conversion.h"
#include "LineReader.h"
#include "Report.h"
#include "RunTypes.h"
#include "Utf8.h"
#include "Utf8Command.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace cli {

class Sender;

class Session {
  public:
    // `pieceBytes`: lines longer than this many bytes go piece by piece.
    // `sender`: for --send, which implies the check. `escapeControls`: a
    // decoded command's control characters are escaped, for a terminal.
    Session(Mode mode, bool check, BufferedOutput& output, Report& report, std::size_t pieceBytes,
            Sender* sender = nullptr, bool escapeControls = false)
        : mode_(mode), check_(check || sender != nullptr), escape_(escapeControls), output_(output),
          report_(report), pieceBytes_(pieceBytes), sender_(sender) {}

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

    // A whole System Exclusive message of a .syx stream: --decode prints
    // its command as --receive --decode would (or names why it cannot);
    // --send sends it as it stands, when the port carries it whole, and
    // answers with the line --receive would print for it.
    void Message(std::span<const std::uint8_t> message, Place where);

    // Writes a --send error that names its own places ("vantrel-convert:
    // lines 3-5: ...") and stops the run with kPortFailed.
    void Halt(std::string_view error);

    // True once sending has failed or stopped: the run reads no further.
    bool Stopped() const { return stopped_; }

  private:
    // A line of one piece holding an accepted command, in one walk of its
    // UTF-8 (Utf8Command.h); false, having done nothing, for any other
    // line, or one that is not well-formed UTF-8, which goes the general
    // way.
    bool ConvertWhole(std::string_view line, Place where);
    // Any other line, and every line for --decode.
    [[gnu::noinline]] void ProcessLineGenerally(const InputLine& line, Place where);
    template <typename Pieces>
    void Convert(Pieces& pieces, const conversion::CommandShape& shape, Place where);
    // What becomes of a message checked in its walk: its raw bytes are in
    // bytes_, and its text and line end (but for --syx) on the output from
    // `answer` on. With --send a valid message's text waits in answer_.
    void Checked(Place where, std::size_t answer);
    template <typename Char> void Decode(std::basic_string_view<Char> text, Place where);
    void WriteCommand(std::u16string_view command);
    void EndLine();
    // Sends `bytes` and hands out answer_ once they are handed on, and
    // returns true; when they are not, the answer is dropped.
    bool Send(std::span<const std::uint8_t> bytes, Place where);

    const Mode mode_;
    const bool check_;
    const bool escape_;
    BufferedOutput& output_;
    Report& report_;
    const std::size_t pieceBytes_;
    std::u16string units_;           // a piece of the current command, decoded
    std::u16string command_;         // a command read back from a message
    std::string complaint_;          // a complaint before its line breaks are escaped
    std::string utf8_;               // a piece of a decoded command, before its escaping
    conversion::MessageBytes bytes_; // the raw bytes of a checked message
    std::string answer_;             // the answer for the message being sent
    Sender* const sender_;
    bool stopped_ = false;
};

} // namespace cli
