#pragma once

#include <cstdint>
#include <string>

// Service types of a parsed URL.
constexpr std::uint32_t INET_SERVICE_FTP = 1;
constexpr std::uint32_t INET_SERVICE_HTTP = 3;
constexpr std::uint32_t INET_SERVICE_UNKNOWN = 0x1000;
constexpr std::uint32_t INET_SERVICE_HTTPS = 0x100B; // 4107

// The parts of a URL the downloader connects with.
struct ParsedUrl {
    std::uint32_t serviceType = 0;
    std::string serverName;       // host without port, user information or IPv6 brackets
    std::string objectPath;       // path with query, "/" at least; unsafe bytes percent-encoded
    std::uint16_t serverPort = 0; // the scheme's default when the URL names none
};

// Splits "scheme://[user[:password]@]host[:port][/path][?query]". Fails without "scheme://", with an
// empty host, or with a port that is not a number from 1 to 65535.
bool ParseUrl(const std::string& url, ParsedUrl& parsed);

// "host" or "[v6]" with ":port": the authority the parts describe.
std::string FormatAuthority(const std::string& serverName, std::uint16_t serverPort);
