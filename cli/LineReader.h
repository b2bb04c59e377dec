// Reading standard input one line at a time, for vantrel-convert.
//
// Lines end at LF; a CR just before the end of a line is part of the line
// end, and a UTF-8 byte order mark at the very start of the input is
// skipped. A line is handed out where it lies in the reader's buffer when it
// is there whole, the usual case, and gathered in a string of its own only
// when it spans reads.
//
// Two more things set it apart from std::getline. Before every read that may
// wait for the operating system (whenever no complete line is buffered) it
// calls back, so that the tool can hand out every answer it owes before it
// waits: whoever feeds the tool line by line sees each answer at once. And a
// line too long to hold in memory is read to its end and dropped, so that
// none of it is taken for a further line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// One line of input, without its line end or byte order mark.
struct InputLine {
    std::string_view bytes;
    // The number of bytes before `bytes` in the line as it stands in the
    // input: those of a byte order mark, or 0.
    std::size_t skipped = 0;
    // True when every byte is below 0x80, so that the bytes are the line's
    // code units as they are. Found while looking for the line's end; a line
    // that began with a byte order mark is not said to be ASCII.
    bool ascii = false;
};

class LineReader {
  public:
    enum class Result {
        Line,        // Line() holds the next line
        End,         // the input has ended
        OutOfMemory, // the line could not be held; it has been read and dropped
        Stopped,     // the call-back asked to stop
    };

    // `beforeWait` runs before each read that may wait; returning false
    // stops the reading.
    LineReader(std::streambuf& input, std::function<bool()> beforeWait,
               std::size_t bufferBytes = 64 * 1024);

    // Reads the next line.
    Result Next();

    // For input that is not lines (a .syx stream): the next bytes as they
    // come, in `bytes`, valid until the next call. Result::Line when there
    // are some. Not mixed with Next.
    Result NextBytes(std::string_view& bytes);

    // The line Next read; valid until the next call of Next.
    const InputLine& Line() const { return line_; }

    // True if the input could not be read (as opposed to having ended).
    bool Failed() const { return failed_; }

  private:
    // Refills the buffer; false at the end of the input or when stopped.
    bool Refill(bool& stopped);
    Result Found(std::string_view line, std::uint64_t bytesOred);
    // Next, for a line that is not whole in the buffer, or the first.
    Result NextGathering();

    std::streambuf& input_;
    const std::function<bool()> beforeWait_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::string held_; // a line that spans reads
    InputLine line_;
    bool first_ = true;
    bool failed_ = false;
};

} // namespace cli
