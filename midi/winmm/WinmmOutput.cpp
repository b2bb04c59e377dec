// MIDI output through WinMM (WinmmDevices.h).
//
// Opening opens the device with an event that WinMM signals when a buffer
// is done. Each message is prepared as a buffer, sent with midiOutLongMsg,
// and waited for until the driver marks it done. A driver that plays the
// message on a cable takes the message's time on the wire to do so, so the
// deadline is the message's wire time at the cable's rate on top of the
// usual one. A send that times out resets the device, so the driver gives
// the buffer back before it is freed.
#include "WinmmDevices.h"

#include <vector>

namespace midi_ports {

namespace {

using Clock = std::chrono::steady_clock;

class WinmmOutput final : public OutputPort {
  public:
    WinmmOutput(const WinmmFunctions& functions, HMIDIOUT device, HANDLE done,
                std::chrono::milliseconds timeout)
        : f_(functions), device_(device), done_(done), timeout_(timeout) {}

    ~WinmmOutput() override {
        if (stuck_) {
            f_.outReset(device_);
        }
        f_.outClose(device_);
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
        if (const MMRESULT result = f_.outPrepareHeader(device_, &header_, sizeof header_);
            result != MMSYSERR_NOERROR) {
            return Describe(f_, "cannot prepare the message", result);
        }
        ResetEvent(done_);
        if (const MMRESULT result = f_.outLongMsg(device_, &header_, sizeof header_);
            result != MMSYSERR_NOERROR) {
            f_.outUnprepareHeader(device_, &header_, sizeof header_);
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
                f_.outReset(device_);
                stuck_ =
                    f_.outUnprepareHeader(device_, &header_, sizeof header_) != MMSYSERR_NOERROR;
                return "the MIDI device did not take the message within " +
                       std::to_string(limit.count()) + " ms";
            }
            WaitForSingleObject(done_, static_cast<DWORD>(left.count()));
        }
        if (const MMRESULT result = f_.outUnprepareHeader(device_, &header_, sizeof header_);
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

    void List(PortList& list) override { ListWinmm(f_, WinmmDirection::Output, list); }

    Opened Open(const Port& wanted) override {
        std::string error;
        const std::optional<UINT> id = FindWinmm(f_, WinmmDirection::Output, wanted, error);
        if (!id) {
            return {nullptr, error};
        }
        const HANDLE done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (done == nullptr) {
            return {nullptr, "cannot create an event to wait on"};
        }
        HMIDIOUT handle = nullptr;
        if (const MMRESULT result =
                f_.outOpen(&handle, *id, reinterpret_cast<DWORD_PTR>(done), 0, CALLBACK_EVENT);
            result != MMSYSERR_NOERROR) {
            CloseHandle(done);
            return {nullptr, Describe(f_, "cannot open " + Quoted(ListLine(wanted)), result)};
        }
        return {std::make_unique<WinmmOutput>(f_, handle, done, timeout_), {}};
    }

  private:
    const WinmmFunctions& f_;
    const std::chrono::milliseconds timeout_;
};

} // namespace

std::unique_ptr<Ports> MakeWinmmPorts(const WinmmFunctions& functions,
                                      std::chrono::milliseconds timeout) {
    return std::make_unique<WinmmPorts>(functions, timeout);
}

} // namespace midi_ports
