// A little-endian reader over raw resource bytes: fixed-size integers,
// zero-terminated UTF-16 strings and alignment, each read checked
// against the end of the data so that a truncated or malformed block fails
// with the offset where reading went wrong instead of reading past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace vantrel_test {

class ByteReader {
  public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t Offset() const { return offset_; }
    std::size_t Remaining() const { return bytes_.size() - offset_; }

    void Seek(std::size_t offset) {
        if (offset > bytes_.size()) {
            Fail("seek beyond the end", 0);
        }
        offset_ = offset;
    }

    void Skip(std::size_t count) {
        Need(count);
        offset_ += count;
    }

    // Moves forward to the next multiple of `alignment`, counted from the
    // start of the data (resource data starts DWORD-aligned).
    void Align(std::size_t alignment) {
        const std::size_t rest = offset_ % alignment;
        if (rest != 0) {
            Skip(alignment - rest);
        }
    }

    std::uint8_t U8() {
        Need(1);
        return bytes_[offset_++];
    }

    std::uint16_t U16() {
        Need(2);
        const auto value = static_cast<std::uint16_t>(bytes_[offset_] | (bytes_[offset_ + 1] << 8));
        offset_ += 2;
        return value;
    }

    std::uint32_t U32() {
        const std::uint32_t low = U16();
        const std::uint32_t high = U16();
        return low | (high << 16);
    }

    std::int16_t I16() { return static_cast<std::int16_t>(U16()); }

    // A zero-terminated UTF-16 string; the terminator is consumed.
    std::u16string WideString() {
        std::u16string text;
        for (char16_t c = static_cast<char16_t>(U16()); c != u'\0';
             c = static_cast<char16_t>(U16())) {
            text.push_back(c);
        }
        return text;
    }

  private:
    void Need(std::size_t count) const {
        if (count > Remaining()) {
            Fail("read past the end", count);
        }
    }

    [[noreturn]] void Fail(const char* what, std::size_t count) const {
        throw std::runtime_error(std::string(what) + " (offset " + std::to_string(offset_) +
                                 ", wanted " + std::to_string(count) + " bytes, size " +
                                 std::to_string(bytes_.size()) + ")");
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t offset_ = 0;
};

} // namespace vantrel_test
