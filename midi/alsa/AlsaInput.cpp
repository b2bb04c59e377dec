// MIDI input from the ALSA sequencer, on the client of AlsaClient.h.
//
// This client's port is subscribed to the chosen source, and each event that
// arrives from any other sender is ignored, so only the source is heard. It
// is also subscribed to the sequencer's announcements, to learn when the
// source or the subscription goes away.
//
// The kernel's raw MIDI bridges (hardware ports, Virtual Raw MIDI) hand a
// System Exclusive message on in chunks, each one event; their bytes come
// out in order, for SysexAssembler to put together. Other MIDI events come
// out as their status byte alone, enough to cut a message they interrupt;
// real-time events are left out. Waiting events sit in the client's input
// pool in the kernel, which by default holds about 5.5 KB of System
// Exclusive data: it is raised to the kernel's largest, 2000 cells (about
// 56 KB, enough for a 64 KiB message coming in chunks while the tool reads),
// and alsa-lib's input buffer with it. When the pool overflows anyway the
// kernel drops events and says so once (-ENOSPC); that is reported as a loss.
//
// A card's port (snd-seq-midi's) loses bytes before they become events:
// the bridge reads the card's raw MIDI input through a buffer of its own (4
// KiB unless its module parameter input_buffer_size says otherwise), and
// what the card brings while that buffer is full is dropped and counted as
// the input's overruns in /proc/asound/cardC/midiD. That count is read after
// every read of the events, before what the read completed is handed on,
// and a growth is reported as a loss of that many bytes.
#include "AlsaClient.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <utility>

namespace midi_ports {

namespace {

bool operator==(const snd_seq_addr_t& a, const snd_seq_addr_t& b) {
    return a.client == b.client && a.port == b.port;
}

// The status byte of a MIDI event other than System Exclusive, or 0 for
// real-time events and events that are not MIDI. A channel event carries
// its channel first in its data (raw8), notes and controls alike.
std::uint8_t StatusOf(const snd_seq_event_t& event) {
    constexpr std::pair<snd_seq_event_type_t, std::uint8_t> kStatus[] = {
        {SND_SEQ_EVENT_NOTE, 0x90},        {SND_SEQ_EVENT_NOTEON, 0x90},
        {SND_SEQ_EVENT_NOTEOFF, 0x80},     {SND_SEQ_EVENT_KEYPRESS, 0xA0},
        {SND_SEQ_EVENT_CONTROLLER, 0xB0},  {SND_SEQ_EVENT_CONTROL14, 0xB0},
        {SND_SEQ_EVENT_NONREGPARAM, 0xB0}, {SND_SEQ_EVENT_REGPARAM, 0xB0},
        {SND_SEQ_EVENT_PGMCHANGE, 0xC0},   {SND_SEQ_EVENT_CHANPRESS, 0xD0},
        {SND_SEQ_EVENT_PITCHBEND, 0xE0},   {SND_SEQ_EVENT_QFRAME, 0xF1},
        {SND_SEQ_EVENT_SONGPOS, 0xF2},     {SND_SEQ_EVENT_SONGSEL, 0xF3},
        {SND_SEQ_EVENT_TUNE_REQUEST, 0xF6}};
    for (const auto& [type, status] : kStatus) {
        if (event.type == type) {
            const auto channel = static_cast<std::uint8_t>(event.data.raw8.d[0] & 0x0F);
            return status < 0xF0 ? static_cast<std::uint8_t>(status | channel) : status;
        }
    }
    return 0;
}

// The overrun count of the raw MIDI input behind a card's port, which the
// bridge opens while the port is subscribed. snd-seq-midi numbers the port
// of the device D's subdevice S 32 * D + S.
class Overruns {
  public:
    Overruns(const AlsaSystem& system, int card, int port)
        : system_(system), card_(card), port_(port), part_("Input " + std::to_string(port % 32)),
          device_("hw:" + std::to_string(card) + "," + std::to_string(port / 32) + "," +
                  std::to_string(port % 32)) {
        Read(count_);
    }

