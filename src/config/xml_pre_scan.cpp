#include "config/xml_pre_scan.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

// How a step of the walk ended: go on, or where TinyXML would stop (Stop: with an error of its own,
// so nothing later is parsed) or must not be let in.
enum class Step { Go, Stop, TooDeep, CutCharacter, UnclearEncoding };

enum class NodeKind { Declaration, Comment, CData, Unknown, Element };

// The rules below are TinyXML's own: its character classes, its case-insensitive prefixes, its
// UTF-8 steps and the place where each kind of node ends.
class TinyXmlWalk {
public:
    TinyXmlWalk(std::string_view text, std::size_t maxNesting) : text_(text), maxNesting_(maxNesting) {}

    Step WalkDocument() {
        // A byte-order mark makes the document UTF-8 from its start; otherwise the first declaration
        // decides, and until then every byte is a character.
        utf8_ = StartsWith(0, "\xEF\xBB\xBF", false);
        encodingKnown_ = utf8_;
        std::size_t pos = SkipWhiteSpace(0);
        while (!AtEnd(pos)) {
            if (At(pos) != '<') {
                return Step::Stop; // text outside the elements ends TinyXML's document
            }
            std::string_view encoding;
            const NodeKind kind = Identify(pos);
            const Step step = kind == NodeKind::Element       ? WalkElement(pos)
                              : kind == NodeKind::Declaration ? SkipDeclaration(pos, encoding)
                                                              : SkipMarkup(kind, pos);
            if (step != Step::Go) {
                return step;
            }
            if (kind == NodeKind::Declaration && !encodingKnown_) {
                if (encoding.find('&') != std::string_view::npos) {
                    return Step::UnclearEncoding;
                }
                utf8_ = encoding.empty() || StartsWith(encoding, "UTF-8", true) || StartsWith(encoding, "UTF8", true);
                encodingKnown_ = true;
            }
            pos = SkipWhiteSpace(pos);
        }
        return Step::Go;
    }

private:
    bool AtEnd(std::size_t pos) const { return pos >= text_.size(); }
    unsigned char At(std::size_t pos) const { return AtEnd(pos) ? 0 : static_cast<unsigned char>(text_[pos]); }

    static bool StartsWith(std::string_view text, std::string_view prefix, bool ignoreCase) {
        if (text.size() < prefix.size()) {
            return false;
        }
        for (std::size_t i = 0; i < prefix.size(); ++i) {
            const auto a = static_cast<unsigned char>(text[i]);
            const auto b = static_cast<unsigned char>(prefix[i]);
            if (a != b && !(ignoreCase && a < 128 && std::tolower(a) == std::tolower(b))) {
                return false;
            }
        }
        return true;
    }
    bool StartsWith(std::size_t pos, std::string_view prefix, bool ignoreCase) const {
        return !AtEnd(pos) && StartsWith(text_.substr(pos), prefix, ignoreCase);
    }

    static bool IsWhiteSpace(unsigned char c) { return std::isspace(c) != 0 || c == '\n' || c == '\r'; }
    static bool IsAlpha(unsigned char c) { return c >= 127 || std::isalpha(c) != 0; }
    static bool IsNameChar(unsigned char c) {
        return c >= 127 || std::isalnum(c) != 0 || c == '_' || c == '-' || c == '.' || c == ':';
    }

    // The bytes TinyXML takes as one character of text or of an attribute value.
    std::size_t CharLength(std::size_t pos) const {
        const unsigned char c = At(pos);
        if (!utf8_ || c < 0xC2 || c > 0xF4) {
            return 1;
        }
        return c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    }

