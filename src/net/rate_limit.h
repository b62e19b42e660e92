#pragma once

#include <chrono>
#include <cstdint>

// What a cap on the receive rate counts from: the tick and the bytes so far when its limit last changed.
struct RateWindow {
    double limit = 0.0; // bytes per millisecond; 0 or less: none
    std::uint32_t startTick = 0;
    std::uint64_t startBytes = 0;

    bool operator==(const RateWindow&) const = default;
};

// How long a transfer that has `transferred` bytes at tick `now` waits to keep to `limit`. Moves `window`
// to `now` when the limit changed, and forward when the transfer fell so far behind that catching up would
// be a burst. Ticks wrap at 32 bits; `now` is not read without a limit.
std::chrono::milliseconds RateLimitWait(RateWindow& window, double limit, std::uint32_t now, std::uint64_t transferred);
