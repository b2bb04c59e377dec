// The modes that convert commands, and with --send send their messages: the
// commands given as arguments, and the lines of the input.
#include "CommandRun.h"
#include "Modes.h"

#include <algorithm>
#include <new>

namespace cli {

int ConvertArguments(const RunContext& context) {
    CommandRun run(context);
    if (!run.Open()) {
        return kPortFailed;
    }
    const std::vector<const Argument*>& commands = context.options.commands;
    std::size_t number = 0;
    for (const Argument* argument : commands) {
        if (!run.GoOn()) {
            break;
        }
        const Place where{"argument", ++number};
        if (argument->invalid) {
            run.Answers().Invalid(*argument->invalid, where);
        } else {
            run.Answers().Process(argument->units, where);
        }
        if (!run.Output().WriteIfFull()) {
            break;
        }
    }
    run.NameUnsent("argument", number + 1, commands.size());
    return run.Finish();
}

int ConvertLines(const RunContext& context) {
    CommandRun run(context);
    if (!run.Open()) {
        return kPortFailed;
    }
    CommandInput input(context, run);
    LineReader& reader = input.Reader();
    BufferedOutput& output = run.Output();
    std::size_t number = 0;
    while (run.GoOn()) {
        const LineReader::Result result = reader.Next();
        if (result == LineReader::Result::End || result == LineReader::Result::Stopped) {
            break;
        }
        const Place where{"line", ++number};
        if (result == LineReader::Result::OutOfMemory) {
            run.Answers().OutOfMemory(where);
            continue;
        }
        const std::size_t answered = output.Pending().size();
        try {
            run.Answers().ProcessLine(reader.Line(), where);
        } catch (const std::bad_alloc&) {
            // Whatever of the answer is still here goes; the line gets an
            // empty one, as an unreadable line does.
            output.Pending().resize(std::min(answered, output.Pending().size()));
            run.Answers().OutOfMemory(where);
        }
        output.WriteIfFull();
    }
    if (reader.Failed()) {
        run.Problems().Fail(Place{"line", number + 1}, "cannot read the input", kBadInput);
    }
    run.NameUnsent("line", number + 1, input.CountRest(number, [&] {
        return reader.Next() != LineReader::Result::End;
    }));
    return run.Finish();
}

} // namespace cli
