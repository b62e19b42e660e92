#include "net/rate_limit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

// For the failure messages; ADL finds it beside RateWindow.
static std::ostream& operator<<(std::ostream& out, const RateWindow& window) {
    return out << "{" << window.limit << ", " << window.startTick << ", " << window.startBytes << "}";
}

namespace {

constexpr std::uint32_t kLateTick = 0xFFFFFF00; // 256 ms before the tick count wraps

struct RateCase {
    const char* what;
    RateWindow window;
    double limit;
    std::uint32_t now;
    std::uint64_t transferred;
    std::int64_t waitMs;
    RateWindow windowAfter;
};

TEST(RateLimitTest, WaitsForTheBytesAheadOfTheLimitCountedFromItsLastChange) {
    const std::vector<RateCase> cases = {
        {"no limit", {0.0, 1000, 0}, 0.0, 1001, 1 << 20, 0, {0.0, 1000, 0}},
        {"a limit taken away", {2.0, 1000, 0}, 0.0, 1001, 1 << 20, 0, {0.0, 1000, 0}},
        {"under the limit", {2.0, 1000, 0}, 2.0, 1500, 600, 0, {2.0, 1000, 0}},
        {"at the limit", {2.0, 1000, 0}, 2.0, 1500, 1000, 0, {2.0, 1000, 0}},
        {"over the limit", {2.0, 1000, 0}, 2.0, 1500, 1600, 300, {2.0, 1000, 0}},
        {"counted from the window's bytes", {2.0, 1000, 5000}, 2.0, 1500, 6600, 300, {2.0, 1000, 5000}},
        // Behind by the credit (250 ms) at most: the next pieces may catch up at full speed.
        {"behind within the credit", {2.0, 1000, 0}, 2.0, 2000, 1500, 0, {2.0, 1000, 0}},
        {"a burst past what it fell behind", {2.0, 1000, 0}, 2.0, 2000, 2600, 300, {2.0, 1000, 0}},
        // Further behind: the window moves up to the credit, and a burst of more than it waits.
        {"behind past the credit", {2.0, 1000, 0}, 2.0, 2000, 1000, 0, {2.0, 1750, 1000}},
        {"a burst after a slow start", {2.0, 1750, 1000}, 2.0, 2000, 2000, 250, {2.0, 1750, 1000}},
        // A new limit counts from now; what came before neither holds it back nor lends it anything.
        {"a new limit after a burst", {2.0, 1000, 0}, 1.0, 1100, 5000, 0, {1.0, 1100, 5000}},
        {"a new limit after a slow start", {2.0, 1000, 0}, 1.0, 9000, 100, 0, {1.0, 9000, 100}},
        {"a first limit", {0.0, 1000, 0}, 1.0, 3000, 700, 0, {1.0, 3000, 700}},
        {"over a new limit", {1.0, 3000, 700}, 1.0, 3100, 1200, 400, {1.0, 3000, 700}},
        // The tick count wraps at 32 bits: only its differences count.
        {"over the limit across the wrap", {2.0, kLateTick, 0}, 2.0, 256, 1600, 288, {2.0, kLateTick, 0}},
        {"behind across the wrap", {2.0, kLateTick, 0}, 2.0, 256, 0, 0, {2.0, 6, 0}},
        {"the credit taken back across the wrap", {2.0, kLateTick, 0}, 2.0, 100, 0, 0, {2.0, 100 - 250u, 0}},
        {"a new limit just before the wrap", {1.0, 0, 0}, 2.0, 0xFFFFFFFF, 0, 0, {2.0, 0xFFFFFFFF, 0}},
    };
    for (const RateCase& c : cases) {
        RateWindow window = c.window;
        EXPECT_EQ(RateLimitWait(window, c.limit, c.now, c.transferred).count(), c.waitMs) << c.what;
        EXPECT_EQ(window, c.windowAfter) << c.what;
    }
}

} // namespace
