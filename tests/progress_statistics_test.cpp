#include "launcher/progress_statistics.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

TEST(PercentOf, TruncatesAndHandlesEmptyWholes) {
    struct Case {
        std::uint64_t part, whole;
        int percent;
    } const cases[] = {
        {0, 100, 0},
        {1, 100, 1},
        {99, 100, 99},
        {2147483648ull, 4294967296ull, 50},
        {9000000000000000000ull, 18000000000000000000ull, 50}, // part × 100 overflows 64 bits
        {0, 0, 100},                                           // an empty file is complete
        {150, 100, 100},                                       // more than announced
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PercentOf(c.part, c.whole), c.percent) << c.part << "/" << c.whole;
    }
}

// Feeds a whole body in 1024-byte reads and records what would be shown.
struct Shown {
    std::vector<int> filePercents;
    std::vector<int> totalPercents;
    std::vector<double> speeds;
    std::vector<ProgressDisplay> timed;
};

Shown Transfer(ProgressStatistics& stats, std::atomic<std::uint64_t>& received, std::uint64_t fileSize,
               std::uint64_t bytes, std::uint32_t startTick, std::uint32_t msPerRead) {
    Shown run;
    std::uint64_t transferred = 0;
    std::uint32_t now = startTick;
    for (;;) {
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(1024, bytes - transferred));
        transferred += n;
        const ProgressDisplay shown = stats.OnRead(now, transferred, n, true, fileSize, received);
        if (shown.filePercent) {
            run.filePercents.push_back(*shown.filePercent);
        }
        if (shown.totalPercent) {
            run.totalPercents.push_back(*shown.totalPercent);
        }
        if (shown.speed) {
            run.speeds.push_back(*shown.speed);
            run.timed.push_back(shown);
        }
        if (n == 0) {
            return run;
        }
        now += msPerRead;
    }
}

TEST(ProgressStatistics, TenMegabyteFileShowsEachPercentOnce) {
    const std::uint64_t size = 10 * 1024 * 1024;
    ProgressStatistics stats;
    stats.totalSize = size;
    std::atomic<std::uint64_t> received{0};
    const Shown run = Transfer(stats, received, size, size, 1000, 1); // 10 240 reads, one per ms
    ASSERT_EQ(run.filePercents.size(), 101u);
    for (int p = 0; p <= 100; ++p) {
        EXPECT_EQ(run.filePercents[static_cast<std::size_t>(p)], p);
    }
    EXPECT_EQ(run.totalPercents, run.filePercents);
    // About once a second: 10 240 ms of reads give ten speed values of 1001 ms each; the first
    // counts the reads at ticks 1000 to 2001.
    ASSERT_EQ(run.speeds.size(), 10u);
    EXPECT_DOUBLE_EQ(run.speeds[0], static_cast<double>(1002 * 1024 / 1001));
    EXPECT_EQ(received.load(), size);
    EXPECT_EQ(stats.totalReceived.load(), size);
}

TEST(ProgressStatistics, ResumedHalfFileStartsAtFiftyAndCountsOnlyNewBytes) {
    const std::uint64_t size = 4 * 1024 * 1024;
    ProgressStatistics stats;
    stats.totalSize = size;
    std::atomic<std::uint64_t> received{size / 2};
    EXPECT_EQ(stats.UpdateTotalReceived(size / 2), 50);
    stats.speedBaseline = size / 2; // the worker's baseline at the file's start
    stats.lastSpeedTick = 5000;
    const Shown run = Transfer(stats, received, size, size / 2, 5000, 2);
    ASSERT_FALSE(run.filePercents.empty());
    EXPECT_EQ(run.filePercents.front(), 50);
    EXPECT_EQ(run.filePercents.back(), 100);
    ASSERT_FALSE(run.timed.empty());
    // The first speed counts the 502 reads of this request (ticks 5000 to 6002), not the half already present.
    EXPECT_DOUBLE_EQ(*run.timed[0].speed, static_cast<double>(502 * 1024 / 1002));
    ASSERT_TRUE(run.timed[0].totalReceived.has_value());
    EXPECT_EQ(*run.timed[0].totalReceived, size / 2 + 502 * 1024);
}

