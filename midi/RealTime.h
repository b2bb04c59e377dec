// Helpers for handing data to and from a real-time thread (a platform's
// audio callback, say): a semaphore that such a thread may post and whose
// waits end at a deadline or a stop request, and a lock-free byte queue
// between one writer and one reader. POSIX.
#pragma once

#include <semaphore.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace midi_ports {

using Clock = std::chrono::steady_clock;

// Whether the program has been asked to stop (Ctrl-C, SIGTERM); null when
// it cannot be, and then a wait ends only at its deadline.
using StopCheck = bool (*)();

// A POSIX semaphore whose waits end at a deadline on the monotonic clock,
// or at a stop request. Posting is safe in the real-time thread.
class Semaphore {
  public:
    Semaphore() { sem_init(&semaphore_, 0, 0); }
    ~Semaphore() { sem_destroy(&semaphore_); }
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    void Post() { sem_post(&semaphore_); }

    // Posts unless a post is waiting to be taken already: a thread that
    // posts every period piles up no count.
    void Wake();

    // Waits for a post, for as long as it takes; for threads that no
    // signal reaches.
    void Wait();

    // Waits for a post; false when the deadline came first, or a stop that
    // `stop` (when not null) tells of.
    bool WaitUntil(Clock::time_point deadline, StopCheck stop);

  private:
    sem_t semaphore_;
};

// A lock-free queue of bytes between one writer and one reader, for the
// real-time thread: neither side locks or allocates.
class ByteQueue {
  public:
    explicit ByteQueue(std::size_t bytes) : data_(bytes) {}
    std::size_t Capacity() const { return data_.size(); }
    std::size_t ReadSpace() const;
    std::size_t WriteSpace() const { return data_.size() - ReadSpace(); }
    // Copies `size` bytes in or out; the caller has checked the space.
    // Peek copies without taking, from `offset` bytes past the next byte.
    void Write(const void* bytes, std::size_t size);
    void Peek(void* bytes, std::size_t size, std::size_t offset = 0) const;
    void Read(void* bytes, std::size_t size);

  private:
    std::vector<std::uint8_t> data_;
    std::atomic<std::size_t> written_{0};
    std::atomic<std::size_t> read_{0};
};

} // namespace midi_ports