    // The raw input's address, as "hw:1,0,0".
    const std::string& Device() const { return device_; }

    // The bytes the kernel dropped since the last call; 0 when it counts
    // none, or there is nothing to read.
    std::uint64_t Grown() {
        std::uint64_t count = 0;
        if (!Read(count)) {
            return 0;
        }
        // A count lower than the last is one of a device opened again.
        const std::uint64_t grown = count >= count_ ? count - count_ : count;
        count_ = count;
        return grown;
    }

    // The bytes that can still be on their way from the raw input to this
    // client when the count is read: the bridge's buffer, the bytes it reads
    // at once (16) and a System Exclusive chunk it puts together (256).
    std::uint64_t InTransit() const { return buffer_ + 512; }

  private:
    // Takes the count from the input's part of the file (the lines after
    // "Input S", up to the next part's name); false when the file, the part
    // or its count (there while the input is open) is missing.
    bool Read(std::uint64_t& count) {
        if (card_ < 0) {
            return false;
        }
        const auto fields = RawMidiPart(system_, card_, port_ / 32, part_);
        const auto overruns = fields.find("Overruns");
        const auto buffer = fields.find("Buffer size");
        if (buffer != fields.end()) {
            buffer_ = std::strtoull(buffer->second.c_str(), nullptr, 10);
        }
        if (overruns == fields.end()) {
            return false;
        }
        count = std::strtoull(overruns->second.c_str(), nullptr, 10);
        return true;
    }

    const AlsaSystem& system_;
    const int card_; // -1: not a card's port
    const int port_;
    const std::string part_;
    const std::string device_;
    std::uint64_t count_ = 0;
    std::uint64_t buffer_ = 4096;
};

class AlsaInput final : public Input {
  public:
    AlsaInput(AlsaClient& client, const AlsaConnection& connection, std::string name)
        : client_(client), lib_(client.Library()), sequencer_(client.Sequencer()),
          self_(connection.self), source_(connection.other), name_(std::move(name)),
          overruns_(client.System(), connection.card, connection.other.port) {}

    void Next(Piece& piece, std::chrono::milliseconds wait) override {
        piece.bytes.clear();
        piece.what.clear();
        piece.lostBytes = 0;
        piece.unsure = 0;
        if (!held_.empty() || overflowed_) {
            // What came with a count that grew, after the loss reported.
            piece.bytes.swap(held_);
            Report(piece);
            return;
        }
        bool waited = stopped_;
        const auto deadline = Clock::now() + wait;
        for (;;) {
            Drain(piece.bytes);
            if (const std::uint64_t dropped = overruns_.Grown(); dropped > 0) {
                // The loss fell after the count was last read, so after
                // every byte already handed on; but it may fall anywhere
                // among the bytes of this read, or after them, as bytes from
                // before it may still be on their way through the bridge.
                // Reading once more, now that the loss has happened, leaves
                // no more of those on the way than the bridge holds. So the
                // loss is reported before all these bytes, which with the
                // bridge's hold after them may still precede it: no message
                // that may span it is written. (Bytes handed on are never
                // more than the raw bytes they came from.)
                Drain(piece.bytes);
                held_.swap(piece.bytes);
                piece.kind = Piece::Kind::Lost;
                piece.what =
                    "the kernel's buffer for the raw MIDI input " + overruns_.Device() + " overran";
                piece.lostBytes = dropped;
                piece.unsure = held_.size() + overruns_.InTransit();
                return;
            }
            if (overflowed_ || !closed_.empty() || !piece.bytes.empty() || waited) {
                Report(piece);
                return;
            }
            const int ready = client_.Wait(POLLIN, TimeLeft(deadline));
            if (ready < 0 && ready != -EINTR) {
                closed_ = client_.Because("cannot wait for the ALSA sequencer", ready);
            }
            waited = true;
        }
    }

    void Stop() override { stopped_ = true; }

