// Reading the command line and writing --help, both from the table of
// options (OptionTable.cpp); see Options.h.
#include "Options.h"

#include <algorithm>
#include <ostream>

namespace cli {

namespace {

// Descriptions start in this column of --help; a name that does not leave
// room for two spaces before it goes on a line of its own.
constexpr std::size_t kDescriptionColumn = 13;

// The option that `argument` names (its long name or its alias), if any.
const OptionSpec* FindOption(std::u16string_view argument) {
    auto same = [argument](std::string_view name) {
        return !name.empty() && name.size() == argument.size() &&
               std::equal(name.begin(), name.end(), argument.begin(),
                          [](char a, char16_t b) { return static_cast<char16_t>(a) == b; });
    };
    for (const OptionSpec& option : AllOptions()) {
        if (same(option.name) || same(option.alias)) {
            return &option;
        }
    }
    return nullptr;
}

// A whole number in `range`, in decimal digits only.
std::optional<std::uint64_t> ParseNumber(std::string_view text, const ValueRange& range) {
    std::uint64_t value = 0;
    for (const char digit : text) {
        if (digit < '0' || digit > '9' || value > range.highest) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(digit - '0');
    }
    if (text.empty() || value < range.lowest || value > range.highest) {
        return std::nullopt;
    }
    return value;
}

// What an option of this kind needs when its value is empty.
std::string_view WhatItNames(ValueKind kind) {
    switch (kind) {
    case ValueKind::OutputPort:
        return "a port: its name, a part of it, or its address";
    case ValueKind::InputPort:
        return "a source: its name, a part of it, or its address";
    default:
        return "a file name";
    }
}

// "--rate takes a whole number of bytes a second from 1 to 10000000, or max"
std::string NotANumber(const OptionSpec& option) {
    const std::string_view unit = option.value == ValueKind::Milliseconds     ? "of milliseconds "
                                  : option.value == ValueKind::BytesPerSecond ? "of bytes a second "
                                                                              : "";
    return std::string(option.name) + " takes a whole number " + std::string(unit) + "from " +
           RangeText(option.range) + (option.value == ValueKind::BytesPerSecond ? ", or max" : "");
}

// Updates `parsed` as `option` says, with its `value` argument when it takes
// one; the problem, if the value will not do.
std::optional<std::string> Take(const OptionSpec& option, const Argument* value,
                                ParsedOptions& parsed) {
    if (option.flag != nullptr) {
        parsed.*option.flag = true;
        return std::nullopt;
    }
    const std::string text = ToUtf8(value->units);
    if (option.text != nullptr) {
        const Argument*& kept = parsed.*option.text;
        if (kept != nullptr) {
            return std::string(option.name) + " may be given once";
        }
        if (text.empty()) {
            return std::string(option.name) + " needs " + std::string(WhatItNames(option.value));
        }
        kept = value;
        return std::nullopt;
    }
    if (option.value == ValueKind::BytesPerSecond && text == "max") {
        option.number(parsed, std::nullopt);
    } else if (const auto number = ParseNumber(text, option.range)) {
        option.number(parsed, number);
    } else {
        return NotANumber(option);
    }
    return std::nullopt;
}

// The problem of the lowest-ranked rule that an option given breaks, if any.
std::optional<std::string> BrokenRule(const ParsedOptions& parsed, const std::vector<bool>& given) {
    const Rule* first = nullptr;
    for (std::size_t i = 0; i < given.size(); ++i) {
        for (const Rule& rule : AllOptions()[i].rules) {
            if (given[i] && rule.broken != nullptr && rule.broken(parsed) &&
                (first == nullptr || rule.rank < first->rank)) {
                first = &rule;
            }
        }
    }
    return first != nullptr ? std::optional(std::string(first->problem)) : std::nullopt;
}

} // namespace

Argument ArgumentFromUtf8(std::string_view bytes) {
    Argument argument;
    argument.invalid = DecodeUtf8(bytes, argument.units);
    return argument;
}

const OptionSpec& OptionNamed(std::string_view name) {
    const auto options = AllOptions();
    const auto found =
        std::find_if(options.begin(), options.end(),
                     [name](const OptionSpec& option) { return option.name == name; });
    return found != options.end() ? *found : options.back();
}

std::optional<ParsedOptions> ParseOptions(const std::vector<Argument>& arguments,
                                          std::ostream& err) {
    ParsedOptions parsed;
    for (const OptionSpec& option : AllOptions()) {
        if (option.number != nullptr && option.range.fallback) {
            option.number(parsed, option.range.fallback);
        }
    }
    std::vector<bool> given(AllOptions().size());
    std::optional<std::string> problem;
    for (auto next = arguments.begin(); next != arguments.end() && !problem;) {
        const Argument& argument = *next++;
        const std::u16string& a = argument.units;
        if (parsed.endOfOptions || argument.invalid || a.size() < 2 || a[0] != u'-') {
            parsed.commands.push_back(&argument);
            continue;
        }
        const OptionSpec* option = FindOption(a);
        if (option == nullptr) {
            problem = "unknown option '" + ToUtf8(a) + "'";
            break;
        }
        // The option's value: the next argument.
        const Argument* value = nullptr;
        if (option->value != ValueKind::None) {
            if (next == arguments.end() || next->invalid) {
                problem = "option '" + ToUtf8(a) + "' needs a value in UTF-8";
                break;
            }
            value = &*next++;
        }
        problem = Take(*option, value, parsed);
        given[static_cast<std::size_t>(option - AllOptions().data())] = true;
    }
    if (!problem) {
        problem = BrokenRule(parsed, given);
    }
    if (problem) {
        err << "vantrel-convert: " << *problem << "\nTry 'vantrel-convert --help'.\n";
        return std::nullopt;
    }
    return parsed;
}

std::string RangeText(const ValueRange& range) {
    return std::to_string(range.lowest) + " to " + std::to_string(range.highest);
}

std::string HelpText() {
    const std::string indent(kDescriptionColumn, ' ');
    std::string text(UsageText());
    for (const OptionSpec& option : AllOptions()) {
        std::string label = "  ";
        if (!option.alias.empty()) {
            label += std::string(option.alias) + ", ";
        }
        label += option.name;
        if (option.value != ValueKind::None) {
            label += ' ';
            label += option.valueName;
        }
        text += label;
        if (label.size() + 2 <= kDescriptionColumn) {
            text.append(kDescriptionColumn - label.size(), ' ');
        } else {
            text += '\n';
            text += indent;
        }
        std::string help(option.help);
        auto put = [&help](std::string_view mark, const std::string& value) {
            if (const auto at = help.find(mark); at != std::string::npos) {
                help.replace(at, mark.size(), value);
            }
        };
        put("{range}", RangeText(option.range));
        if (option.range.fallback) {
            put("{default}", std::to_string(*option.range.fallback));
        }
        for (const char c : help) {
            text += c;
            if (c == '\n') {
                text += indent;
            }
        }
        text += '\n';
    }
    return text + HelpNotes();
}

} // namespace cli
