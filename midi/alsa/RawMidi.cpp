// The raw MIDI back end; see RawMidi.h.
//
// A device is opened non-blocking; while snd-seq-midi holds it (its sequencer port is subscribed)
// the open fails with EBUSY, and the error names what holds it when /proc says.
//
// Sending: each message is written whole, in as many writes as the driver's
// buffer takes, each into an empty buffer, before the next is begun: the
// driver's own flow control (a UART's transmit rate, USB's acknowledgements)
// sets the pace, and nothing is dropped on the way into the buffer. A write
// waits for an empty buffer because the kernel takes a write's room in the
// buffer before it copies the bytes in, unlocked: a driver that takes bytes
// from the buffer meanwhile takes, in their place, what the buffer held one
// buffer's length earlier. USB MIDI does that, from the completion of a
// transfer; once it has found its buffer empty it takes nothing more until
// the end of a write starts it again. The device is ready for writing
// (POLLOUT) with at most one byte left in its buffer (its avail_min is one
// less than the buffer's size, the most alsa-lib allows), and that byte is
// waited for with short pauses. The deadline of a message grows with the
// wire time of the message and of a full buffer ahead of it.
//
// Finish waits, with its own deadline, until the status shows the output
// buffer empty, and only then drains (snd_rawmidi_drain): with bytes still in
// the buffer the kernel would wait a fixed 10 s and then throw away what is
// left, but with the buffer empty it waits for the driver alone, until it has
// sent what it took from the buffer (USB MIDI: the transfers still in flight;
// a driver with no such wait: a fixed 50 ms). An empty buffer alone does not
// mean the bytes have left: USB MIDI takes them into its transfers before
// they go. The driver's wait is not the tool's to bound, so the drain runs on
// a thread of its own that Finish waits for up to a deadline; a drain still
// running then keeps the device, and the end of the process closes it.
//
// Receiving: the input buffer is raised to the most the kernel gives, up to
// the longest message the tool puts together, and each read asks for all of
// it. The kernel drops what comes while the buffer is full and counts it;
// the status read right after each read reports that count and resets it.
// Since every read empties the buffer, the bytes before any drop have all
// been read by then, so the loss is marked after that read's bytes and the
// message it struck is cut.
#include "RawMidi.h"

#include "PlatformLibrary.h"
#include "SysexAssembler.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace midi_ports {

