// Putting System Exclusive messages together; see SysexAssembler.h.
#include "SysexAssembler.h"

namespace midi_ports {

namespace {

constexpr std::uint8_t kStart = 0xF0;
constexpr std::uint8_t kEnd = 0xF7;
constexpr std::uint8_t kFirstRealTime = 0xF8;

bool IsStatus(std::uint8_t byte) {
    return byte >= 0x80;
}

} // namespace

SysexAssembler::Result SysexAssembler::Take(std::span<const std::uint8_t> bytes, std::size_t& at) {
    if (!inMessage_) {
        message_.clear();
    }
    while (at < bytes.size()) {
        const std::uint8_t byte = bytes[at];
        if (byte >= kFirstRealTime) {
            ++at;
            continue;
        }
        if (!inMessage_) {
            ++at;
            if (skipping_ && (!IsStatus(byte) || byte == kEnd)) {
                // The rest of a message cut for its length, to its F7: still
                // System Exclusive data, so it counts as arriving.
                ++taken_;
                skipping_ = byte != kEnd;
                continue;
            }
            skipping_ = false;
            if (byte == kStart) {
                inMessage_ = true;
                message_.assign(1, byte);
                ++taken_;
            }
            continue;
        }
        if (IsStatus(byte) && byte != kEnd) {
            inMessage_ = false;
            cutBy_ = byte;
            return Result::Cut;
        }
        ++at;
        ++taken_;
        message_.push_back(byte);
        if (byte == kEnd) {
            inMessage_ = false;
            return Result::Complete;
        }
        if (message_.size() >= kLongest) {
            inMessage_ = false;
            skipping_ = true;
            cutBy_ = 0;
            return Result::Cut;
        }
    }
    return Result::More;
}

bool SysexAssembler::Cut() {
    if (!inMessage_) {
        return false;
    }
    inMessage_ = false;
    cutBy_ = 0;
    return true;
}

} // namespace midi_ports
