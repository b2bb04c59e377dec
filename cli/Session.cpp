// Converting and decoding commands; see Session.h.
#include "Session.h"

#include "ConvertCommand.h"
#include "Escapes.h"
#include "Message.h"
#include "MessageErrors.h"
#include "Sending.h"

#include "CodeUnits.h"

#include <algorithm>

namespace {

// Appends the UTF-8 form of a complaint's part, line breaks escaped.
void AppendComplaintPart(std::u16string_view units, std::string& out) {
    AppendLineBreaksEscaped(ToUtf8(units), out);
}

} // namespace

void Session::Note(int status) {
    auto rank = [](int s) {
        return s == kBadInput ? 4 : s == kPortFailed ? 3 : s == kNotData ? 2 : s;
    };
    if (rank(status) > rank(status_)) {
        status_ = status;
    }
}

std::string Session::ErrorPrefix(Place where) {
    return "vantrel-convert: " + std::string(where.kind) + " " + std::to_string(where.number) +
           ": ";
}

void Session::Fail(Place where, std::string_view what, int status) {
    std::string line = ErrorPrefix(where);
    AppendControlsEscaped(what, line);
    line += '\n';
    err_.write(line.data(), static_cast<std::streamsize>(line.size()));
    Note(status);
}

void Session::EndLine() {
    if (mode_ != Mode::Syx) {
        output_.Pending() += '\n';
    }
}

void Session::Invalid(const Utf8Error& error, Place where) {
    Fail(where, DescribeUtf8Error(error), kBadInput);
    EndLine();
}

void Session::OutOfMemory(Place where) {
    Fail(where, "out of memory: the " + std::string(where.kind) + " is too long to convert",
         kBadInput);
    EndLine();
}

void Session::Process(std::u16string_view units, Place where) {
    if (mode_ == Mode::Decode) {
        Decode(units, where);
    } else {
        Convert(units, where);
    }
}

void Session::ProcessLine(std::string_view bytes, Place where, std::size_t skipped) {
    if (bytes.size() > pieceBytes_) {
        if (mode_ == Mode::Decode) {
            DecodeLong(bytes, where, skipped);
        } else {
            ConvertLong(bytes, where, skipped);
        }
        return;
    }
    if (auto invalid = DecodeUtf8(bytes, units_)) {
        invalid->offset += skipped;
        Invalid(*invalid, where);
        return;
    }
    Process(units_, where);
}

void Session::Convert(std::u16string_view units, Place where) {
    const CommandVerdict verdict = JudgeCommand(units);
    if (!verdict.accepted) {
        std::string complaint = ToUtf8(Complaint(verdict.command));
        if (mode_ == Mode::Syx) {
            Fail(where, complaint, kRefused);
            return;
        }
        Note(kRefused);
        AppendLineBreaksEscaped(complaint, output_.Pending());
        output_.Pending() += '\n';
        return;
    }
    bool valid = true;
    if (check_ || mode_ == Mode::Syx) {
        if (const auto nonData = message::FindNonDataValue(verdict.command)) {
            Fail(where, DescribeNonDataValue(*nonData), kNotData);
            if (mode_ == Mode::Syx) {
                return;
            }
            valid = false;
        }
    }
    if (mode_ == Mode::Syx) {
        message::AppendBytes(verdict.command, output_.Pending());
    } else {
        AppendUtf8(message::Text(verdict.command), output_.Pending());
        output_.Pending() += '\n';
    }
    if (sender_ != nullptr && valid) {
        if (const auto error = sender_->Send(verdict.command)) {
            Fail(where, *error, kPortFailed);
            stopped_ = true;
        } else {
            sentKind_ = where.kind;
            sent_.push_back(where.number);
            CheckDelivery();
        }
    }
}

bool Session::CheckDelivery() {
    const auto trouble = sender_->Trouble();
    if (!trouble || trouble->first > trouble->last || trouble->last >= sent_.size()) {
        return false;
    }
    const std::size_t first = sent_[trouble->first];
    const std::size_t last = sent_[trouble->last];
    std::string line = "vantrel-convert: ";
    line += sentKind_;
    line += first == last ? " " : "s ";
    line += std::to_string(first);
    if (first != last) {
        line += '-';
        line += std::to_string(last);
    }
    line += ": ";
    AppendControlsEscaped(trouble->what, line);
    line += '\n';
    err_.write(line.data(), static_cast<std::streamsize>(line.size()));
    Note(kPortFailed);
    stopped_ = true;
    return true;
}

void Session::Decode(std::u16string_view text, Place where) {
    if (const auto problem = message::Read(text, command_)) {
        const std::string word = ToUtf8(text.substr(problem->wordStart, problem->wordSize));
        Fail(where, "not a Vantrel message: " + DescribeReadProblem(*problem, word), kBadInput);
        EndLine();
        return;
    }
    AnswerDecoded(where);
}

void Session::AnswerDecoded(Place where) {
    if (check_) {
        if (const auto nonData = message::FindNonDataValue(command_)) {
            Fail(where, DescribeNonDataValue(*nonData), kNotData);
        }
    }
    WriteCommand(command_);
    EndLine();
}

