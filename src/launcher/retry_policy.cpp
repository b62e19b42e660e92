#include "launcher/retry_policy.h"

#include "net/http_date.h"
#include "net/internet_errors.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace {

constexpr std::chrono::seconds kFirstPause{1};
constexpr std::chrono::seconds kLongestBackOff{30};
constexpr std::chrono::seconds kLongestServerPause{60};

// Seconds the Retry-After value asks for (negative for a date in the past); nothing when it is neither
// delta seconds nor a date.
std::optional<long long> RequestedSeconds(const std::string& value, std::chrono::system_clock::time_point now) {
    const std::size_t first = value.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return std::nullopt;
    }
    const std::string text = value.substr(first, value.find_last_not_of(" \t") - first + 1);
    if (std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        long long seconds = 0;
        for (const char digit : text) {
            // Anything past the cap is the cap; stopping there keeps a long number from overflowing.
            seconds = std::min<long long>(seconds * 10 + (digit - '0'), kLongestServerPause.count() + 1);
        }
        return seconds;
    }
    const std::optional<std::time_t> date = ParseHttpDate(text);
    if (!date) {
        return std::nullopt;
    }
    return static_cast<long long>(*date) - static_cast<long long>(std::chrono::system_clock::to_time_t(now));
}

} // namespace

bool IsRetriedTransportError(std::uint32_t code) {
    switch (code) {
    case ERROR_INTERNET_TIMEOUT:             // no byte within the stall time
    case ERROR_INTERNET_NAME_NOT_RESOLVED:   // a network coming back lacks its name service for a moment
    case ERROR_INTERNET_CANNOT_CONNECT:      // refused or unreachable: a server restarting, a network away
    case ERROR_INTERNET_CONNECTION_ABORTED:  // closed before the announced length
    case ERROR_INTERNET_CONNECTION_RESET:    // reset while sending or receiving
    case ERROR_HTTP_INVALID_SERVER_RESPONSE: // closed without an answer
        return true;
    default:
        return false;
    }
}

bool IsRetriedStatus(std::uint32_t status) {
    switch (status) {
    case 408:
    case 429:
    case 500:
    case 502:
    case 503:
    case 504:
        return true;
    default:
        return false;
    }
}

std::chrono::seconds RetryPause(unsigned retry, const std::string& retryAfter,
                                std::chrono::system_clock::time_point now) {
    if (const std::optional<long long> requested = RequestedSeconds(retryAfter, now)) {
        return std::chrono::seconds(std::clamp<long long>(*requested, 0, kLongestServerPause.count()));
    }
    std::chrono::seconds pause = kFirstPause;
    for (unsigned n = 1; n < retry && pause < kLongestBackOff; ++n) {
        pause *= 2;
    }
    return std::min(pause, kLongestBackOff);
}
