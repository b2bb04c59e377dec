// Reading lines; see LineReader.h.
#include "LineReader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

} // namespace

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

LineReader::Result LineReader::Found(std::string_view line) {
    if (line.ends_with('\r')) {
        line.remove_suffix(1);
    }
    skipped_ = 0;
    if (first_ && line.starts_with(kByteOrderMark)) {
        line.remove_prefix(kByteOrderMark.size());
        skipped_ = kByteOrderMark.size();
    }
    first_ = false;
    line_ = line;
    return Result::Line;
}

LineReader::Result LineReader::Next() {
    held_.clear();
    line_ = {};
    bool held = false; // the line so far is in held_
    bool dropping = false;
    auto dropped = [this] {
        first_ = false;
        return Result::OutOfMemory;
    };
    while (true) {
        if (begin_ == end_) {
            bool stopped = false;
            if (!Refill(stopped)) {
                if (stopped) {
                    return Result::Stopped;
                }
                // A last line without a line feed is still a line.
                return dropping ? dropped() : held ? Found(held_) : Result::End;
            }
        }
        const char* const from = buffer_.data() + begin_;
        const std::size_t size = end_ - begin_;
        const auto* const feed = static_cast<const char*>(std::memchr(from, '\n', size));
        const std::size_t length = feed != nullptr ? static_cast<std::size_t>(feed - from) : size;
        begin_ += feed != nullptr ? length + 1 : length;
        if (feed != nullptr && !held && !dropping) {
            return Found(std::string_view(from, length)); // where it lies in the buffer
        }
        if (!dropping) {
            try {
                held_.append(from, length);
                held = true;
            } catch (const std::bad_alloc&) {
                // Give the memory back, then read on to the line's end.
                std::string().swap(held_);
                dropping = true;
            }
        }
        if (feed != nullptr) {
            return dropping ? dropped() : Found(held_);
        }
    }
}
