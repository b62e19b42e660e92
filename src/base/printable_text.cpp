#include "base/printable_text.h"

#include <cstdio>

namespace {

unsigned char ByteAt(std::string_view text, std::size_t index) {
    return static_cast<unsigned char>(text[index]);
}

// The length of the well-formed UTF-8 character `text` begins with; 0 when it begins with none
// (a stray continuation byte, a cut, overlong or surrogate sequence, a lead byte past U+10FFFF).
std::size_t Utf8Length(std::string_view text) {
    const unsigned char lead = ByteAt(text, 0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return 0;
    }
    if (text.size() < length || ByteAt(text, 1) < low || ByteAt(text, 1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (ByteAt(text, i) < 0x80 || ByteAt(text, i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

void AppendEscaped(std::string& out, unsigned char byte) {
    switch (byte) {
    case '\r':
        out += "\\r";
        break;
    case '\n':
        out += "\\n";
        break;
    case '\t':
        out += "\\t";
        break;
    default: {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
        out += escaped;
    }
    }
}

} // namespace

std::string PrintableText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const unsigned char lead = ByteAt(text, 0);
        const std::size_t length = Utf8Length(text);
        // U+0080 to U+009F, the C1 controls, are C2 80 to C2 9F.
        const bool escaped = length == 0 || lead < 0x20 || lead == 0x7F || (lead == 0xC2 && ByteAt(text, 1) < 0xA0);
        const std::size_t taken = length == 0 ? 1 : length; // a byte that is no UTF-8 stands alone
        if (escaped) {
            for (std::size_t i = 0; i < taken; ++i) {
                AppendEscaped(out, ByteAt(text, i));
            }
        } else {
            out.append(text.substr(0, taken));
        }
        text.remove_prefix(taken);
    }
    return out;
}
