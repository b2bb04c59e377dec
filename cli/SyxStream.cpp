// The mode that reads a .syx stream (--decode --syx, --send --syx): each
// System Exclusive message in it, put together as a receiver would and
// named "message N" from 1, is decoded or sent as it stands; a message that
// is not whole is named, and the rest still go.
#include "CommandRun.h"
#include "Modes.h"
#include "ReceivedMessage.h"
#include "SysexAssembler.h"

#include <cstdint>
#include <span>
#include <string_view>

namespace cli {

namespace {

// The bytes of the input, a chunk at a time, as the assembler takes them.
class SyxBytes {
  public:
    explicit SyxBytes(LineReader& reader) : reader_(reader) {}

    // Reads the next chunk; false at the end of the input or when stopped.
    bool NextChunk() {
        std::string_view chunk;
        if (reader_.NextBytes(chunk) != LineReader::Result::Line) {
            return false;
        }
        bytes_ = std::span(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size());
        at_ = 0;
        return true;
    }

    // Whether bytes of the chunk in hand are still to be taken.
    bool InHand() const { return at_ < bytes_.size(); }

    // Hands bytes of the chunk in hand to `assembler`, up to the end of a
    // message or of the chunk.
    midi_ports::SysexAssembler::Result TakeInto(midi_ports::SysexAssembler& assembler) {
        return assembler.Take(bytes_, at_);
    }

    // Takes the next message, whole or cut, without showing it; false when
    // the input ends before there is one.
    bool PassMessage(midi_ports::SysexAssembler& assembler) {
        for (;;) {
            if (!InHand() && !NextChunk()) {
                return assembler.Cut();
            }
            if (TakeInto(assembler) != midi_ports::SysexAssembler::Result::More) {
                return true;
            }
        }
    }

  private:
    LineReader& reader_;
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

} // namespace

int ReadSyxStream(const RunContext& context) {
    CommandRun run(context);
    if (!run.Open()) {
        return kPortFailed;
    }
    CommandInput input(context, run);
    SyxBytes bytes(input.Reader());
    midi_ports::SysexAssembler assembler;
    std::size_t number = 0;
    const std::string notDone = context.options.sendTo != nullptr ? "sent" : "decoded";
    const auto malformed = [&](const std::string& why) {
        run.Problems().Fail(Place{"message", ++number}, "malformed, not " + notDone + ": " + why,
                            kBadInput);
    };
    while (run.GoOn() && bytes.NextChunk()) {
        while (bytes.InHand() && run.GoOn()) {
            switch (bytes.TakeInto(assembler)) {
            case midi_ports::SysexAssembler::Result::Complete:
                run.Answers().Message(assembler.Message(), Place{"message", ++number});
                break;
            case midi_ports::SysexAssembler::Result::Cut:
                malformed(DescribeCut(assembler));
                break;
            case midi_ports::SysexAssembler::Result::More:
                break;
            }
        }
    }
    if (run.GoOn() && assembler.Cut()) {
        malformed("cut short: the input ended before its F7");
    }
    if (input.Reader().Failed()) {
        run.Problems().Error({"cannot read the input"}, kBadInput);
    }
    // Counted as they would have come: each message whole or cut.
    run.NameUnsent("message", number + 1,
                   input.CountRest(number, [&] { return bytes.PassMessage(assembler); }));
    return run.Finish();
}

} // namespace cli
