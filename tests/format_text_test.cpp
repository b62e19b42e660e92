#include "launcher/format_text.h"

#include <gtest/gtest.h>

namespace {

TEST(FormatText, Sizes) {
    struct Case {
        std::uint64_t bytes;
        const char* text;
    } const cases[] = {
        {0, "0 Bytes"},
        {1023, "1023 Bytes"},
        {1024, "1.0 KB"},
        {1536, "1.5 KB"},
        {1048575, "1024.0 KB"},
        {1048576, "1.00 MB"},
        {1073741823, "1024.00 MB"},
        {1073741824, "1.00 GB"},
        {5368709120, "5.00 GB"},
        {18446744073709551615ull, "17179869184.00 GB"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatSize(c.bytes), c.text) << c.bytes;
    }
}

TEST(FormatText, Durations) {
    EXPECT_EQ(FormatDuration(0), "00:00:00");
    EXPECT_EQ(FormatDuration(3725), "01:02:05");
    EXPECT_EQ(FormatDuration(100 * 3600), "100:00:00");
    EXPECT_EQ(FormatDuration(4294967295u), "1193046:28:15");
}

TEST(FormatText, Speeds) {
    struct Case {
        std::uint32_t value;
        const char* text;
    } const cases[] = {
        {0, "0 Bytes/초"}, {1, "1 KB/초"},    {500, "500 KB/초"}, {999, "999 KB/초"},
        {1000, "1 MB/초"}, {2048, "2 MB/초"}, {3071, "2 MB/초"},  {4294967295u, "4194303 MB/초"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatSpeed(c.value), c.text) << c.value;
    }
}

} // namespace
