// Looking up options and writing their help; see Options.h.
#include "Options.h"

#include <algorithm>

namespace {

// Descriptions start in this column of --help; a name that does not leave
// room for two spaces before it goes on a line of its own.
constexpr std::size_t kDescriptionColumn = 13;

} // namespace

const OptionSpec* FindOption(std::u16string_view argument) {
    auto same = [argument](std::string_view name) {
        return !name.empty() && name.size() == argument.size() &&
               std::equal(name.begin(), name.end(), argument.begin(),
                          [](char a, char16_t b) { return static_cast<char16_t>(a) == b; });
    };
    for (const OptionSpec& option : kOptions) {
        if (same(option.name) || same(option.alias)) {
            return &option;
        }
    }
    return nullptr;
}

std::string RangeText(const ValueRange& range) {
    return std::to_string(range.lowest) + " to " + std::to_string(range.highest);
}

std::string OptionHelp() {
    const std::string indent(kDescriptionColumn, ' ');
    std::string text;
    for (const OptionSpec& option : kOptions) {
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
    return text;
}
