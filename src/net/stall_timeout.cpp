#include "net/stall_timeout.h"

#include <atomic>

namespace {

std::atomic<std::chrono::milliseconds::rep> g_stallTimeoutMs{kDefaultStallTimeout.count()};

} // namespace

std::chrono::milliseconds StallTimeout() {
    return std::chrono::milliseconds(g_stallTimeoutMs.load());
}

void SetStallTimeout(std::chrono::milliseconds timeout) {
    g_stallTimeoutMs.store(timeout.count());
}
