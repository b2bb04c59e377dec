// The parts the command-taking modes share; see CommandRun.h.
#include "CommandRun.h"

#include "FileIdentity.h"

namespace cli {

bool CommandRun::Open() {
    const ParsedOptions& options = context_.options;
    if (options.sendTo != nullptr) {
        sender_.emplace(context_.ports, ToUtf8(options.sendTo->units), options.pacing,
                        context_.clock, context_.err);
        if (!sender_->Error().empty()) {
            WriteError(context_.err, sender_->Error());
            return false;
        }
    }
    session_.emplace(options.Writes(), options.check, context_.output, report_,
                     context_.reach.pieceBytes, sender_ ? &*sender_ : nullptr,
                     context_.escapeControls);
    return true;
}

bool CommandRun::GoOn() {
    if (sender_ && !session_->Stopped()) {
        if (const auto trouble = sender_->Trouble()) {
            session_->Halt(*trouble);
        }
    }
    return !context_.output.Failed() && !session_->Stopped() && context_.clock.StopStatus() == 0;
}

bool CommandRun::SendFailed() {
    return sender_ && session_->Stopped() && context_.clock.StopStatus() == 0;
}

void CommandRun::NameUnsent(const char* kind, std::size_t next, std::optional<std::size_t> last) {
    if (!SendFailed() || (last && *last < next)) {
        return;
    }
    const std::string from = std::string(kind) + " " + std::to_string(next);
    report_.Error({(!last           ? from + " on"
                    : *last == next ? from
                                    : std::string(kind) + "s " + std::to_string(next) + "-" +
                                          std::to_string(*last)) +
                   ": not sent"},
                  kPortFailed);
}

int CommandRun::Finish() {
    if (!context_.output.Flush()) {
        report_.Note(kBadInput);
    }
    // After a failure there is nothing more to wait for.
    if (sender_) {
        if (const auto error = sender_->Finish()) {
            session_->Halt(*error);
        }
    }
    return report_.Status();
}

CommandInput::CommandInput(const RunContext& context, CommandRun& run)
    : context_(context), run_(run), reader_(*context.in.rdbuf(), [this] {
          return counting_ || (context_.output.Flush() && run_.GoOn() &&
                               (context_.options.input != nullptr ||
                                context_.clock.WaitForInput([this] { return run_.GoOn(); })));
      }) {}

std::optional<std::size_t> CommandInput::CountRest(std::size_t number,
                                                   const std::function<bool()>& countOne) {
    const bool inputIsFile = context_.options.input != nullptr
                                 ? IdentifyFile(context_.options.input->units).has_value()
                                 : context_.reach.standardInput.has_value();
    if (!run_.SendFailed() || !inputIsFile) {
        return std::nullopt;
    }
    counting_ = true;
    while (countOne()) {
        ++number;
    }
    return number;
}

} // namespace cli
