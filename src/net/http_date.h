#pragma once

#include <ctime>
#include <optional>
#include <string>

// A date in any of the three forms HTTP allows (IMF-fixdate, RFC 850, asctime), read without regard to
// the locale; nothing when `text` is none of them.
std::optional<std::time_t> ParseHttpDate(const std::string& text);
