// What the modes that take commands, or the messages of a .syx stream, share
// (ConvertArguments, ConvertLines, ReadSyxStream): --send's port, the
// session that answers each command or message, the input they read, and
// how a run reads on, names what a failed send left unsent, and finishes.
#pragma once

#include "LineReader.h"
#include "Modes.h"
#include "Report.h"
#include "Sending.h"
#include "Session.h"

#include <cstddef>
#include <functional>
#include <optional>

namespace cli {

class CommandRun {
  public:
    explicit CommandRun(const RunContext& context) : context_(context), report_(context.err) {}

    // Opens --send's port when the run sends, and readies the session.
    // False, having said why, when the port cannot be opened: the run's
    // status is then kPortFailed.
    bool Open();

    // What answers each command or message; after Open.
    Session& Answers() { return *session_; }
    Report& Problems() { return report_; }
    BufferedOutput& Output() { return context_.output; }

    // Whether to read on: not after a failure, a failure the back end
    // noticed on its own, or a stop request.
    bool GoOn();

    // True once a send failed (rather than a stop request ending the run).
    bool SendFailed();

    // After a failed send, names what was never handed on: from `next` on,
    // up to `last` where the input's end is known (a list of arguments, a
    // file), or as "line 7 on" where it may not end.
    void NameUnsent(const char* kind, std::size_t next, std::optional<std::size_t> last);

    // Hands out the last answers and waits for what was sent, also when
    // the output failed or a stop was requested; the status of the run,
    // which a stop request outranks (the caller applies that).
    int Finish();

  private:
    const RunContext& context_;
    Report report_;
    std::optional<Sender> sender_;
    std::optional<Session> session_;
};

// The input of commands or of a .syx stream: standard input or --input's
// file. Every answer goes out before the reader may wait for more, and the
// wait ends when the run should not go on. A file is not waited on.
class CommandInput {
  public:
    CommandInput(const RunContext& context, CommandRun& run);

    LineReader& Reader() { return reader_; }

    // After a failed send, the number of places in the input: `number` read
    // so far, and one more for each time `countOne` finds another. Nothing
    // when no send failed, or when the input is not a file and may not end.
    std::optional<std::size_t> CountRest(std::size_t number, const std::function<bool()>& countOne);

  private:
    const RunContext& context_;
    CommandRun& run_;
    bool counting_ = false; // a file read to its end, not waited on
    LineReader reader_;
};

} // namespace cli