    static bool IsDigit(unsigned char c, bool hex) {
        return (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
    }

    // "&#" starts a character reference, which ends at the next ';' and must hold only digits.
    bool IsBadCharacterReference(std::size_t pos) const {
        if (At(pos) != '&' || At(pos + 1) != '#' || At(pos + 2) == 0) {
            return false;
        }
        const bool hex = At(pos + 2) == 'x';
        if (hex && At(pos + 3) == 0) {
            return true;
        }
        const std::size_t semicolon = text_.find(';', pos + (hex ? 3 : 2));
        if (semicolon == std::string_view::npos) {
            return true;
        }
        for (std::size_t q = semicolon - 1; At(q) != (hex ? 'x' : '#'); --q) {
            if (!IsDigit(At(q), hex)) {
                return true;
            }
        }
        return false;
    }

    // Steps over one character of text or of an attribute value. TinyXML takes a character reference
    // whole, up to its ';', even where a quote or a '<' lies on the way.
    Step StepCharacter(std::size_t& pos) const {
        if (IsBadCharacterReference(pos)) {
            return Step::Stop;
        }
        if (At(pos) == '&' && At(pos + 1) == '#' && At(pos + 2) != 0) {
            pos = text_.find(';', pos + 2) + 1;
            return Step::Go;
        }
        const std::size_t length = CharLength(pos);
        if (pos + length > text_.size()) {
            return Step::CutCharacter;
        }
        pos += length;
        return Step::Go;
    }

    std::size_t SkipWhiteSpace(std::size_t pos) const {
        while (!AtEnd(pos)) {
            // In UTF-8 these three invisible characters count as white space.
            if (utf8_ && (StartsWith(pos, "\xEF\xBB\xBF", false) || StartsWith(pos, "\xEF\xBF\xBE", false) ||
                          StartsWith(pos, "\xEF\xBF\xBF", false))) {
                pos += 3;
            } else if (IsWhiteSpace(At(pos))) {
                ++pos;
            } else {
                break;
            }
        }
        return pos;
    }

    // `pos` stands on '<'.
    NodeKind Identify(std::size_t pos) const {
        if (StartsWith(pos, "<?xml", true)) {
            return NodeKind::Declaration;
        }
        if (StartsWith(pos, "<!--", false)) {
            return NodeKind::Comment;
        }
        if (StartsWith(pos, "<![CDATA[", false)) {
            return NodeKind::CData;
        }
        if (StartsWith(pos, "<!", false)) {
            return NodeKind::Unknown;
        }
        return IsAlpha(At(pos + 1)) || At(pos + 1) == '_' ? NodeKind::Element : NodeKind::Unknown;
    }

    // Moves past the end of `terminator`, searched from `from`.
    Step SkipPast(std::size_t from, std::string_view terminator, std::size_t& pos) const {
        const std::size_t found = from <= text_.size() ? text_.find(terminator, from) : std::string_view::npos;
        if (found == std::string_view::npos) {
            return Step::Stop;
        }
        pos = found + terminator.size();
        return Step::Go;
    }

    // Comments and CDATA run to their terminators; anything else TinyXML does not know to the next '>'.
    Step SkipMarkup(NodeKind kind, std::size_t& pos) const {
        switch (kind) {
        case NodeKind::Comment:
            return SkipPast(pos + 4, "-->", pos);
        case NodeKind::CData:
            return SkipPast(pos + 9, "]]>", pos);
        default:
            return SkipPast(pos + 1, ">", pos);
        }
    }

    bool ReadName(std::size_t& pos, std::string_view& name) const {
        if (!IsAlpha(At(pos)) && At(pos) != '_') {
            return false;
        }
        const std::size_t start = pos;
        while (!AtEnd(pos) && IsNameChar(At(pos))) {
            ++pos;
        }
        name = text_.substr(start, pos - start);
        return true;
    }

    // name = "value", name = 'value' or name = value; `value` gets the bytes between the quotes.
    Step SkipAttribute(std::size_t& pos, std::string_view& name, std::string_view& value) const {
        pos = SkipWhiteSpace(pos);
        if (!ReadName(pos, name)) {
            return Step::Stop;
        }
        pos = SkipWhiteSpace(pos);
        if (At(pos) != '=') {
            return Step::Stop;
        }
        pos = SkipWhiteSpace(pos + 1);
        const unsigned char quote = At(pos);
        const std::size_t start = quote == '"' || quote == '\'' ? pos + 1 : pos;
        pos = start;
        if (quote == '"' || quote == '\'') {
            while (!AtEnd(pos) && At(pos) != quote) {
                if (const Step step = StepCharacter(pos); step != Step::Go) {
                    return step;
                }
            }
            if (AtEnd(pos)) {
                return Step::Stop;
            }
            value = text_.substr(start, pos - start);
            ++pos;
        } else {
            while (!AtEnd(pos) && !IsWhiteSpace(At(pos)) && At(pos) != '/' && At(pos) != '>') {
                if (At(pos) == '"' || At(pos) == '\'') {
                    return Step::Stop;
                }
                ++pos;
            }
            value = text_.substr(start, pos - start);
        }
        return AtEnd(pos) ? Step::Stop : Step::Go;
    }

    // "<?xml" up to a '>' outside its version, encoding and standalone values; `encoding` gets the
    // last encoding value.
    Step SkipDeclaration(std::size_t& pos, std::string_view& encoding) const {
        pos += 5;
        while (!AtEnd(pos)) {
            if (At(pos) == '>') {
                ++pos;
                return Step::Go;
            }
            pos = SkipWhiteSpace(pos);
            const bool isEncoding = StartsWith(pos, "encoding", true);
            if (isEncoding || StartsWith(pos, "version", true) || StartsWith(pos, "standalone", true)) {
                std::string_view name, value;
                if (const Step step = SkipAttribute(pos, name, value); step != Step::Go) {
                    return step;
                }
                if (isEncoding) {
                    encoding = value;
                }
            } else {
                while (!AtEnd(pos) && At(pos) != '>' && !IsWhiteSpace(At(pos))) {
                    ++pos;
                }
            }
        }
        return Step::Stop;
    }

    // Text up to the next '<'.
    Step SkipText(std::size_t& pos) const {
        pos = SkipWhiteSpace(pos);
        while (!AtEnd(pos) && At(pos) != '<') {
            if (IsWhiteSpace(At(pos))) {
                ++pos;
            } else if (const Step step = StepCharacter(pos); step != Step::Go) {
                return step;
            }
        }
        return AtEnd(pos) ? Step::Stop : Step::Go;
    }

    // A start tag at `pos`; on Go, `name` is open when `open` says so (not an empty-element tag).
    Step WalkStartTag(std::size_t& pos, std::string_view& name, bool& open) const {
        pos = SkipWhiteSpace(pos + 1);
        if (!ReadName(pos, name) || AtEnd(pos)) {
            return Step::Stop;
        }
        std::vector<std::string_view> attributes;
        for (;;) {
            pos = SkipWhiteSpace(pos);
            if (At(pos) == '/') {
                if (At(pos + 1) != '>') {
                    return Step::Stop;
                }
                pos += 2;
                open = false;
                return Step::Go;
            }
            if (At(pos) == '>') {
                ++pos;
                open = true;
                return Step::Go;
            }
            std::string_view attribute, value;
            if (const Step step = SkipAttribute(pos, attribute, value); step != Step::Go) {
                return step;
            }
            // A second attribute of the same name is an error to TinyXML.
            if (std::find(attributes.begin(), attributes.end(), attribute) != attributes.end()) {
                return Step::Stop;
            }
            attributes.push_back(attribute);
        }
    }

    // One element with everything inside it, `pos` on its '<'. The open elements are kept in a list
    // of our own instead of on the call stack.
    Step WalkElement(std::size_t& pos) const {
        std::vector<std::string_view> open;
        bool atStartTag = true;
        for (;;) {
            if (atStartTag) {
                if (open.size() >= maxNesting_) {
                    return Step::TooDeep;
                }
                std::string_view name;
                bool opened = false;
                if (const Step step = WalkStartTag(pos, name, opened); step != Step::Go) {
                    return step;
                }
                if (opened) {
                    open.push_back(name);
                } else if (open.empty()) {
                    return Step::Go;
                }
                atStartTag = false;
            } else if (At(pos) != '<') {
                if (const Step step = SkipText(pos); step != Step::Go) {
                    return step;
                }
            } else if (StartsWith(pos, "</", false)) {
                // Only the end tag of the innermost open element closes it; white space may stand before its '>'.
                const std::string_view name = open.back();
                if (!StartsWith(pos + 2, name, false)) {
                    return Step::Stop;
                }
                pos = SkipWhiteSpace(pos + 2 + name.size());
                if (At(pos) != '>') {
                    return Step::Stop;
                }
                ++pos;
                open.pop_back();
                if (open.empty()) {
                    return Step::Go;
                }
            } else {
                std::string_view ignored;
                const NodeKind kind = Identify(pos);
                if (kind == NodeKind::Element) {
                    atStartTag = true;
                    continue;
                }
                const Step step = kind == NodeKind::Declaration ? SkipDeclaration(pos, ignored) : SkipMarkup(kind, pos);
                if (step != Step::Go) {
                    return step;
                }
            }
            pos = SkipWhiteSpace(pos);
            if (AtEnd(pos)) {
                return Step::Stop;
            }
        }
    }

    std::string_view text_;
    std::size_t maxNesting_;
    bool utf8_ = false;
    bool encodingKnown_ = false;
};

} // namespace

XmlPreScan PreScanXml(std::string_view text, std::size_t maxNesting) {
    switch (TinyXmlWalk(text, maxNesting).WalkDocument()) {
    case Step::TooDeep:
        return XmlPreScan::TooDeep;
    case Step::CutCharacter:
        return XmlPreScan::CutCharacter;
    case Step::UnclearEncoding:
        return XmlPreScan::UnclearEncoding;
    default:
        return XmlPreScan::Fits;
    }
}

const char* DescribeXmlPreScan(XmlPreScan result) {
    switch (result) {
    case XmlPreScan::TooDeep:
        return "Elements nested too deeply.";
    case XmlPreScan::CutCharacter:
        return "A character cut off at the end of the text.";
    case XmlPreScan::UnclearEncoding:
        return "An encoding declared through a character reference.";
    default:
        return "";
    }
}
