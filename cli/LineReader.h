// Reading standard input one line at a time, for vantrel-convert.
//
// Two things set it apart from std::getline. Before every read that may wait
// for the operating system (whenever no complete line is buffered) it calls
// back, so that the tool can hand out every answer it owes before it waits:
// whoever feeds the tool line by line sees each answer at once. And a line
// too long to hold in memory is read to its end and dropped, so that none of
// it is taken for a further line.
#pragma once

#include <cstddef>
#include <functional>
#include <streambuf>
#include <string>
#include <vector>

class LineReader {
  public:
    enum class Result {
        Line,        // `line` holds the next line, without its line feed
        End,         // the input has ended
        OutOfMemory, // the line could not be held; it has been read and dropped
        Stopped,     // the call-back asked to stop
    };

    // `beforeWait` runs before each read that may wait; returning false
    // stops the reading.
    LineReader(std::streambuf& input, std::function<bool()> beforeWait,
               std::size_t bufferBytes = 64 * 1024);

    // Reads the next line into `line`.
    Result Next(std::string& line);

    // True if the input could not be read (as opposed to having ended).
    bool Failed() const { return failed_; }

  private:
    // Refills the buffer; false at the end of the input or when stopped.
    bool Refill(bool& stopped);

    std::streambuf& input_;
    const std::function<bool()> beforeWait_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool failed_ = false;
};
