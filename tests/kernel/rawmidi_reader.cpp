// Reads a raw MIDI device of the kernel (/dev/snd/midiC*D*) into a file, either
// at a fixed byte rate, as a MIDI cable drains a port, or as fast as bytes come.
// tests/kernel/run.sh builds it statically and runs it inside the test machine:
//
//   rawmidi_reader DEVICE OUTPUT RATE COUNT QUIET_MS READY
//
// RATE is bytes per second or "max". The reader stops after COUNT bytes (0: no
// limit) or once nothing has come for QUIET_MS milliseconds, the first byte
// included. It creates the file READY when the device is open and its input is
// started, so a sender may begin. Its one line of output gives the byte count
// and the times of the first and the last byte in seconds on the clock of
// /proc/uptime: "bytes=N first=S last=S". Exit status 0, or 1 with a message.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

// At a fixed rate the reader takes this many bytes at a time, then sleeps.
constexpr unsigned long kPacedChunk = 32;
constexpr unsigned long kBufferBytes = 4096;

int Fail(const char* what, const char* name) {
    std::fprintf(stderr, "rawmidi_reader: %s %s: %s\n", what, name, std::strerror(errno));
    return 1;
}

double Now() {
    timespec t{};
    clock_gettime(CLOCK_BOOTTIME, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void SleepUntil(double when) {
    timespec t{};
    t.tv_sec = static_cast<time_t>(when);
    t.tv_nsec = static_cast<long>((when - static_cast<double>(t.tv_sec)) * 1e9);
    while (clock_nanosleep(CLOCK_BOOTTIME, TIMER_ABSTIME, &t, nullptr) == EINTR) {
    }
}

bool Number(const char* text, unsigned long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(text, &end, 10);
    return errno == 0 && end != text && *end == '\0';
}

bool WriteAll(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    unsigned long rate = 0; // 0: as fast as bytes come
    unsigned long count = 0;
    unsigned long quietMs = 0;
    if (argc != 7 || (std::string(argv[3]) != "max" && (!Number(argv[3], rate) || rate == 0)) ||
        !Number(argv[4], count) || !Number(argv[5], quietMs)) {
        std::fprintf(stderr, "usage: rawmidi_reader DEVICE OUTPUT RATE|max COUNT QUIET_MS READY\n");
        return 1;
    }
    const int device = open(argv[1], O_RDONLY | O_NONBLOCK);
    if (device < 0) {
        return Fail("cannot open", argv[1]);
    }
    const int output = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (output < 0) {
        return Fail("cannot create", argv[2]);
    }
    const unsigned long chunk = rate == 0 ? kBufferBytes : kPacedChunk;
    unsigned char buffer[kBufferBytes];
    unsigned long total = 0;
    double first = 0;
    double last = 0;
    // The kernel passes bytes to a raw MIDI input only once a read or a poll
    // has started it: one read that finds nothing yet does that.
    bool started = false;
    double idleSince = Now();
    while (count == 0 || total < count) {
        if (started) {
            const double waitMs = static_cast<double>(quietMs) - (Now() - idleSince) * 1000;
            if (waitMs <= 0) {
                break;
            }
            pollfd p{device, POLLIN, 0};
            const int ready = poll(&p, 1, static_cast<int>(waitMs) + 1);
            if (ready < 0 && errno != EINTR) {
                return Fail("cannot poll", argv[1]);
            }
            if (ready <= 0) {
                continue;
            }
        }
        const size_t want = count == 0 ? chunk : std::min(chunk, count - total);
        const ssize_t n = read(device, buffer, want);
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return Fail("cannot read", argv[1]);
        }
        if (!started) {
            started = true;
            const int marker = open(argv[6], O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (marker < 0 || close(marker) != 0) {
                return Fail("cannot create", argv[6]);
            }
        }
        if (n <= 0) {
            continue;
        }
        if (!WriteAll(output, buffer, static_cast<size_t>(n))) {
            return Fail("cannot write", argv[2]);
        }
        last = Now();
        if (total == 0) {
            first = last;
        }
        total += static_cast<unsigned long>(n);
        if (rate != 0) {
            SleepUntil(first + static_cast<double>(total) / static_cast<double>(rate));
        }
        idleSince = Now();
    }
    if (close(output) != 0) {
        return Fail("cannot write", argv[2]);
    }
    if (std::printf("bytes=%lu first=%.3f last=%.3f\n", total, first, last) < 0 ||
        std::fflush(stdout) != 0) {
        return Fail("cannot write", "standard output");
    }
    return 0;
}