namespace {

// The names of RawMidiLibrary's functions, in its order.
constexpr const char* kNames[] = {
#define VANTREL_ALSA_NAME(member, function) #function,
    VANTREL_ALSA_RAW_MIDI_FUNCTIONS(VANTREL_ALSA_NAME)
#undef VANTREL_ALSA_NAME
};

// The card, device and subdevice of an address "hw:C,D,S".
struct RawAddress {
    int card = 0;
    int device = 0;
    int subdevice = 0;
};

std::optional<RawAddress> ReadRawAddress(std::string_view text) {
    if (!text.starts_with("hw:")) {
        return std::nullopt;
    }
    text.remove_prefix(3);
    int values[3] = {};
    for (int i = 0; i < 3; ++i) {
        const auto [end, error] =
            std::from_chars(text.data(), text.data() + text.size(), values[i]);
        if (error != std::errc{} || values[i] < 0) {
            return std::nullopt;
        }
        text.remove_prefix(static_cast<std::size_t>(end - text.data()));
        if (i < 2 && !text.starts_with(',')) {
            return std::nullopt;
        }
        text.remove_prefix(i < 2 ? 1 : 0);
    }
    if (!text.empty()) {
        return std::nullopt;
    }
    return RawAddress{values[0], values[1], values[2]};
}

// The process that holds a raw MIDI subdevice open, and its command name
// ("process 812 (pipewire)"), from the kernel's files; empty when unknown.
std::string Holder(const AlsaSystem& system, const RawAddress& address, AlsaDirection direction) {
    const auto fields = RawMidiPart(system, address.card, address.device,
                                    (direction == AlsaDirection::Output ? "Output " : "Input ") +
                                        std::to_string(address.subdevice));
    const auto pid = fields.find("Owner PID");
    if (pid == fields.end()) {
        return {};
    }
    std::string name;
    system.readText(("/proc/" + pid->second + "/comm").c_str(), name);
    name = name.substr(0, name.find('\n'));
    return "process " + pid->second + (name.empty() ? "" : " (" + name + ")");
}

// Waits on the device's descriptors up to `wait` for `events`: as
// PollFor.
int WaitFor(const RawMidiClient& client, snd_rawmidi_t* handle, short events,
            std::chrono::milliseconds wait) {
    const RawMidiLibrary& lib = client.Library();
    std::vector<pollfd> descriptors(
        static_cast<std::size_t>(std::max(lib.rawPollDescriptorsCount(handle), 0)));
    const int filled = lib.rawPollDescriptors(handle, descriptors.data(),
                                              static_cast<unsigned>(descriptors.size()));
    if (filled <= 0) {
        return filled < 0 ? filled : -EBADF;
    }
    for (pollfd& descriptor : descriptors) {
        descriptor.events = events;
    }
    return PollFor(client.System(), std::span(descriptors).first(static_cast<std::size_t>(filled)),
                   wait);
}

// Drains `handle` (snd_rawmidi_drain) on a thread of its own and waits for
// it up to `deadline`: its result, or nothing while it still runs. The
// thread runs with every signal blocked, so that a signal for the program
// reaches the thread that waits here. It is left to finish on its own.
std::optional<int> DrainBy(const RawMidiLibrary& lib, snd_rawmidi_t* handle,
                           Clock::time_point deadline) {
    struct Outcome {
        std::mutex lock;
        std::condition_variable done;
        std::optional<int> result;
    };
    const auto outcome = std::make_shared<Outcome>();
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    try {
        std::thread([outcome, drain = lib.rawDrain, handle] {
            const int result = drain(handle);
            const std::lock_guard held(outcome->lock);
            outcome->result = result;
            outcome->done.notify_all();
        }).detach();
    } catch (const std::system_error& error) {
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        return -error.code().value();
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    std::unique_lock held(outcome->lock);
    outcome->done.wait_until(held, deadline, [&] { return outcome->result.has_value(); });
    return outcome->result;
}

// The pause while one byte is left in an output buffer: at a MIDI cable's
// rate a byte takes 320 microseconds.
constexpr std::chrono::milliseconds kLastBytePause{1};

std::string Milliseconds(Clock::duration duration) {
    return std::to_string(std::chrono::ceil<std::chrono::milliseconds>(duration).count()) + " ms";
}

class RawOutput final : public OutputPort {
  public:
    RawOutput(RawMidiClient& client, snd_rawmidi_t* handle, std::size_t bufferBytes,
              std::chrono::milliseconds timeout)
        : client_(client), lib_(client.Library()), handle_(handle), bufferBytes_(bufferBytes),
          status_(lib_.rawStatusMalloc, lib_.rawStatusFree), timeout_(timeout) {}

    ~RawOutput() override {
        // A drain still running uses the device: the end of the process
        // closes it.
        if (abandoned_) {
            return;
        }
        // Closing drains in the kernel for up to 10 s; after a failure there
        // is nothing to wait for.
        if (failed_) {
            lib_.rawDrop(handle_);
        }
        lib_.rawClose(handle_);
    }

    // Any length: a message goes in as many writes as the driver's buffer
    // takes, each waiting for the buffer to empty, so the buffer's size cuts
    // nothing, and its deadline grows with its length.
    std::size_t MaxMessageBytes() const override { return std::numeric_limits<std::size_t>::max(); }

    std::optional<std::string> Send(std::span<const std::uint8_t> message) override {
        const auto start = Clock::now();
        const auto deadline =
            start + timeout_ + TimeAtRate(message.size() + bufferBytes_, kCableBytesPerSecond);
        std::size_t at = 0;
        while (at < message.size()) {
            const long pending = Pending();
            if (pending < 0) {
                return Failed(client_.Because("cannot read the raw MIDI device's status",
                                              static_cast<int>(pending)),
                              at, message.size());
            }
            if (pending == 0) {
                const ssize_t written = lib_.rawWrite(handle_, message.data() + at,
                                                      std::min(message.size() - at, bufferBytes_));
                if (written > 0) {
                    at += static_cast<std::size_t>(written);
                    continue;
                }
                if (written != -EAGAIN && written != -EINTR) {
                    return Failed(client_.Because("cannot write to the raw MIDI device",
                                                  static_cast<int>(written)),
                                  at, message.size());
                }
            }
            if (Clock::now() >= deadline) {
                return Failed("the raw MIDI device took no more for " +
                                  Milliseconds(Clock::now() - start),
                              at, message.size());
            }
            // The device is ready with one byte left: that one is waited for
            // with short pauses (a poll of no descriptors sleeps).
            if (const int ready = pending > 1
                                      ? WaitFor(client_, handle_, POLLOUT, TimeLeft(deadline))
                                      : PollFor(client_.System(), {},
                                                std::min(TimeLeft(deadline), kLastBytePause));
                ready < 0 && ready != -EINTR) {
                return Failed(client_.Because("cannot wait for the raw MIDI device", ready), at,
                              message.size());
            }
        }
        written_ += message.size();
        ends_.push_back(written_);
        while (ends_.size() > 1 && ends_.front() + bufferBytes_ < written_) {
            ends_.pop_front(); // handed on for certain: a whole buffer came after it
            ++firstKept_;
        }
        return std::nullopt;
    }

    // Waits until the output buffer is empty, then until the driver has sent
    // what it took from it. At the first deadline, the messages still in the
    // buffer are named by Trouble().
    std::optional<std::string> Finish() override {
        const auto start = Clock::now();
        const auto deadline = start + timeout_ + TimeAtRate(bufferBytes_, kCableBytesPerSecond);
        for (;;) {
            const long bytes = Pending();
            if (bytes < 0) {
                failed_ = true;
                return client_.Because("cannot read the raw MIDI device's status",
                                       static_cast<int>(bytes));
            }
            if (bytes == 0) {
                return Drain();
            }
            const auto pending = static_cast<std::size_t>(bytes);
            if (Clock::now() >= deadline) {
                failed_ = true;
                const std::string what =
                    "not delivered: " + std::to_string(pending) +
                    " bytes were still in the raw MIDI device's buffer after " +
                    Milliseconds(Clock::now() - start);
                if (ends_.empty()) {
                    return what;
                }
                // The messages that end past the bytes handed on.
                const std::uint64_t handedOn =
                    written_ - std::min<std::uint64_t>(pending, written_);
                const std::size_t last = firstKept_ + ends_.size() - 1;
                std::size_t first = firstKept_;
                for (auto end = ends_.begin(); first < last && *end <= handedOn; ++end) {
                    ++first;
                }
                trouble_ = SendFailure{what, first, last};
                return std::nullopt;
            }
            // A poll of no descriptors sleeps: a short while, since the
            // buffer may empty at a USB device's speed.
            PollFor(client_.System(), {},
                    std::min(TimeLeft(deadline), std::chrono::milliseconds(5)));
        }
    }

    std::optional<SendFailure> Trouble() override { return std::exchange(trouble_, std::nullopt); }

  private:
    // The bytes in the output buffer, from its status, or a negative error
    // code.
    long Pending() {
        if (status_.p == nullptr) {
            return -ENOMEM;
        }
        if (const int result = lib_.rawStatus(handle_, status_.p); result < 0) {
            return result;
        }
        const std::size_t avail = lib_.rawStatusGetAvail(status_.p);
        return avail >= bufferBytes_ ? 0 : static_cast<long>(bufferBytes_ - avail);
    }

    // Waits, up to the deadline of a message, for the driver to send what it
    // took from the buffer, which is empty now.
    std::optional<std::string> Drain() {
        const auto start = Clock::now();
        const std::optional<int> result = DrainBy(lib_, handle_, start + timeout_);
        if (!result) {
            failed_ = abandoned_ = true;
            return "not delivered: the raw MIDI device's driver was still sending after " +
                   Milliseconds(Clock::now() - start);
        }
        if (*result < 0) {
            failed_ = true;
            return client_.Because("cannot drain the raw MIDI device", *result);
        }
        return std::nullopt;
    }

    std::string Failed(const std::string& what, std::size_t at, std::size_t size) {
        failed_ = true;
        return at == 0 ? what
                       : what + " (" + std::to_string(at) + " of the message's " +
                             std::to_string(size) + " bytes were written, the rest not)";
    }

    RawMidiClient& client_;
    const RawMidiLibrary& lib_;
    snd_rawmidi_t* const handle_;
    const std::size_t bufferBytes_;
    Held<snd_rawmidi_status_t> status_;
    const std::chrono::milliseconds timeout_;
    bool failed_ = false;
    bool abandoned_ = false; // to a drain that did not return by its deadline
    std::uint64_t written_ = 0;
    std::deque<std::uint64_t> ends_; // where messages end in the bytes written
    std::size_t firstKept_ = 0;      // the number of the message that ends_ begins with
    std::optional<SendFailure> trouble_;
};

class RawInput final : public Input {
  public:
    RawInput(RawMidiClient& client, snd_rawmidi_t* handle, std::size_t bufferBytes)
        : client_(client), lib_(client.Library()), handle_(handle),
          status_(lib_.rawStatusMalloc, lib_.rawStatusFree), buffer_(bufferBytes) {
        // A poll starts the device's input, which the kernel otherwise
        // starts at the first read: what comes from now on is kept.
        WaitFor(client_, handle_, POLLIN, std::chrono::milliseconds(0));
    }

    ~RawInput() override { lib_.rawClose(handle_); }

    void Next(Piece& piece, std::chrono::milliseconds wait) override {
        piece.bytes.clear();
        piece.what.clear();
        piece.lostBytes = 0;
        const auto deadline = Clock::now() + wait;
        bool waited = stopped_;
        for (;;) {
            const ssize_t read = lib_.rawRead(handle_, buffer_.data(), buffer_.size());
            if (read > 0) {
                piece.bytes.assign(buffer_.begin(), buffer_.begin() + read);
                piece.kind = Piece::Kind::Bytes;
                const int result =
                    status_.p == nullptr ? -ENOMEM : lib_.rawStatus(handle_, status_.p);
                if (result < 0) {
                    piece.kind = Piece::Kind::Lost;
                    piece.what =
                        client_.Because("cannot read the raw MIDI device's status", result);
                } else if (const std::size_t lost = lib_.rawStatusGetXruns(status_.p); lost > 0) {
                    piece.kind = Piece::Kind::Lost;
                    piece.lostBytes = lost;
                    piece.what = "the kernel's input buffer overran";
                }
                return;
            }
            if (read != -EAGAIN && read != -EINTR) {
                piece.kind = Piece::Kind::Closed;
                piece.what =
                    client_.Because("cannot read from the raw MIDI device", static_cast<int>(read));
                return;
            }
            if (waited) {
                piece.kind = Piece::Kind::Quiet;
                return;
            }
            if (const int ready = WaitFor(client_, handle_, POLLIN, TimeLeft(deadline));
                ready < 0 && ready != -EINTR) {
                piece.kind = Piece::Kind::Closed;
                piece.what = client_.Because("cannot wait for the raw MIDI device", ready);
                return;
            }
            waited = true;
        }
    }

    void Stop() override { stopped_ = true; }

  private:
    RawMidiClient& client_;
    const RawMidiLibrary& lib_;
    snd_rawmidi_t* const handle_;
    Held<snd_rawmidi_status_t> status_;
    std::vector<std::uint8_t> buffer_;
    bool stopped_ = false;
};

// Opens the subdevice of `port` non-blocking, for output or input, and sets
// its buffer to the largest the kernel gives up to `most` bytes (for
// output, keeps the driver's own, and makes it ready for writing only when
// nearly empty). Returns the handle and its buffer's size, or the error.
struct OpenedRaw {
    snd_rawmidi_t* handle = nullptr;
    std::size_t bufferBytes = 0;
    std::string error;
};

OpenedRaw OpenRaw(RawMidiClient& client, const Port& port, AlsaDirection direction,
                  std::size_t most) {
    const std::optional<RawAddress> address = ReadRawAddress(port.address);
    if (!address) {
        return {.error = "there is no raw MIDI device " + Quoted(ListLine(port))};
    }
    if (!client.Loaded()) {
        return {.error = client.LoadError()};
    }
    const RawMidiLibrary& lib = client.Library();
    snd_rawmidi_t* handle = nullptr;
    const bool output = direction == AlsaDirection::Output;
    if (const int result = lib.rawOpen(output ? nullptr : &handle, output ? &handle : nullptr,
                                       port.address.c_str(), SND_RAWMIDI_NONBLOCK);
        result < 0) {
        if (result != -EBUSY) {
            return {.error = client.Because("cannot open " + port.address, result)};
        }
        const std::string holder = Holder(client.System(), *address, direction);
        return {.error = port.address + " is busy: " +
                         (holder.empty() ? "another program holds it, or the ALSA sequencer does "
                                           "while its port of the device is subscribed"
                                         : "held by " + holder +
                                               ", itself or through the ALSA sequencer's port "
                                               "of the device")};
    }
    Held<snd_rawmidi_params_t> params(lib.rawParamsMalloc, lib.rawParamsFree);
    std::size_t size = 0;
    if (params.p != nullptr && lib.rawParamsCurrent(handle, params.p) >= 0) {
        size = lib.rawParamsGetBufferSize(params.p);
        // The kernel refuses a size above its limit, or memory for it: half
        // as much is asked then.
        for (std::size_t ask = most; ask > size; ask /= 2) {
            if (lib.rawParamsSetBufferSize(handle, params.p, ask) >= 0 &&
                lib.rawParams(handle, params.p) >= 0) {
                size = ask;
                break;
            }
        }
    }
    if (size == 0) {
        lib.rawClose(handle);
        return {.error = "cannot read the parameters of " + port.address};
    }
    // An output is ready for writing only when at most one byte is left in
    // its buffer, the nearest to empty that alsa-lib lets avail_min come.
    if (output && (lib.rawParamsSetAvailMin(handle, params.p, size - 1) < 0 ||
                   lib.rawParams(handle, params.p) < 0)) {
        lib.rawClose(handle);
        return {.error = "cannot set the parameters of " + port.address};
    }
    return {handle, size, {}};
}

} // namespace

bool LoadRawMidiLibrary(RawMidiLibrary& library, std::string& error) {
    return PlatformLibrary::Fill("libasound.so.2", kNames, library, error);
}

bool RawMidiClient::Loaded() {
    if (!loadTried_) {
        loadTried_ = true;
        loaded_ = load_(library_, loadError_);
        if (loaded_) {
            library_.setErrorHandler(QuietAlsaErrors);
        }
    }
    return loaded_;
}

void RawMidiClient::List(AlsaDirection direction, PortList& list) {
    if (!system_.cardsPresent()) {
        return;
    }
    if (!Loaded()) {
        list.unreachable.push_back("alsa: " + loadError_);
        return;
    }
    const RawMidiLibrary& lib = library_;
    Held<snd_ctl_card_info_t> card(lib.cardInfoMalloc, lib.cardInfoFree);
    Held<snd_rawmidi_info_t> info(lib.rawInfoMalloc, lib.rawInfoFree);
    if (card.p == nullptr || info.p == nullptr) {
        return;
    }
    const snd_rawmidi_stream_t stream =
        direction == AlsaDirection::Output ? SND_RAWMIDI_STREAM_OUTPUT : SND_RAWMIDI_STREAM_INPUT;
    int number = -1;
    while (lib.cardNext(&number) >= 0 && number >= 0) {
        snd_ctl_t* control = nullptr;
        if (lib.ctlOpen(&control, ("hw:" + std::to_string(number)).c_str(), 0) < 0) {
            continue;
        }
        int device = -1;
        while (lib.rawNextDevice(control, &device) >= 0 && device >= 0 &&
               (device > 0 || lib.cardInfo(control, card.p) >= 0)) {
            lib.rawInfoSetDevice(info.p, static_cast<unsigned>(device));
            lib.rawInfoSetStream(info.p, stream);
            lib.rawInfoSetSubdevice(info.p, 0);
            unsigned count =
                lib.rawInfo(control, info.p) < 0 ? 0 : lib.rawInfoGetSubdevices(info.p);
            for (unsigned subdevice = 0; subdevice < count; ++subdevice) {
                lib.rawInfoSetSubdevice(info.p, subdevice);
                if (lib.rawInfo(control, info.p) < 0) {
                    continue;
                }
                std::string name = lib.rawInfoGetSubdeviceName(info.p);
                if (name.empty()) {
                    // Subdevices without names of their own lead to the same
                    // place (snd-virmidi has 16 a device): the first stands
                    // for them, as amidi lists them.
                    name = lib.rawInfoGetName(info.p);
                    count = 1;
                }
                // Found at "hw:C,D,S", also by the card's ID: "hw:Gadget,D,S".
                // (Built by appending: g++ 12 warns falsely of overlap in
                // "," + std::to_string(...).)
                std::string where(1, ',');
                where.append(std::to_string(device))
                    .append(1, ',')
                    .append(std::to_string(subdevice));
                list.ports.push_back(
                    {std::string(kAlsaPrefix) + lib.cardInfoGetName(card.p) + ":" + name,
                     "hw:" + std::to_string(number) + where,
                     "hw:" + std::string(lib.cardInfoGetId(card.p)) + where});
            }
        }
        lib.ctlClose(control);
    }
}

namespace {

class RawPorts final : public Ports {
  public:
    RawPorts(std::shared_ptr<RawMidiClient> client, std::chrono::milliseconds timeout)
        : client_(std::move(client)), timeout_(timeout) {}

