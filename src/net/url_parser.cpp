#include "net/url_parser.h"

#include <algorithm>
#include <cctype>

namespace {

struct Scheme {
    const char* name;
    std::uint32_t serviceType;
    std::uint16_t defaultPort;
};

constexpr Scheme kSchemes[] = {
    {"http", INET_SERVICE_HTTP, 80},
    {"https", INET_SERVICE_HTTPS, 443},
    {"ftp", INET_SERVICE_FTP, 21},
};

bool IsSchemeText(const std::string& scheme) {
    if (scheme.empty() || !std::isalpha(static_cast<unsigned char>(scheme[0]))) {
        return false;
    }
    return std::all_of(scheme.begin(), scheme.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
    });
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return text;
}

// A request line cannot carry spaces, control characters or raw non-ASCII bytes.
std::string EncodeUnsafeBytes(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || c == '"' || c == '<' || c == '>') {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

bool ParsePort(const std::string& text, std::uint16_t& port) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    const unsigned long value = std::stoul(text);
    if (value == 0 || value > 65535) {
        return false;
    }
    port = static_cast<std::uint16_t>(value);
    return true;
}

} // namespace

bool ParseUrl(const std::string& url, ParsedUrl& parsed) {
    const std::size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos || !IsSchemeText(url.substr(0, schemeEnd))) {
        return false;
    }
    const std::string scheme = Lower(url.substr(0, schemeEnd));
    const auto* known =
        std::find_if(std::begin(kSchemes), std::end(kSchemes), [&](const Scheme& s) { return scheme == s.name; });

    const std::size_t authorityStart = schemeEnd + 3;
    const std::size_t authorityEnd = url.find_first_of("/?#", authorityStart);
    std::string authority = url.substr(
        authorityStart, authorityEnd == std::string::npos ? std::string::npos : authorityEnd - authorityStart);
    if (const std::size_t at = authority.rfind('@'); at != std::string::npos) {
        authority.erase(0, at + 1);
    }

    std::string host = authority;
    std::string portText;
    if (!authority.empty() && authority[0] == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string::npos) {
            return false;
        }
        host = authority.substr(1, close - 1);
        const std::string rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') {
                return false;
            }
            portText = rest.substr(1);
        }
    } else if (const std::size_t colon = authority.rfind(':'); colon != std::string::npos) {
        host = authority.substr(0, colon);
        portText = authority.substr(colon + 1);
    }
    if (host.empty()) {
        return false;
    }
    std::uint16_t port = known != std::end(kSchemes) ? known->defaultPort : 0;
    if (!portText.empty() && !ParsePort(portText, port)) {
        return false;
    }

    std::string object = authorityEnd == std::string::npos ? std::string() : url.substr(authorityEnd);
    if (object.empty() || object[0] != '/') {
        object.insert(0, "/");
    }

    parsed.serviceType = known != std::end(kSchemes) ? known->serviceType : INET_SERVICE_UNKNOWN;
    parsed.serverName = host;
    parsed.objectPath = EncodeUnsafeBytes(object);
    parsed.serverPort = port;
    return true;
}

std::string FormatAuthority(const std::string& serverName, std::uint16_t serverPort) {
    const bool v6 = serverName.find(':') != std::string::npos;
    return (v6 ? "[" + serverName + "]" : serverName) + ":" + std::to_string(serverPort);
}
