// MIDI input through WinMM (WinmmDevices.h).
//
// Opening opens the device with a callback function, prepares several
// buffers and queues them all with midiInAddBuffer before starting, so that
// System Exclusive data can keep coming while the tool reads a full buffer:
// the driver fills the buffers in turn and hands each one back when it is
// full or a message ends. A message longer than a buffer comes in several,
// and is put together again by SysexAssembler.
//
// The callback (MidiInProc) runs in a thread of the driver's and may call no
// WinMM function, so it only notes what came and wakes the tool's thread.
// That thread copies the bytes out and gives each buffer back to the driver
// with midiInAddBuffer. MIM_LONGERROR (a System Exclusive message the driver
// found broken) ends the message in progress as broken; MIM_ERROR (a broken
// short message) is reported as a loss. Other short messages are ignored.
// Stopping resets the device, which hands back the buffers it still holds,
// the partly filled one among them: its bytes come out last.
//
// A driver drops System Exclusive data that comes while it holds no buffer,
// and WinMM says nothing of it. Only the tool can tell when that may have
// happened: a buffer handed back while the tool held all the others. The
// bytes of that buffer are followed by a loss, so the run says so.
#include "WinmmDevices.h"

#include "HexText.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace midi_ports {

namespace {

// How long stopping waits for the driver to hand back its buffers.
constexpr std::chrono::milliseconds kReturnTimeout{2000};

// What the callback noted, for the tool's thread.
struct Arrival {
    UINT message;    // MIM_LONGDATA, MIM_LONGERROR or MIM_ERROR
    MIDIHDR* header; // the buffer handed back, for the first two
    DWORD_PTR midi;  // for MIM_ERROR: the short message, its status byte lowest
    bool last;       // the driver held no other buffer after handing this one back
};

struct Buffer {
    MIDIHDR header{};
    std::vector<char> data = std::vector<char>(kWinmmInputBufferBytes);
};

class WinmmInput final : public Input {
  public:
    explicit WinmmInput(const WinmmFunctions& functions) : f_(functions) {}

    ~WinmmInput() override {
        if (device_ == nullptr) {
            return;
        }
        Stop();
        for (std::unique_ptr<Buffer>& buffer : buffers_) {
            if (f_.inUnprepareHeader(device_, &buffer->header, sizeof buffer->header) !=
                MMSYSERR_NOERROR) {
                // The driver still holds it and may yet write to it: it is
                // left to the driver rather than freed.
                static_cast<void>(buffer.release());
            }
        }
        f_.inClose(device_);
    }

    // Opens device `id`, queues the buffers and starts the input.
    std::optional<std::string> Start(UINT id, const std::string& name) {
        if (const MMRESULT result = f_.inOpen(&device_, id, reinterpret_cast<DWORD_PTR>(&Callback),
                                              reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
            result != MMSYSERR_NOERROR) {
            device_ = nullptr;
            return Describe(f_, "cannot open " + Quoted(name), result);
        }
        for (std::size_t i = 0; i < kWinmmInputBuffers; ++i) {
            Buffer& buffer = *buffers_.emplace_back(std::make_unique<Buffer>());
            buffer.header.lpData = buffer.data.data();
            buffer.header.dwBufferLength = static_cast<DWORD>(buffer.data.size());
            if (const MMRESULT result =
                    f_.inPrepareHeader(device_, &buffer.header, sizeof buffer.header);
                result != MMSYSERR_NOERROR) {
                buffers_.pop_back();
                return Describe(f_, "cannot prepare an input buffer", result);
            }
            if (auto problem = Requeue(buffer.header)) {
                return problem;
            }
        }
        if (const MMRESULT result = f_.inStart(device_); result != MMSYSERR_NOERROR) {
            return Describe(f_, "cannot start the input of " + Quoted(name), result);
        }
        return std::nullopt;
    }

    void Next(Piece& piece, std::chrono::milliseconds wait) override {
        piece.bytes.clear();
        piece.what.clear();
        if (!trouble_.empty()) {
            piece.kind = Piece::Kind::Lost;
            piece.what = std::exchange(trouble_, {});
            return;
        }
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, stopped_ ? std::chrono::milliseconds(0) : wait,
                               [&] { return !arrivals_.empty() || callbackFailed_; })) {
            piece.kind = Piece::Kind::Quiet;
            return;
        }
        if (std::exchange(callbackFailed_, false)) {
            piece.kind = Piece::Kind::Lost;
            piece.what = "input from the MIDI device was lost: no memory to note it";
            return;
        }
        const Arrival arrival = arrivals_.front();
        arrivals_.pop_front();
        lock.unlock();
        if (arrival.message == MIM_ERROR) {
            piece.kind = Piece::Kind::Lost;
            piece.what = "the MIDI device reported a broken MIDI message (status " +
                         hex_text::Narrow(arrival.midi & 0xFF) + ")";
            return;
        }
        MIDIHDR& header = *arrival.header;
        const auto* data = reinterpret_cast<const std::uint8_t*>(header.lpData);
        piece.bytes.assign(data, data + header.dwBytesRecorded);
        piece.kind = Piece::Kind::Bytes;
        if (arrival.message == MIM_LONGERROR) {
            piece.kind = Piece::Kind::Broken;
            piece.what = "the MIDI device reported a broken System Exclusive message";
        }
        if (!stopped_) {
            if (auto problem = Requeue(header)) {
                trouble_ = *problem;
            }
        }
        if (arrival.last && trouble_.empty()) {
            trouble_ = "the driver had no input buffer left (all " +
                       std::to_string(kWinmmInputBuffers) +
                       " were with the tool at once), and it drops System Exclusive data it has "
                       "no buffer for";
        }
    }

