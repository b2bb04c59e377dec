// Reading lines; see LineReader.h.
#include "LineReader.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace cli {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::uint64_t kHighBits = 0x8080808080808080u;
constexpr std::uint64_t kOnes = 0x0101010101010101u;

// Finds the first line feed in [from, to), or `to`, and ORs every byte
// before it into `bytesOred`. Lines are short as a rule, so this goes
// sixteen bytes (with SSE2) or eight at a time inline rather than through
// memchr and a second pass for the high bits.
inline const char* FindLineFeed(const char* from, const char* to, std::uint64_t& bytesOred) {
    const char* at = from;
#ifdef __SSE2__
    const __m128i feed = _mm_set1_epi8('\n');
    for (; to - at >= 16; at += 16) {
        const __m128i sixteen = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const auto feeds = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(sixteen, feed)));
        const auto high = static_cast<unsigned>(_mm_movemask_epi8(sixteen));
        if (feeds != 0) {
            // The high bits of the bytes before the first line feed.
            bytesOred |= (high & ((feeds & -feeds) - 1)) != 0 ? kHighBits : 0;
            return at + std::countr_zero(feeds);
        }
        bytesOred |= high != 0 ? kHighBits : 0;
    }
#endif
    if constexpr (std::endian::native == std::endian::little) {
        for (; to - at >= 8; at += 8) {
            std::uint64_t eight;
            std::memcpy(&eight, at, sizeof eight);
            // A byte of `apart` is zero where `eight` has a line feed; the
            // lowest byte flagged is the first line feed.
            const std::uint64_t apart = eight ^ ('\n' * kOnes);
            const std::uint64_t feeds = (apart - kOnes) & ~apart & kHighBits;
            if (feeds != 0) {
                const int before = std::countr_zero(feeds) / 8;
                bytesOred |= eight & ((std::uint64_t{1} << (8 * before)) - 1);
                return at + before;
            }
            bytesOred |= eight;
        }
    }
    for (; at != to && *at != '\n'; ++at) {
        bytesOred |= static_cast<unsigned char>(*at);
    }
    return at;
}

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

LineReader::Result LineReader::NextBytes(std::string_view& bytes) {
    bool stopped = false;
    if (!Refill(stopped)) {
        bytes = {};
        return stopped ? Result::Stopped : Result::End;
    }
    bytes = std::string_view(buffer_.data(), end_);
    return Result::Line;
}

LineReader::Result LineReader::Found(std::string_view line, std::uint64_t bytesOred) {
    if (line.ends_with('\r')) {
        line.remove_suffix(1);
    }
    line_ = {line, 0, (bytesOred & kHighBits) == 0};
    if (first_ && line.starts_with(kByteOrderMark)) {
        line_ = {line.substr(kByteOrderMark.size()), kByteOrderMark.size(), false};
    }
    first_ = false;
    return Result::Line;
}

LineReader::Result LineReader::Next() {
    // The usual case: the next line lies whole in the buffer, after the
    // first (which may begin with a byte order mark).
    if (begin_ != end_ && !first_) {
        std::uint64_t bytesOred = 0;
        const char* const from = buffer_.data() + begin_;
        const char* const to = buffer_.data() + end_;
        const char* const feed = FindLineFeed(from, to, bytesOred);
        if (feed != to) {
            auto length = static_cast<std::size_t>(feed - from);
            begin_ += length + 1;
            if (length != 0 && from[length - 1] == '\r') {
                --length;
            }
            line_ = {std::string_view(from, length), 0, (bytesOred & kHighBits) == 0};
            return Result::Line;
        }
    }
    return NextGathering();
}

LineReader::Result LineReader::NextGathering() {
    held_.clear();
    line_ = {};
    std::uint64_t bytesOred = 0;
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
                return dropping ? dropped() : held ? Found(held_, bytesOred) : Result::End;
            }
        }
        const char* const from = buffer_.data() + begin_;
        const char* const to = buffer_.data() + end_;
        const char* const feed = FindLineFeed(from, to, bytesOred);
        const auto length = static_cast<std::size_t>(feed - from);
        begin_ += feed != to ? length + 1 : length;
        if (feed != to && !held && !dropping) {
            return Found(std::string_view(from, length), bytesOred); // where it lies
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
        if (feed != to) {
            return dropping ? dropped() : Found(held_, bytesOred);
        }
    }
}

} // namespace cli
