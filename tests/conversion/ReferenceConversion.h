// A deliberately plain second version of the command conversion, written
// from the rules rather than from the production code: character-by-character
// formatting with snprintf and a literal list of white space: the Unicode
// White_Space characters of the Basic Multilingual Plane. The fuzz target
// and the randomised and exhaustive tests compare the conversion with it.
#pragma once

#include <cstdio>
#include <string>

namespace reference {

inline bool IsWhiteSpace(char16_t c) {
    static const char16_t kSpaces[] = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                                       0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                       0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                                       0x2029, 0x202F, 0x205F, 0x3000};
    for (char16_t s : kSpaces) {
        if (c == s) {
            return true;
        }
    }
    return false;
}

inline std::u16string Widen(const char* ascii) {
    std::u16string out;
    for (; *ascii != 0; ++ascii) {
        out += static_cast<char16_t>(*ascii);
    }
    return out;
}

inline std::u16string Hex(unsigned long long value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02llx", value);
    return Widen(buffer);
}

struct Outcome {
    std::u16string trimmed;
    std::u16string result;
};

inline Outcome Convert(const std::u16string& typed) {
    std::u16string::size_type begin = 0;
    std::u16string::size_type end = typed.size();
    while (begin < end && IsWhiteSpace(typed[begin])) {
        ++begin;
    }
    while (end > begin && IsWhiteSpace(typed[end - 1])) {
        --end;
    }
    Outcome out;
    out.trimmed = typed.substr(begin, end - begin);

    bool accepted = out.trimmed.size() >= 4;
    for (std::size_t i = 0; accepted && i < 4; ++i) {
        char16_t c = out.trimmed[i];
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
        accepted = c == u"set "[i];
    }
    if (!accepted) {
        out.result = u"\"" + out.trimmed + u"\" does not start with \"set \"";
        return out;
    }
    out.result = u"F0 00 00 40 02 00 00 61 " + Hex(out.trimmed.size()) + u" ";
    for (char16_t c : out.trimmed) {
        out.result += Hex(c) + u" ";
    }
    out.result += u"F7";
    return out;
}

} // namespace reference
