#include "net/end_report.h"
#include "support/served_folder.h"
#include "support/silent_listener.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// The report is one request whose failure nobody waits for longer than its limits.
TEST(EndReport, FailuresAreSwallowedWithinTheLimits) {
    int closedPort = 0;
    {
        ServedFolder gone;
        closedPort = gone.server().port();
    }
    SilentListener silent;
    struct Case {
        const char* name;
        std::string host;
        std::chrono::milliseconds atLeast;
        std::chrono::milliseconds atMost;
    };
    const Case cases[] = {
        {"Refused", "127.0.0.1:" + std::to_string(closedPort), std::chrono::milliseconds(0),
         std::chrono::milliseconds(1000)},
        {"NeverAnswered", "127.0.0.1:" + std::to_string(silent.port()), std::chrono::milliseconds(4900),
         std::chrono::milliseconds(5600)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto started = Clock::now();
        SendEndReportRequest(c.host);
        const auto took = Clock::now() - started;
        EXPECT_GE(took, c.atLeast);
        EXPECT_LE(took, c.atMost);
    }
}

} // namespace
