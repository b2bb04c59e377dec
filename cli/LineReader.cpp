// Reading lines; see LineReader.h.
#include "LineReader.h"

#include <algorithm>
#include <new>
#include <utility>

LineReader::LineReader(std::streambuf& input, std::function<bool()> beforeWait,
                       std::size_t bufferBytes)
    : input_(input), beforeWait_(std::move(beforeWait)), buffer_(bufferBytes) {}

bool LineReader::Refill(bool& stopped) {
    using Traits = std::streambuf::traits_type;
    begin_ = end_ = 0;
    try {
        std::streamsize available = input_.in_avail();
        if (available <= 0) {
            // Nothing is buffered: the next read may wait.
            if (!beforeWait_()) {
                stopped = true;
                return false;
            }
            if (Traits::eq_int_type(input_.sgetc(), Traits::eof())) {
                return false;
            }
            available = std::max<std::streamsize>(input_.in_avail(), 1);
        }
        const auto wanted = std::min(available, static_cast<std::streamsize>(buffer_.size()));
        end_ = static_cast<std::size_t>(input_.sgetn(buffer_.data(), wanted));
    } catch (...) {
        // A stream buffer that reports a failed read by throwing.
        failed_ = true;
        return false;
    }
    return end_ != 0;
}

LineReader::Result LineReader::Next(std::string& line) {
    line.clear();
    bool any = false;
    bool dropping = false;
    while (true) {
        if (begin_ == end_) {
            bool stopped = false;
            if (!Refill(stopped)) {
                if (stopped) {
                    return Result::Stopped;
                }
                // A last line without a line feed is still a line.
                return dropping ? Result::OutOfMemory : any ? Result::Line : Result::End;
            }
        }
        any = true;
        const char* const from = buffer_.data() + begin_;
        const char* const to = buffer_.data() + end_;
        const char* const feed = std::find(from, to, '\n');
        if (!dropping) {
            try {
                line.append(from, feed);
            } catch (const std::bad_alloc&) {
                // Give the memory back, then read on to the line's end.
                std::string().swap(line);
                dropping = true;
            }
        }
        begin_ = static_cast<std::size_t>(feed - buffer_.data());
        if (feed != to) {
            ++begin_;
            return dropping ? Result::OutOfMemory : Result::Line;
        }
    }
}
