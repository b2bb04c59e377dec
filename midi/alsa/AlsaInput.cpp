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
#include "AlsaClient.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <utility>

namespace midi_ports {

namespace {

using Clock = std::chrono::steady_clock;

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

class AlsaInput final : public Input {
  public:
    AlsaInput(AlsaClient& client, const AlsaConnection& connection, std::string name)
        : client_(client), f_(client.f()), sequencer_(client.Sequencer()), self_(connection.self),
          source_(connection.other), name_(std::move(name)) {}

    void Next(Piece& piece, std::chrono::milliseconds wait) override {
        piece.bytes.clear();
        piece.what.clear();
        bool waited = stopped_;
        const auto deadline = Clock::now() + wait;
        for (;;) {
            snd_seq_event_t* event = nullptr;
            int result = 0;
            while (closed_.empty() && (result = f_.eventInput(sequencer_, &event)) >= 0) {
                Take(*event, piece.bytes);
            }
            if (result == -ENOSPC) {
                piece.kind = Piece::Kind::Lost;
                piece.what = "the ALSA sequencer's input pool overflowed: events were lost";
                return;
            }
            if (closed_.empty() && result != -EAGAIN) {
                closed_ = client_.Because("cannot read from the ALSA sequencer", result);
            }
            if (!closed_.empty() || !piece.bytes.empty() || waited) {
                piece.kind = !closed_.empty()       ? Piece::Kind::Closed
                             : !piece.bytes.empty() ? Piece::Kind::Bytes
                                                    : Piece::Kind::Quiet;
                piece.what = closed_;
                return;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            const int ready = client_.Wait(POLLIN, left);
            if (ready < 0 && ready != -EINTR) {
                closed_ = client_.Because("cannot wait for the ALSA sequencer", ready);
            }
            waited = true;
        }
    }

    void Stop() override { stopped_ = true; }

  private:
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
    const AlsaLibrary& f_;
    snd_seq_t* const sequencer_;
    const snd_seq_addr_t self_;
    const snd_seq_addr_t source_;
    const std::string name_;
    bool stopped_ = false;
    std::string closed_; // why the input has ended, once it has
};

class AlsaInputs final : public Inputs {
  public:
    explicit AlsaInputs(std::shared_ptr<AlsaClient> client) : client_(std::move(client)) {}

    void List(PortList& list) override { client_->List(AlsaDirection::Input, list); }

    OpenedInput Open(const Port& wanted) override {
        if (IsRawPort(wanted)) {
            return OpenRawInput(*client_, wanted);
        }
        const AlsaConnection connection = client_->Connect(AlsaDirection::Input, wanted);
        if (!connection.error.empty()) {
            return {nullptr, connection.error};
        }
        // Without the announcements the input still works; it only cannot
        // tell when the source goes away.
        client_->f().connectFrom(client_->Sequencer(), connection.self.port, SND_SEQ_CLIENT_SYSTEM,
                                 SND_SEQ_PORT_SYSTEM_ANNOUNCE);
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