  private:
    // Reads every event waiting and takes what they carry into `bytes`,
    // until none is left, the pool overflowed or the input ended.
    void Drain(std::vector<std::uint8_t>& bytes) {
        snd_seq_event_t* event = nullptr;
        int result = 0;
        while (closed_.empty() && !overflowed_ &&
               (result = lib_.eventInput(sequencer_, &event)) >= 0) {
            Take(*event, bytes);
        }
        if (result == -ENOSPC) {
            overflowed_ = true;
        } else if (closed_.empty() && result < 0 && result != -EAGAIN) {
            closed_ = client_.Because("cannot read from the ALSA sequencer", result);
        }
    }

    // Says what followed the bytes of `piece`: an overflow of the pool, the
    // end of the input, or nothing.
    void Report(Piece& piece) {
        if (overflowed_) {
            overflowed_ = false;
            piece.kind = Piece::Kind::Lost;
            piece.what = "the ALSA sequencer's input pool overflowed: events were lost";
        } else {
            piece.kind = !closed_.empty()       ? Piece::Kind::Closed
                         : !piece.bytes.empty() ? Piece::Kind::Bytes
                                                : Piece::Kind::Quiet;
            piece.what = closed_;
        }
    }

    // Appends what `event` carries to `bytes`, when it comes from the source.
    void Take(const snd_seq_event_t& event, std::vector<std::uint8_t>& bytes) {
        if (event.source.client == SND_SEQ_CLIENT_SYSTEM &&
            event.source.port == SND_SEQ_PORT_SYSTEM_ANNOUNCE) {
            Announced(event);
            return;
        }
        if (!(event.source == source_)) {
            return;
        }
        if (event.type == SND_SEQ_EVENT_SYSEX) {
            const auto* data = static_cast<const std::uint8_t*>(event.data.ext.ptr);
            bytes.insert(bytes.end(), data, data + event.data.ext.len);
        } else if (const std::uint8_t status = StatusOf(event); status != 0) {
            bytes.push_back(status);
        }
    }

    // Notes when the source, or the subscription to it, has gone.
    void Announced(const snd_seq_event_t& event) {
        const snd_seq_addr_t& address = event.data.addr;
        const bool gone =
            (event.type == SND_SEQ_EVENT_CLIENT_EXIT && address.client == source_.client) ||
            (event.type == SND_SEQ_EVENT_PORT_EXIT && address == source_);
        if (gone) {
            closed_ = "the source " + Quoted(name_) + " went away";
        } else if (event.type == SND_SEQ_EVENT_PORT_UNSUBSCRIBED &&
                   event.data.connect.sender == source_ && event.data.connect.dest == self_) {
            closed_ = "the subscription to " + Quoted(name_) + " was removed";
        }
    }

    AlsaClient& client_;
    const SequencerLibrary& lib_;
    snd_seq_t* const sequencer_;
    const snd_seq_addr_t self_;
    const snd_seq_addr_t source_;
    const std::string name_;
    Overruns overruns_;
    std::vector<std::uint8_t> held_; // bytes read with a loss, for after it
    bool overflowed_ = false;        // the pool overflowed after the bytes read
    bool stopped_ = false;
    std::string closed_; // why the input has ended, once it has
};

class AlsaInputs final : public Inputs {
  public:
    explicit AlsaInputs(std::shared_ptr<AlsaClient> client) : client_(std::move(client)) {}

    void List(PortList& list) override { client_->List(AlsaDirection::Input, list); }

    OpenedInput Open(const Port& wanted) override {
        const AlsaConnection connection = client_->Connect(AlsaDirection::Input, wanted);
        if (!connection.error.empty()) {
            return {nullptr, connection.error};
        }
        // Without the announcements the input still works; it only cannot
        // tell when the source goes away.
        client_->Library().connectFrom(client_->Sequencer(), connection.self.port,
                                       SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
        return {std::make_unique<AlsaInput>(*client_, connection, wanted.name), {}};
    }

  private:
    const std::shared_ptr<AlsaClient> client_;
};

} // namespace

std::unique_ptr<Inputs> MakeAlsaInputs(std::shared_ptr<AlsaClient> client) {
    return std::make_unique<AlsaInputs>(std::move(client));
}

} // namespace midi_ports
