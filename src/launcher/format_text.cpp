#include "launcher/format_text.h"

#include "res/string_table.h"

#include <cinttypes>
#include <cstdio>

namespace {

constexpr int IDS_SPEED_BYTES = 119;
constexpr int IDS_SPEED_KB = 120;
constexpr int IDS_SPEED_MB = 150;

// Formats one integer into a string-table text that holds a single "%d".
std::string FormatCount(int id, std::uint32_t value) {
    const std::string pattern = LoadStringId(id);
    char text[128];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(text, sizeof text, pattern.c_str(), static_cast<int>(value));
#pragma GCC diagnostic pop
    return text;
}

} // namespace

std::string FormatSize(std::uint64_t bytes) {
    char text[64];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%" PRIu64 " Bytes", bytes);
    } else if (bytes < 0x100000) {
        std::snprintf(text, sizeof text, "%0.1f KB", static_cast<double>(bytes) / 1024.0);
    } else if (bytes < 0x40000000) {
        std::snprintf(text, sizeof text, "%0.2f MB", static_cast<double>(bytes) / 1048576.0);
    } else {
        std::snprintf(text, sizeof text, "%0.2f GB", static_cast<double>(bytes) / 1073741824.0);
    }
    return text;
}

std::string FormatDuration(std::uint32_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", seconds / 3600, seconds % 3600 / 60, seconds % 60);
    return text;
}

std::string FormatSpeed(std::uint32_t value) {
    if (value == 0) {
        return FormatCount(IDS_SPEED_BYTES, 0);
    }
    if (value < 1000) {
        return FormatCount(IDS_SPEED_KB, value);
    }
    // 1000 to 1023 would truncate to "0 MB"; a running transfer never shows a zero speed.
    return FormatCount(IDS_SPEED_MB, value < 1024 ? 1 : value / 1024);
}