TEST(ProgressStatistics, ReadsOfOtherFilesMoveTheTotalsAndTheSpeedButNotTheFilePercent) {
    ProgressStatistics stats;
    stats.totalSize = 400000;
    std::atomic<std::uint64_t> shown{0};
    std::atomic<std::uint64_t> other{0};
    stats.lastSpeedTick = 1000;
    stats.OnRead(1000, 1000, 1000, true, 100000, shown);
    const ProgressDisplay otherRead = stats.OnOtherRead(99000, true, other);
    EXPECT_FALSE(otherRead.filePercent.has_value());
    EXPECT_EQ(otherRead.totalPercent, 25);
    EXPECT_EQ(other.load(), 99000u);
    EXPECT_TRUE(stats.OnOtherRead(1000, false, other).Empty()); // no length: nothing moves
    // Two seconds on, the speed is of both files: 100000 bytes of the other and 2000 of the shown one.
    const ProgressDisplay later = stats.OnRead(3000, 2000, 1000, true, 100000, shown);
    EXPECT_EQ(later.filePercent, 2);
    ASSERT_TRUE(later.speed.has_value());
    EXPECT_DOUBLE_EQ(*later.speed, static_cast<double>(101000 / 2000));
    EXPECT_EQ(later.totalReceived, 101000u);
    EXPECT_EQ(later.fileReceived, 2000u);
}

TEST(ProgressStatistics, RemainingTimeAndUnknownLengths) {
    ProgressStatistics stats;
    stats.totalSize = 5ull * 1024 * 1024 * 1024; // above 2^32
    stats.lastTotalPercent = 0;
    stats.lastSpeedTick = 4294966000u; // the tick count wraps during the read
    std::atomic<std::uint64_t> received{0};
    stats.speedBaseline = 0;

    // No Content-Length: nothing moves.
    EXPECT_TRUE(stats.OnRead(1000, 1024, 1024, false, 0, received).Empty());
    EXPECT_EQ(received.load(), 0u);

    const std::uint64_t chunk = 2048ull * 1000; // 2048 bytes per ms over 1000 ms... and 296 more ms
    stats.totalReceived = 0;
    const ProgressDisplay shown =
        stats.OnRead(4294966000u + 1296u, chunk, static_cast<std::uint32_t>(chunk), true, stats.totalSize, received);
    ASSERT_TRUE(shown.speed.has_value());
    EXPECT_DOUBLE_EQ(*shown.speed, static_cast<double>(chunk / 1296));
    ASSERT_TRUE(shown.remainingSeconds.has_value());
    const double expected = static_cast<double>(stats.totalSize - chunk) / (static_cast<double>(chunk / 1296) * 1024.0);
    EXPECT_EQ(*shown.remainingSeconds, static_cast<std::uint32_t>(expected));

    // Zero speed, and more received than announced: both show zero seconds.
    ProgressStatistics idle;
    idle.totalSize = 10;
    idle.lastTotalPercent = 0;
    std::atomic<std::uint64_t> over{0};
    const ProgressDisplay stalled = idle.OnRead(2000, 1, 0, true, 10, over);
    ASSERT_TRUE(stalled.remainingSeconds.has_value());
    EXPECT_EQ(*stalled.remainingSeconds, 0u);
    idle.lastSpeedTick = 0;
    const ProgressDisplay beyond = idle.OnRead(5000, 50, 50, true, 10, over);
    ASSERT_TRUE(beyond.remainingSeconds.has_value());
    EXPECT_EQ(*beyond.remainingSeconds, 0u);
    EXPECT_EQ(beyond.filePercent.value_or(-1), 100);
}

TEST(ProgressStatistics, ResetReturnsToTheStartValues) {
    ProgressStatistics stats;
    stats.totalReceived = 7;
    stats.lastFilePercent = 3;
    stats.lastTotalPercent = 4;
    stats.lastSpeedTick = 9;
    stats.totalSize = 100;
    stats.Reset();
    EXPECT_EQ(stats.totalReceived.load(), 0u);
    EXPECT_EQ(stats.lastFilePercent.load(), -1);
    EXPECT_EQ(stats.lastTotalPercent.load(), -1);
    EXPECT_EQ(stats.lastSpeedTick.load(), 0u);
    EXPECT_EQ(stats.totalSize.load(), 100u);
}

} // namespace
