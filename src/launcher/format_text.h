#pragma once

#include <cstdint>
#include <string>

// Texts of byte counts, durations and speeds as the window shows them.

// "1023 Bytes", "1.0 KB", "1.00 MB", "5.00 GB".
std::string FormatSize(std::uint64_t bytes);

// "hh:mm:ss" with unlimited hours: 360000 seconds give "100:00:00".
std::string FormatDuration(std::uint32_t seconds);

// A speed counted in bytes per millisecond and shown as kilobytes per second.
std::string FormatSpeed(std::uint32_t value);
