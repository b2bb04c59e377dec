// Converting and decoding commands; see Session.h.
#include "Session.h"

#include "Escapes.h"
#include "Message.h"
#include "MessageErrors.h"
#include "ReceivedMessage.h"
#include "Sending.h"

#include <optional>
#include <type_traits>

namespace cli {

namespace {

// A line of UTF-8 as pieces of UTF-16 for the conversion, decoded again each
// time the conversion reads it, so that only one piece is held at a time; a
// line of one piece is decoded once and then kept. The first reading finds
// any error, and the conversion reads no further then.
class Utf8Pieces {
  public:
    Utf8Pieces(std::string_view bytes, std::size_t pieceBytes, std::u16string& buffer)
        : bytes_(bytes), pieceBytes_(pieceBytes), buffer_(buffer) {}

    template <typename Take> void operator()(Take&& take) {
        if (kept_) {
            take(std::u16string_view(buffer_));
            return;
        }
        error_ = DecodeUtf8InPieces(bytes_, pieceBytes_, buffer_, take);
        kept_ = !error_ && bytes_.size() <= pieceBytes_;
    }

    const std::optional<Utf8Error>& Error() const { return error_; }

  private:
    std::string_view bytes_;
    std::size_t pieceBytes_;
    std::u16string& buffer_;
    std::optional<Utf8Error> error_;
    bool kept_ = false;
};

// The sinks the conversion writes to (see Conversion.h).

// Message text, straight into the output.
class OutputSink {
  public:
    explicit OutputSink(BufferedOutput& output) : output_(output) {}
    std::string& Buffer() { return output_.Pending(); }
    bool Flush() { return output_.WriteIfFull() && !output_.Failed(); }

  private:
    BufferedOutput& output_;
};

// A complaint on the output: its line breaks escaped, so that every command
// gives one output line.
class ComplaintSink {
  public:
    ComplaintSink(std::string& text, BufferedOutput& output) : text_(text), output_(output) {}
    std::string& Buffer() { return text_; }
    bool Flush() {
        AppendLineBreaksEscaped(text_, output_.Pending());
        text_.clear();
        return output_.WriteIfFull() && !output_.Failed();
    }

  private:
    std::string& text_;
    BufferedOutput& output_;
};

// An error line on the error stream: the prefix, then the text with its
// control characters escaped, written out in large pieces; End() ends it.
class ErrorLine {
  public:
    ErrorLine(std::ostream& err, std::string prefix) : err_(err), line_(std::move(prefix)) {}
    std::string& Buffer() { return text_; }
    bool Flush() {
        AppendControlsEscaped(text_, line_);
        text_.clear();
        if (line_.size() >= BufferedOutput::kChunk) {
            Write();
        }
        return true;
    }
    void End() {
        Flush();
        line_ += '\n';
        Write();
    }

  private:
    void Write() {
        err_.write(line_.data(), static_cast<std::streamsize>(line_.size()));
        line_.clear();
    }

