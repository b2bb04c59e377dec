// Reads a raw MIDI device of the kernel (/dev/snd/midiC*D*), or the pipe that
// carries a serial port of the test machine out of QEMU, into a file, either at
// a fixed byte rate, as a MIDI cable drains a port, or as fast as bytes come.
// tests/kernel/run.sh builds it statically and runs it inside the test machine,
// and on the host for the serial port's pipe:
//
//   rawmidi_reader DEVICE OUTPUT RATE COUNT QUIET_MS READY [ANSWER]
//
// RATE is bytes per second or "max". The reader stops after COUNT bytes (0: no
// limit), at the end of a pipe, or once nothing has come for QUIET_MS
// milliseconds, the first byte included. It creates the file READY when the
// device is open and its input is started, so a sender may begin. Reading
// as fast as bytes come, it asks the kernel for the largest input buffer of a
// raw device (1 MiB), so that a sender the driver does not hold back (the USB
// gadget) loses nothing to the reader. A pipe is made 8 KiB large rather than
// 64 KiB, so that QEMU's serial port, which waits while the pipe is full,
// sends at about the reader's pace.
//
// Its output gives the byte count and the times of the first and the last byte
// in seconds on the clock of /proc/uptime: "bytes=N first=S last=S". With
// ANSWER (a pipe into the machine), the bytes F0 7D 7F 7F 7F F7 end a segment:
// the reader writes one byte to ANSWER, so the machine knows the segment
// arrived, and the segments go to OUTPUT.1, OUTPUT.2 and so on (the mark left
// out), with one output line each. Exit status 0, or 1 with a message.
#include <fcntl.h>
#include <poll.h>
#include <sound/asound.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

// At a fixed rate the reader takes this many bytes at a time, then sleeps.
constexpr unsigned long kPacedChunk = 32;
constexpr unsigned long kBufferBytes = 4096;
constexpr int kPipeBytes = 8192;
constexpr size_t kLargestInput = 1024 * 1024;
constexpr unsigned char kMark[] = {0xf0, 0x7d, 0x7f, 0x7f, 0x7f, 0xf7};

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

// The bytes of one segment: where they go and when they came.
struct Segment {
    int output = -1;
    unsigned long bytes = 0;
    double first = 0;
    double last = 0;
};

// Writes BYTES to the segment's file, counting them as come at NOW.
bool Keep(Segment& segment, const std::vector<unsigned char>& bytes, double now) {
    if (bytes.empty()) {
        return true;
    }
    if (segment.bytes == 0) {
        segment.first = now;
    }
    segment.last = now;
    segment.bytes += bytes.size();
    return WriteAll(segment.output, bytes.data(), bytes.size());
}

bool Report(const Segment& segment) {
    return std::printf("bytes=%lu first=%.3f last=%.3f\n", segment.bytes, segment.first,
                       segment.last) >= 0;
}

} // namespace

int main(int argc, char** argv) {
    unsigned long rate = 0; // 0: as fast as bytes come
    unsigned long count = 0;
    unsigned long quietMs = 0;
    if ((argc != 7 && argc != 8) ||
        (std::string(argv[3]) != "max" && (!Number(argv[3], rate) || rate == 0)) ||
        !Number(argv[4], count) || !Number(argv[5], quietMs)) {
        std::fprintf(
            stderr, "usage: rawmidi_reader DEVICE OUTPUT RATE|max COUNT QUIET_MS READY [ANSWER]\n");
        return 1;
    }
    const int device = open(argv[1], O_RDONLY | O_NONBLOCK);
    if (device < 0) {
        return Fail("cannot open", argv[1]);
    }
    struct stat info {};
    snd_rawmidi_params input{};
    input.stream = SNDRV_RAWMIDI_STREAM_INPUT;
    input.buffer_size = kLargestInput;
    input.avail_min = 1;
    if (fstat(device, &info) != 0 ||
        (S_ISFIFO(info.st_mode) && fcntl(device, F_SETPIPE_SZ, kPipeBytes) < 0) ||
        (S_ISCHR(info.st_mode) && rate == 0 &&
         ioctl(device, SNDRV_RAWMIDI_IOCTL_PARAMS, &input) != 0)) {
        return Fail("cannot size", argv[1]);
    }
    const bool segmented = argc == 8;
    const int answer = segmented ? open(argv[7], O_RDWR | O_NONBLOCK) : -1;
    if (segmented && answer < 0) {
        return Fail("cannot open", argv[7]);
    }
    int segments = 0;
    const auto openOutput = [&](Segment& segment) {
        const std::string name =
            segmented ? std::string(argv[2]) + "." + std::to_string(++segments) : argv[2];
        segment = Segment{};
        segment.output = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (segment.output < 0) {
            Fail("cannot create", name.c_str());
        }
        return segment.output >= 0;
    };
    Segment segment;
    if (!openOutput(segment)) {
        return 1;
    }
    const unsigned long chunk = rate == 0 ? kBufferBytes : kPacedChunk;
    unsigned char buffer[kBufferBytes];
    std::vector<unsigned char> kept;
    size_t marked = 0; // how many bytes of kMark the latest bytes match
    unsigned long total = 0;
    double due = 0;  // at a fixed rate, when the cable has carried what was read
    bool dry = true; // the last read emptied the input: the cable may have paused
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
        } else if (n == 0) {
            break; // the pipe's writers are gone
        }
        if (n <= 0) {
            continue;
        }
        const double now = Now();
        kept.clear();
        for (ssize_t i = 0; i < n; ++i) {
            const unsigned char byte = buffer[i];
            if (!segmented) {
                kept.push_back(byte);
            } else if (byte == kMark[marked]) {
                if (++marked < sizeof kMark) {
                    continue;
                }
                // The segment ends: its bytes, its line, and the answer.
                const unsigned char done = 0xfe;
                if (!Keep(segment, kept, now) || close(segment.output) != 0 || !Report(segment) ||
                    !WriteAll(answer, &done, 1) || !openOutput(segment)) {
                    return Fail("cannot write", argv[2]);
                }
                kept.clear();
                marked = 0;
            } else {
                // kMark's first byte does not occur again in it, so the bytes
                // matched so far are data, and this byte may start a new match.
                kept.insert(kept.end(), kMark, kMark + marked);
                marked = byte == kMark[0] ? 1 : 0;
                if (marked == 0) {
                    kept.push_back(byte);
                }
            }
        }
        if (!Keep(segment, kept, now)) {
            return Fail("cannot write", argv[2]);
        }
        total += static_cast<unsigned long>(n);
        if (rate != 0) {
            // A cable carries no faster after a pause than before it; bytes
            // that waited while the reader slept came at the cable's pace.
            due = (dry ? std::max(due, now) : due) +
                  static_cast<double>(n) / static_cast<double>(rate);
            dry = static_cast<size_t>(n) < want;
            SleepUntil(due);
        }
        idleSince = Now();
    }
    // A mark cut short at the end is data.
    if (!Keep(segment, std::vector<unsigned char>(kMark, kMark + marked), Now()) ||
        close(segment.output) != 0) {
        return Fail("cannot write", argv[2]);
    }
    if (!Report(segment) || std::fflush(stdout) != 0) {
        return Fail("cannot write", "standard output");
    }
    return 0;
}
