#include "net/http_date.h"

#include <curl/curl.h>

std::optional<std::time_t> ParseHttpDate(const std::string& text) {
    const std::time_t date = curl_getdate(text.c_str(), nullptr);
    return date == -1 ? std::nullopt : std::optional<std::time_t>(date);
}