    std::ostream& err_;
    std::string line_;
    std::string text_;
};

} // namespace

void Session::Halt(std::string_view error) {
    report_.Error({std::string(error)}, kPortFailed);
    stopped_ = true;
}

void Session::EndLine() {
    if (mode_ != Mode::Syx) {
        output_.Pending() += '\n';
    }
}

void Session::Invalid(const Utf8Error& error, Place where) {
    report_.Fail(where, DescribeUtf8Error(error), kBadInput);
    EndLine();
}

void Session::OutOfMemory(Place where) {
    report_.Fail(where, "out of memory: the " + std::string(where.kind) + " is too long to convert",
                 kBadInput);
    EndLine();
}

void Session::Process(std::u16string_view units, Place where) {
    if (mode_ == Mode::Decode) {
        Decode(units, where);
        return;
    }
    conversion::HeldPieces pieces{units};
    Convert(pieces, conversion::Scan(pieces), where);
}

void Session::ProcessLine(const InputLine& line, Place where) {
    if (mode_ == Mode::Decode || line.bytes.size() > pieceBytes_ ||
        !ConvertWhole(line.bytes, where)) {
        ProcessLineGenerally(line, where);
    }
}

void Session::ProcessLineGenerally(const InputLine& line, Place where) {
    const std::string_view bytes = line.bytes;
    if (line.ascii) {
        // Each byte is one code unit: nothing to decode or check.
        if (mode_ == Mode::Decode) {
            Decode(bytes, where);
            return;
        }
        conversion::HeldPieces pieces{bytes, pieceBytes_};
        Convert(pieces, conversion::Scan(pieces), where);
        return;
    }
    Utf8Pieces pieces(bytes, pieceBytes_, units_);
    const conversion::CommandShape shape = conversion::Scan(pieces);
    if (auto invalid = pieces.Error()) {
        invalid->offset += line.skipped;
        Invalid(*invalid, where);
        return;
    }
    if (mode_ == Mode::Decode) {
        Decode(bytes, where);
        return;
    }
    Convert(pieces, shape, where);
}

template <typename Pieces>
void Session::Convert(Pieces& pieces, const conversion::CommandShape& shape, Place where) {
    if (!shape.accepted) {
        report_.Note(kRefused);
        if (mode_ == Mode::Syx) {
            ErrorLine line(report_.Stream(), Report::Prefix(where));
            conversion::WriteComplaint(line, pieces, shape);
            line.End();
        } else {
            ComplaintSink sink(complaint_, output_);
            conversion::WriteComplaint(sink, pieces, shape);
            output_.Pending() += '\n';
        }
        return;
    }
    const bool checked = check_ || mode_ == Mode::Syx;
    const auto tooLong = checked ? message::FindNonDataLength(shape.length) : std::nullopt;
    if (tooLong) {
        // Known before any walk: the text, but for --syx, goes out as it is
        // written.
        report_.Fail(where, DescribeNonDataValue(*tooLong), kNotData);
    }
    if (!checked || tooLong) {
        if (mode_ != Mode::Syx) {
            OutputSink sink(output_);
            conversion::WriteMessage(sink, pieces, shape);
            output_.Pending() += '\n';
        }
        return;
    }
    // At most 127 units: one walk writes the text (but for --syx), checks
    // the message and makes its raw bytes, all held until the check is done.
    std::string& text = output_.Pending();
    const std::size_t answer = text.size();
    if (mode_ == Mode::Syx) {
        conversion::NoText none;
        conversion::WriteMessage(none, pieces, shape, &bytes_);
    } else {
        conversion::StringSink<char> sink{text};
        conversion::WriteMessage(sink, pieces, shape, &bytes_);
        text += '\n';
    }
    Checked(where, answer);
}

void Session::Checked(Place where, std::size_t answer) {
    if (bytes_.nonData) {
        // Not valid MIDI: its text, if any, is the answer, and nothing is
        // sent.
        report_.Fail(where, DescribeNonDataValue(*bytes_.nonData), kNotData);
        return;
    }
    std::string& pending = output_.Pending();
    if (mode_ == Mode::Syx) {
        pending.append(reinterpret_cast<const char*>(bytes_.data.data()), bytes_.size);
        return;
    }
    if (sender_ != nullptr) {
        // The answer waits until its message is handed on.
        answer_.assign(pending, answer);
        pending.resize(answer);
        if (!Send(bytes_.Bytes(), where) && !stopped_) {
            EndLine(); // the output stays line for line with the input
        }
    }
}

bool Session::ConvertWhole(std::string_view line, Place where) {
    const conversion::Utf8Shape shape = conversion::ScanUtf8(line);
    if (!shape.accepted) {
        return false;
    }
    const std::string_view command = line.substr(shape.first, shape.size);
    const bool checked = check_ || mode_ == Mode::Syx;
    std::string& text = output_.Pending();
    const std::size_t answer = text.size();
    if (mode_ == Mode::Syx) {
        if (!conversion::MakeUtf8Bytes(command, bytes_)) {
            return false;
        }
    } else {
        if (!conversion::AppendUtf8Message(text, command, "\n", checked ? &bytes_ : nullptr)) {
            return false;
        }
    }
    if (checked) {
        Checked(where, answer);
    }
    return true;
}

bool Session::Send(std::span<const std::uint8_t> bytes, Place where) {
    if (const auto error = sender_->Send(bytes, where)) {
        // Not handed on: no answer for it.
        if (error->halts) {
            Halt(error->what);
        } else {
            report_.Error({error->what}, kPortFailed);
        }
        return false;
    }
    output_.Pending() += answer_;
    output_.Flush(); // the answer leaves as its message is handed on
    return true;
}

void Session::Message(std::span<const std::uint8_t> message, Place where) {
    if (sender_ != nullptr) {
        // Sent as it stands, Vantrel's or not; the answer is the line
        // --receive prints for it.
        answer_.clear();
        ShowMessage(message, Mode::Text, false, answer_);
        Send(message, where);
        return;
    }
    if (const auto problem = ShowMessage(message, mode_, escape_, output_.Pending())) {
        report_.Fail(where, *problem, kNotShown);
    }
    output_.WriteIfFull();
}

template <typename Char> void Session::Decode(std::basic_string_view<Char> text, Place where) {
    if (const auto problem = message::Read(text, command_)) {
        const auto word = text.substr(problem->wordStart, problem->wordSize);
        std::string wordText;
        if constexpr (std::is_same_v<Char, char16_t>) {
            AppendUtf8(word, wordText);
        } else {
            wordText = word; // already UTF-8
        }
        report_.Fail(where, "not a Vantrel message: " + DescribeReadProblem(*problem, wordText),
                     kBadInput);
        EndLine();
        return;
    }
    if (check_) {
        if (const auto nonData = message::FindNonDataValue(command_)) {
            report_.Fail(where, DescribeNonDataValue(*nonData), kNotData);
        }
    }
    WriteCommand(command_);
    EndLine();
    if (command_.size() > pieceBytes_) {
        std::u16string().swap(command_); // as long as the line: not kept for the next
    }
}

void Session::WriteCommand(std::u16string_view command) {
    // In pieces, so that the UTF-8 form of a long command is never held whole.
    // Control characters escaped for a terminal, where a device's escape
    // sequences could rewrite the screen.
    char16_t pending = 0;
    std::string& out = escape_ ? utf8_ : output_.Pending();
    conversion::HeldPieces{command, pieceBytes_}([&](std::u16string_view piece) {
        AppendUtf8(piece, out, pending);
        if (escape_) {
            AppendControlsEscaped(utf8_, output_.Pending());
            utf8_.clear();
        }
        return output_.WriteIfFull() && !output_.Failed();
    });
    FinishUtf8(out, pending);
    if (escape_) {
        AppendControlsEscaped(utf8_, output_.Pending());
        utf8_.clear();
    }
}

} // namespace cli
