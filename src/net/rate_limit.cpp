#include "net/rate_limit.h"

namespace {

// How far behind its limit a capped transfer may fall and still catch up at full speed.
constexpr std::uint32_t kRateCreditMs = 250;

} // namespace

std::chrono::milliseconds RateLimitWait(RateWindow& window, double limit, std::uint32_t now,
                                        std::uint64_t transferred) {
    if (limit <= 0.0) {
        window.limit = limit; // a limit set later counts from then
        return std::chrono::milliseconds(0);
    }
    if (limit != window.limit) {
        // A new limit counts from now: the bytes before it neither use up nor lend it anything.
        window = {limit, now, transferred};
    }
    const double elapsed = now - window.startTick;
    const double bytes = static_cast<double>(transferred - window.startBytes);
    if (limit * elapsed - bytes > limit * kRateCreditMs) {
        // Slower than allowed for a while (a slow server): that is no licence for a burst later.
        window = {limit, now - kRateCreditMs, transferred};
        return std::chrono::milliseconds(0);
    }
    const auto waitMs = static_cast<std::int64_t>(bytes / limit - elapsed);
    return std::chrono::milliseconds(waitMs > 0 ? waitMs : 0);
}