void Session::WriteCommand(std::u16string_view command) {
    // In pieces, never cutting a surrogate pair, so the UTF-8 form of a long
    // command is never held whole.
    const std::size_t piece = std::max<std::size_t>(pieceBytes_ / 2, 2);
    while (!command.empty() && !output_.Failed()) {
        std::size_t size = std::min(piece, command.size());
        if (size < command.size() && code_units::IsHighSurrogate(command[size - 1])) {
            --size;
        }
        AppendUtf8(command.substr(0, size), output_.Pending());
        output_.WriteIfFull();
        command.remove_prefix(size);
    }
}

void Session::DecodeLong(std::string_view bytes, Place where, std::size_t skipped) {
    if (auto invalid = DecodeUtf8InPieces(bytes, pieceBytes_, units_,
                                          [](std::u16string_view) { return true; })) {
        invalid->offset += skipped;
        Invalid(*invalid, where);
        return;
    }
    if (const auto problem = message::Read(bytes, command_)) {
        const std::string_view word = bytes.substr(problem->wordStart, problem->wordSize);
        Fail(where, "not a Vantrel message: " + DescribeReadProblem(*problem, word), kBadInput);
        EndLine();
        return;
    }
    AnswerDecoded(where);
    std::u16string().swap(command_); // as long as the line: not kept for the next
}

void Session::ConvertLong(std::string_view bytes, Place where, std::size_t skipped) {
    constexpr std::size_t kNone = std::u16string::npos;
    // First pass: check the UTF-8 and find the trimmed command (units
    // [first, end) of the line) and its first units, for the keyword.
    std::size_t total = 0;
    std::size_t first = kNone;
    std::size_t end = 0;
    std::u16string start;
    auto invalid = DecodeUtf8InPieces(bytes, pieceBytes_, units_, [&](std::u16string_view piece) {
        std::size_t i = 0;
        if (first == kNone) {
            while (i < piece.size() && IsCommandWhiteSpace(piece[i])) {
                ++i;
            }
            if (i < piece.size()) {
                first = total + i;
            }
        }
        if (first != kNone && start.size() < 4) {
            const std::size_t from = first > total ? first - total : 0;
            start += piece.substr(std::min(from, piece.size()), 4 - start.size());
        }
        for (std::size_t j = piece.size(); j > i; --j) {
            if (!IsCommandWhiteSpace(piece[j - 1])) {
                end = total + j;
                break;
            }
        }
        total += piece.size();
        return true;
    });
    if (invalid) {
        invalid->offset += skipped;
        Invalid(*invalid, where);
        return;
    }
    const std::size_t length = first == kNone ? 0 : end - first;

    // Second pass: each piece's part of the trimmed command, in order.
    auto eachPart = [&](auto take) {
        std::size_t at = 0;
        DecodeUtf8InPieces(bytes, pieceBytes_, units_, [&](std::u16string_view piece) {
            const std::size_t from = std::max(first, at);
            const std::size_t to = std::min(end, at + piece.size());
            if (from < to) {
                take(piece.substr(from - at, to - from));
            }
            at += piece.size();
            return !output_.Failed();
        });
    };

    if (length <= message::kLastDataByte) {
        // Short once trimmed: gather it and convert it like any other.
        std::u16string command;
        eachPart([&](std::u16string_view part) { command += part; });
        Convert(command, where);
        return;
    }
    if (!StartsWithKeyword(start)) {
        if (mode_ == Mode::Syx) {
            // The complaint goes to the error stream, as long as it is.
            std::string line = ErrorPrefix(where);
            AppendControlsEscaped(ToUtf8(kComplaintBefore), line);
            eachPart([&](std::u16string_view part) {
                AppendControlsEscaped(ToUtf8(part), line);
                err_.write(line.data(), static_cast<std::streamsize>(line.size()));
                line.clear();
            });
            AppendControlsEscaped(ToUtf8(kComplaintAfter), line);
            line += '\n';
            err_.write(line.data(), static_cast<std::streamsize>(line.size()));
            Note(kRefused);
            return;
        }
        Note(kRefused);
        AppendComplaintPart(kComplaintBefore, output_.Pending());
        eachPart([&](std::u16string_view part) {
            AppendComplaintPart(part, output_.Pending());
            output_.WriteIfFull();
        });
        AppendComplaintPart(kComplaintAfter, output_.Pending());
        output_.Pending() += '\n';
        return;
    }
    // Accepted, and too long for valid MIDI: the length fails the check.
    if (check_ || mode_ == Mode::Syx) {
        Fail(where, DescribeNonDataValue(*message::FindNonDataLength(length)), kNotData);
        if (mode_ == Mode::Syx) {
            return;
        }
    }
    text_.resize(message::HeadLength(length));
    message::WriteHead(text_.data(), length);
    AppendUtf8(text_, output_.Pending());
    eachPart([&](std::u16string_view part) {
        text_.resize(message::UnitsLength(part) + 1); // and the spare character
        text_.resize(
            static_cast<std::size_t>(message::WriteUnits(text_.data(), part) - text_.data()));
        AppendUtf8(text_, output_.Pending());
        output_.WriteIfFull();
    });
    text_.resize(message::kTrailerLength);
    message::WriteTrailer(text_.data());
    AppendUtf8(text_, output_.Pending());
    output_.Pending() += '\n';
}
