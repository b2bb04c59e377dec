// The WinMM back end; see WinmmOutput.h.
#include "WinmmOutput.h"

#include "Utf8.h"

#include <vector>

namespace midi_ports {

namespace {

using Clock = std::chrono::steady_clock;

std::string Describe(const WinmmFunctions& f, const std::string& what, MMRESULT result) {
    wchar_t text[MAXERRORLENGTH] = {};
    if (f.getErrorText(result, text, MAXERRORLENGTH) != MMSYSERR_NOERROR || text[0] == L'\0') {
        return what + ": WinMM error " + std::to_string(result);
    }
    return what + ": " + ToUtf8(std::wstring_view(text));
}

class WinmmOutput final : public Output {
  public:
    WinmmOutput(const WinmmFunctions& functions, HMIDIOUT device, HANDLE done,
                std::chrono::milliseconds timeout)
        : f_(functions), device_(device), done_(done), timeout_(timeout) {}

    ~WinmmOutput() override {
        if (stuck_) {
            f_.reset(device_);
        }
        f_.close(device_);
        CloseHandle(done_);
    }

    // midiOutLongMsg takes a buffer of less than 64 KiB.
    std::size_t MaxMessageBytes() const override { return 0xFFFF; }

    std::optional<std::string> Send(std::span<const std::uint8_t> message) override {
        if (stuck_) {
            return "the MIDI device is still busy with an earlier message";
        }
        data_.assign(message.begin(), message.end());
        header_ = MIDIHDR{};
        header_.lpData = reinterpret_cast<LPSTR>(data_.data());
        header_.dwBufferLength = static_cast<DWORD>(data_.size());
        if (const MMRESULT result = f_.prepareHeader(device_, &header_, sizeof header_);
            result != MMSYSERR_NOERROR) {
            return Describe(f_, "cannot prepare the message", result);
        }
        ResetEvent(done_);
        if (const MMRESULT result = f_.longMsg(device_, &header_, sizeof header_);
            result != MMSYSERR_NOERROR) {
            f_.unprepareHeader(device_, &header_, sizeof header_);
            return Describe(f_, "cannot send the message", result);
        }
        // A driver plays the message out at the cable's rate before it is done.
        const auto limit = timeout_ + std::chrono::ceil<std::chrono::milliseconds>(
                                          TimeAtRate(message.size(), kCableBytesPerSecond));
        const auto deadline = Clock::now() + limit;
        // The driver sets the flag from its own thread, then signals done_.
        const volatile DWORD& flags = header_.dwFlags;
        while ((flags & MHDR_DONE) == 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                // Resetting makes the driver give the buffer back, so it can be freed.
                f_.reset(device_);
                stuck_ = f_.unprepareHeader(device_, &header_, sizeof header_) != MMSYSERR_NOERROR;
                return "the MIDI device did not take the message within " +
                       std::to_string(limit.count()) + " ms";
            }
            WaitForSingleObject(done_, static_cast<DWORD>(left.count()));
        }
        if (const MMRESULT result = f_.unprepareHeader(device_, &header_, sizeof header_);
            result != MMSYSERR_NOERROR) {
            return Describe(f_, "cannot release the message", result);
        }
        return std::nullopt;
    }

    std::optional<std::string> Finish() override { return std::nullopt; }

  private:
    const WinmmFunctions& f_;
    const HMIDIOUT device_;
    const HANDLE done_;
    const std::chrono::milliseconds timeout_;
    std::vector<std::uint8_t> data_;
    MIDIHDR header_{};
    bool stuck_ = false; // a buffer the driver did not give back even when reset
};

class WinmmPorts final : public Ports {
  public:
    WinmmPorts(const WinmmFunctions& functions, std::chrono::milliseconds timeout)
        : f_(functions), timeout_(timeout) {}

    void List(PortList& list) override {
        for (auto& [port, id] : Devices()) {
            list.ports.push_back(std::move(port));
        }
    }

    Opened Open(const Port& wanted) override {
        for (const auto& [port, id] : Devices()) {
            if (port.name != wanted.name || port.address != wanted.address) {
                continue;
            }
            const HANDLE done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
            if (done == nullptr) {
                return {nullptr, "cannot create an event to wait on"};
            }
            HMIDIOUT device = nullptr;
            if (const MMRESULT result =
                    f_.open(&device, id, reinterpret_cast<DWORD_PTR>(done), 0, CALLBACK_EVENT);
                result != MMSYSERR_NOERROR) {
                CloseHandle(done);
                return {nullptr, Describe(f_, "cannot open " + Quoted(ListLine(port)), result)};
            }
            return {std::make_unique<WinmmOutput>(f_, device, done, timeout_), {}};
        }
        return {nullptr, "there is no MIDI output device " + Quoted(ListLine(wanted))};
    }

  private:
    // The output devices whose capabilities can be read, with their ids.
    std::vector<std::pair<Port, UINT>> Devices() const {
        std::vector<std::pair<Port, UINT>> devices;
        const UINT count = f_.getNumDevs();
        for (UINT id = 0; id < count; ++id) {
            MIDIOUTCAPSW caps{};
            if (f_.getDevCaps(id, &caps, sizeof caps) == MMSYSERR_NOERROR) {
                devices.push_back(
                    {{std::string(kWinmmPrefix) + ToUtf8(std::wstring_view(caps.szPname)),
                      std::to_string(id)},
                     id});
            }
        }
        return devices;
    }

    const WinmmFunctions& f_;
    const std::chrono::milliseconds timeout_;
};

} // namespace

const WinmmFunctions& RealWinmmFunctions() {
    static const WinmmFunctions functions = {
        midiOutGetNumDevs,    midiOutGetDevCapsW, midiOutOpen,
        midiOutPrepareHeader, midiOutLongMsg,     midiOutUnprepareHeader,
        midiOutReset,         midiOutClose,       midiOutGetErrorTextW};
    return functions;
}

std::unique_ptr<Ports> MakeWinmmPorts(const WinmmFunctions& functions,
                                      std::chrono::milliseconds timeout) {
    return std::make_unique<WinmmPorts>(functions, timeout);
}

} // namespace midi_ports