    void List(PortList& list) override { client_->List(AlsaDirection::Output, list); }

    Opened Open(const Port& port) override {
        const OpenedRaw raw = OpenRaw(*client_, port, AlsaDirection::Output, 0);
        if (raw.handle == nullptr) {
            return {nullptr, raw.error};
        }
        return {std::make_unique<RawOutput>(*client_, raw.handle, raw.bufferBytes, timeout_), {}};
    }

  private:
    const std::shared_ptr<RawMidiClient> client_;
    const std::chrono::milliseconds timeout_;
};

class RawInputs final : public Inputs {
  public:
    explicit RawInputs(std::shared_ptr<RawMidiClient> client) : client_(std::move(client)) {}

    void List(PortList& list) override { client_->List(AlsaDirection::Input, list); }

    OpenedInput Open(const Port& port) override {
        const OpenedRaw raw =
            OpenRaw(*client_, port, AlsaDirection::Input, SysexAssembler::kLongest);
        if (raw.handle == nullptr) {
            return {nullptr, raw.error};
        }
        return {std::make_unique<RawInput>(*client_, raw.handle, raw.bufferBytes), {}};
    }

  private:
    const std::shared_ptr<RawMidiClient> client_;
};

} // namespace

MidiBackEnds MakeRawMidi(const AlsaSystem& system, RawMidiLoader load,
                         std::chrono::milliseconds timeout) {
    const auto client = std::make_shared<RawMidiClient>(system, load);
    return {std::make_unique<RawPorts>(client, timeout), std::make_unique<RawInputs>(client)};
}

} // namespace midi_ports
