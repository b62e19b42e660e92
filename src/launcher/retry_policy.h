#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// When a configuration asks for retries: which failed transfers are worth another attempt, and how long
// to wait before it. Only failures that a later attempt may not meet count: a lost or refused
// connection, a stalled transfer, an overloaded or restarting server. Every other answer of the server
// is its last word, and asking again would only delay the failure.

// A transport code of internet_errors.h (or a system error code) after which the transfer is tried again.
bool IsRetriedTransportError(std::uint32_t code);
// An HTTP status after which the transfer is tried again: 408, 429, 500, 502, 503, 504.
bool IsRetriedStatus(std::uint32_t status);

// The pause before retry number `retry` (1 for the first): 1 s, doubling up to 30 s; or, when the
// failed answer carried a Retry-After header (`retryAfter`, empty when none) that reads as seconds or as
// an HTTP date (taken against `now`), what it asks, never below 0 s nor above 60 s.
std::chrono::seconds RetryPause(unsigned retry, const std::string& retryAfter,
                                std::chrono::system_clock::time_point now);