    void Stop() override {
        if (stopped_) {
            return;
        }
        {
            const std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        // The driver hands back every buffer it holds, partly filled ones
        // too, through the callback.
        f_.inReset(device_);
        std::unique_lock lock(mutex_);
        arrived_.wait_for(lock, kReturnTimeout, [&] { return withDriver_ <= 0; });
    }

  private:
    static void CALLBACK Callback(HMIDIIN, UINT message, DWORD_PTR instance, DWORD_PTR first,
                                  DWORD_PTR) noexcept {
        auto& self = *reinterpret_cast<WinmmInput*>(instance);
        if (message != MIM_LONGDATA && message != MIM_LONGERROR && message != MIM_ERROR) {
            return; // short messages, opening and closing: nothing the tool wants
        }
        const bool buffer = message != MIM_ERROR;
        {
            const std::lock_guard lock(self.mutex_);
            self.withDriver_ -= buffer ? 1 : 0;
            const bool last = buffer && self.withDriver_ <= 0 && !self.stopped_;
            try {
                self.arrivals_.push_back(
                    {message, buffer ? reinterpret_cast<MIDIHDR*>(first) : nullptr, first, last});
            } catch (...) {
                self.callbackFailed_ = true;
            }
        }
        self.arrived_.notify_all();
    }

    // Gives a buffer (back) to the driver. It is counted once the driver
    // has it: the driver may hand it back before, and the count then dips
    // below the truth for a moment, never above, so a time when the driver
    // held none is never missed.
    std::optional<std::string> Requeue(MIDIHDR& header) {
        header.dwBytesRecorded = 0;
        header.dwFlags &= ~static_cast<DWORD>(MHDR_DONE);
        if (const MMRESULT result = f_.inAddBuffer(device_, &header, sizeof header);
            result != MMSYSERR_NOERROR) {
            return Describe(f_, "cannot hand an input buffer to the MIDI device", result);
        }
        const std::lock_guard lock(mutex_);
        ++withDriver_;
        return std::nullopt;
    }

    const WinmmFunctions& f_;
    HMIDIIN device_ = nullptr;
    std::vector<std::unique_ptr<Buffer>> buffers_; // each header stays where the driver saw it
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Arrival> arrivals_;  // what the callback noted; guarded by mutex_
    std::ptrdiff_t withDriver_ = 0; // buffers queued and not handed back; guarded by mutex_
    bool callbackFailed_ = false;   // guarded by mutex_
    bool stopped_ = false;          // written under mutex_, read by the callback under it
    // A buffer that could not be given back, or one the driver had none
    // besides: a loss, for the next Next.
    std::string trouble_;
};

class WinmmInputs final : public Inputs {
  public:
    explicit WinmmInputs(const WinmmFunctions& functions) : f_(functions) {}

    void List(PortList& list) override { ListWinmm(f_, WinmmDirection::Input, list); }

    OpenedInput Open(const Port& wanted) override {
        std::string error;
        const std::optional<UINT> id = FindWinmm(f_, WinmmDirection::Input, wanted, error);
        if (!id) {
            return {nullptr, error};
        }
        auto input = std::make_unique<WinmmInput>(f_);
        if (auto problem = input->Start(*id, wanted.name)) {
            return {nullptr, *problem};
        }
        return {std::move(input), {}};
    }

  private:
    const WinmmFunctions& f_;
};

} // namespace

std::unique_ptr<Inputs> MakeWinmmInputs(const WinmmFunctions& functions) {
    return std::make_unique<WinmmInputs>(functions);
}

} // namespace midi_ports
