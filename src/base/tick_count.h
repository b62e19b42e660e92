#pragma once

#include <chrono>
#include <cstdint>

// Milliseconds of a steady clock, wrapping at 32 bits; only differences are meaningful.
inline std::uint32_t TickCount() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}
