// The real-time helpers; see RealTime.h.
#include "RealTime.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace midi_ports {

namespace {

// How often a wait looks whether a stop was requested.
constexpr std::chrono::milliseconds kStopSlice{100};

} // namespace

void Semaphore::Wake() {
    int value = 0;
    if (sem_getvalue(&semaphore_, &value) != 0 || value == 0) {
        sem_post(&semaphore_);
    }
}

void Semaphore::Wait() {
    while (sem_wait(&semaphore_) != 0 && errno == EINTR) {
    }
}

bool Semaphore::WaitUntil(Clock::time_point deadline, StopCheck stop) {
    constexpr long kBillion = 1'000'000'000;
    for (;;) {
        if (stop != nullptr && stop()) {
            return false;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            return sem_trywait(&semaphore_) == 0;
        }
        // A signal cuts the wait short; a stop request it made is seen at
        // the next turn, at the latest after a slice.
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::min<Clock::duration>(deadline - now, kStopSlice))
                              .count();
        timespec until{};
        clock_gettime(CLOCK_MONOTONIC, &until);
        until.tv_sec += static_cast<time_t>(left / kBillion);
        until.tv_nsec += static_cast<long>(left % kBillion);
        if (until.tv_nsec >= kBillion) {
            ++until.tv_sec;
            until.tv_nsec -= kBillion;
        }
        if (sem_clockwait(&semaphore_, CLOCK_MONOTONIC, &until) == 0) {
            return true;
        }
        if (errno != EINTR && errno != ETIMEDOUT) {
            return false;
        }
    }
}

std::size_t ByteQueue::ReadSpace() const {
    return written_.load(std::memory_order_acquire) - read_.load(std::memory_order_acquire);
}

void ByteQueue::Write(const void* bytes, std::size_t size) {
    const std::size_t at = written_.load(std::memory_order_relaxed);
    const auto* from = static_cast<const std::uint8_t*>(bytes);
    for (std::size_t i = 0; i < size; ++i) {
        data_[(at + i) % data_.size()] = from[i];
    }
    written_.store(at + size, std::memory_order_release);
}

void ByteQueue::Peek(void* bytes, std::size_t size, std::size_t offset) const {
    const std::size_t at = read_.load(std::memory_order_relaxed) + offset;
    auto* to = static_cast<std::uint8_t*>(bytes);
    for (std::size_t i = 0; i < size; ++i) {
        to[i] = data_[(at + i) % data_.size()];
    }
}

void ByteQueue::Read(void* bytes, std::size_t size) {
    if (bytes != nullptr) {
        Peek(bytes, size);
    }
    read_.store(read_.load(std::memory_order_relaxed) + size, std::memory_order_release);
}

} // namespace midi_ports
