#include "base/log_format.h"

#include "base/printable_text.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>

namespace {

static_assert(std::is_same_v<std::uint64_t, unsigned long>, "\"%I64u\" is read as an unsigned long");

// Appends `value` formatted by `conversion`, one whole printf conversion.
template <typename T> void AppendConversion(std::string& out, const std::string& conversion, T value) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const int length = std::snprintf(nullptr, 0, conversion.c_str(), value);
    if (length <= 0) {
        return;
    }
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(length) + 1);
    std::snprintf(out.data() + start, static_cast<std::size_t>(length) + 1, conversion.c_str(), value);
#pragma GCC diagnostic pop
    out.resize(start + static_cast<std::size_t>(length));
}

// Copies digits or, for '*', the next int argument into `conversion`; false for a negative '*' precision,
// which counts as none.
bool TakeNumber(const char*& p, std::string& conversion, std::va_list& args) {
    if (*p == '*') {
        ++p;
        const int value = va_arg(args, int);
        if (value < 0 && conversion.back() == '.') {
            return false;
        }
        conversion += std::to_string(value);
        return true;
    }
    while (std::isdigit(static_cast<unsigned char>(*p)) != 0) {
        conversion += *p++;
    }
    return true;
}

// The length prefix at `p`, moved past: "hh", "h", "l", "ll", "j", "z", "t", "L", or "I64" (as "l").
std::string TakeLength(const char*& p) {
    for (const char* prefix : {"hh", "ll", "h", "l", "j", "z", "t", "L"}) {
        if (std::strncmp(p, prefix, std::strlen(prefix)) == 0) {
            p += std::strlen(prefix);
            return prefix;
        }
    }
    if (std::strncmp(p, "I64", 3) == 0) {
        p += 3;
        return "l";
    }
    return {};
}

void AppendSigned(std::string& out, const std::string& conversion, const std::string& length, std::va_list& args) {
    if (length == "l") {
        AppendConversion(out, conversion, va_arg(args, long));
    } else if (length == "ll") {
        AppendConversion(out, conversion, va_arg(args, long long));
    } else if (length == "j") {
        AppendConversion(out, conversion, va_arg(args, std::intmax_t));
    } else if (length == "z") {
        AppendConversion(out, conversion, va_arg(args, std::make_signed_t<std::size_t>));
    } else if (length == "t") {
        AppendConversion(out, conversion, va_arg(args, std::ptrdiff_t));
    } else {
        AppendConversion(out, conversion, va_arg(args, int)); // "hh" and "h" arrive promoted
    }
}

void AppendUnsigned(std::string& out, const std::string& conversion, const std::string& length, std::va_list& args) {
    if (length == "l") {
        AppendConversion(out, conversion, va_arg(args, unsigned long));
    } else if (length == "ll") {
        AppendConversion(out, conversion, va_arg(args, unsigned long long));
    } else if (length == "j") {
        AppendConversion(out, conversion, va_arg(args, std::uintmax_t));
    } else if (length == "z") {
        AppendConversion(out, conversion, va_arg(args, std::size_t));
    } else if (length == "t") {
        AppendConversion(out, conversion, va_arg(args, std::make_unsigned_t<std::ptrdiff_t>));
    } else {
        AppendConversion(out, conversion, va_arg(args, unsigned int));
    }
}

} // namespace

std::string FormatLogMessage(const char* format, std::va_list arguments) {
    std::va_list args; // an object of its own, which the helpers can take by reference
    va_copy(args, arguments);
    std::string out;
    for (const char* p = format; *p != '\0';) {
        if (*p != '%') {
            out += *p++;
            continue;
        }
        const char* const start = p++;
        if (*p == '%') {
            out += *p++;
            continue;
        }
        std::string conversion = "%";
        while (*p != '\0' && std::strchr("-+ #0", *p) != nullptr) {
            conversion += *p++;
        }
        TakeNumber(p, conversion, args);
        if (*p == '.') {
            conversion += *p++;
            if (!TakeNumber(p, conversion, args)) {
                conversion.pop_back();
            }
        }
        const std::string length = TakeLength(p);
        const char type = *p;
        if (type == '\0') {
            out += start; // a cut conversion at the end is shown as it stands
            break;
        }
        ++p;
        switch (type) {
        case 'd':
        case 'i':
            AppendSigned(out, conversion + length + type, length, args);
            break;
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            AppendUnsigned(out, conversion + length + type, length, args);
            break;
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (length == "L") {
                AppendConversion(out, conversion + "L" + type, va_arg(args, long double));
            } else {
                AppendConversion(out, conversion + type, va_arg(args, double));
            }
            break;
        case 'c': {
            const char c = static_cast<char>(va_arg(args, int));
            AppendConversion(out, conversion + 's', PrintableText(std::string_view(&c, 1)).c_str());
            break;
        }
        case 's': {
            const char* text = va_arg(args, const char*);
            AppendConversion(out, conversion + 's', PrintableText(text != nullptr ? text : "(null)").c_str());
            break;
        }
        case 'p':
            AppendConversion(out, conversion + 'p', va_arg(args, void*));
            break;
        case 'n':
            va_arg(args, void*); // what has been written so far is nobody's business here
            break;
        default:
            out.append(start, p); // no conversion: shown as it stands
            break;
        }
    }
    va_end(args);
    return out;
}
