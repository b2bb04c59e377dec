// A small XML reader for the application manifest: it builds the element
// tree (names, attributes, children) and rejects text that is not
// well-formed - unbalanced or mismatched tags, unquoted or repeated
// attributes, more than one root element - which Windows would also refuse
// to activate. Text content is skipped; the manifest carries its meaning in
// elements and attributes.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantrel_test {

struct XmlElement {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<XmlElement> children;

    // Every element below this one (not this one itself) named `wanted`,
    // in document order.
    void Collect(std::string_view wanted, std::vector<const XmlElement*>& found) const {
        for (const XmlElement& child : children) {
            if (child.name == wanted) {
                found.push_back(&child);
            }
            child.Collect(wanted, found);
        }
    }

    std::vector<const XmlElement*> Descendants(std::string_view wanted) const {
        std::vector<const XmlElement*> found;
        Collect(wanted, found);
        return found;
    }
};

class XmlReader {
  public:
    // Parses a whole document (UTF-8, with or without a byte-order mark) and
    // returns its root element; throws std::runtime_error when malformed.
    static XmlElement ParseDocument(std::string_view text) {
        XmlReader reader(text);
        if (reader.text_.starts_with("\xEF\xBB\xBF")) {
            reader.pos_ = 3;
        }
        reader.SkipMisc();
        if (!reader.At("<")) {
            reader.Fail("no root element");
        }
        XmlElement root = reader.Element();
        reader.SkipMisc();
        if (reader.pos_ != reader.text_.size()) {
            reader.Fail("content after the root element");
        }
        return root;
    }

  private:
    explicit XmlReader(std::string_view text) : text_(text) {}

    [[noreturn]] void Fail(const std::string& what) const {
        throw std::runtime_error("manifest XML: " + what + " at byte " + std::to_string(pos_));
    }

    bool At(std::string_view prefix) const { return text_.substr(pos_).starts_with(prefix); }

    static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

    static bool IsNameChar(char c) {
        return !IsSpace(c) && c != '<' && c != '>' && c != '/' && c != '=' && c != '"' &&
               c != '\'' && c != '&';
    }

    void SkipSpace() {
        while (pos_ < text_.size() && IsSpace(text_[pos_])) {
            ++pos_;
        }
    }

    void SkipPast(std::string_view terminator) {
        const std::size_t end = text_.find(terminator, pos_);
        if (end == std::string_view::npos) {
            Fail("missing '" + std::string(terminator) + "'");
        }
        pos_ = end + terminator.size();
    }

    // Whitespace, comments and processing instructions (the XML declaration).
    void SkipMisc() {
        for (;;) {
            SkipSpace();
            if (At("<!--")) {
                SkipPast("-->");
            } else if (At("<?")) {
                SkipPast("?>");
            } else {
                return;
            }
        }
    }

    std::string Name() {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && IsNameChar(text_[pos_])) {
            ++pos_;
        }
        if (pos_ == start) {
            Fail("expected a name");
        }
        return std::string(text_.substr(start, pos_ - start));
    }

    std::string Decode(std::string_view raw) const {
        static constexpr std::pair<std::string_view, char> entities[] = {
            {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
        std::string out;
        for (std::size_t i = 0; i < raw.size();) {
            if (raw[i] != '&') {
                out.push_back(raw[i++]);
                continue;
            }
            bool known = false;
            for (const auto& [entity, c] : entities) {
                if (raw.substr(i).starts_with(entity)) {
                    out.push_back(c);
                    i += entity.size();
                    known = true;
                    break;
                }
            }
            if (!known) {
                Fail("unknown entity in an attribute value");
            }
        }
        return out;
    }

    XmlElement Element() {
        ++pos_; // '<'
        XmlElement result;
        result.name = Name();
        for (;;) {
            const bool spaced = pos_ < text_.size() && IsSpace(text_[pos_]);
            SkipSpace();
            if (At("/>")) {
                pos_ += 2;
                return result;
            }
            if (At(">")) {
                ++pos_;
                break;
            }
            if (!spaced) {
                Fail("expected white space before an attribute");
            }
            std::string key = Name();
            SkipSpace();
            if (!At("=")) {
                Fail("attribute '" + key + "' has no value");
            }
            ++pos_;
            SkipSpace();
            if (pos_ >= text_.size() || (text_[pos_] != '"' && text_[pos_] != '\'')) {
                Fail("attribute '" + key + "' is not quoted");
            }
            const char quote = text_[pos_++];
            const std::size_t end = text_.find(quote, pos_);
            if (end == std::string_view::npos) {
                Fail("unterminated value of attribute '" + key + "'");
            }
            std::string value = Decode(text_.substr(pos_, end - pos_));
            pos_ = end + 1;
            for (const auto& existing : result.attributes) {
                if (existing.first == key) {
                    Fail("attribute '" + key + "' repeated");
                }
            }
            result.attributes.emplace_back(std::move(key), std::move(value));
        }
        // Content: child elements, text, comments, processing instructions
        // and character data, up to the matching end tag.
        for (;;) {
            if (pos_ >= text_.size()) {
                Fail("element '" + result.name + "' is not closed");
            }
            if (At("</")) {
                pos_ += 2;
                const std::string closing = Name();
                if (closing != result.name) {
                    Fail("end tag '" + closing + "' closes '" + result.name + "'");
                }
                SkipSpace();
                if (!At(">")) {
                    Fail("malformed end tag '" + closing + "'");
                }
                ++pos_;
                return result;
            }
            if (At("<!--")) {
                SkipPast("-->");
            } else if (At("<![CDATA[")) {
                SkipPast("]]>");
            } else if (At("<?")) {
                SkipPast("?>");
            } else if (At("<")) {
                result.children.push_back(Element());
            } else {
                ++pos_;
            }
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

} // namespace vantrel_test
