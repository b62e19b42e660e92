#include "launcher/retry_policy.h"
#include "net/internet_errors.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(RetryPolicy, RetriesOnlyFailuresALaterAttemptMayNotMeet) {
    for (const std::uint32_t code :
         {ERROR_INTERNET_TIMEOUT, ERROR_INTERNET_NAME_NOT_RESOLVED, ERROR_INTERNET_CANNOT_CONNECT,
          ERROR_INTERNET_CONNECTION_ABORTED, ERROR_INTERNET_CONNECTION_RESET, ERROR_HTTP_INVALID_SERVER_RESPONSE}) {
        EXPECT_TRUE(IsRetriedTransportError(code)) << code;
    }
    // A stop by the player above all; then what another attempt would meet again.
    for (const std::uint32_t code :
         {ERROR_INTERNET_OPERATION_CANCELLED, ERROR_INTERNET_INVALID_CA, ERROR_INTERNET_SECURITY_CHANNEL_ERROR,
          ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED, ERROR_INTERNET_UNRECOGNIZED_SCHEME, ERROR_HTTP_REDIRECT_FAILED,
          ERROR_INTERNET_INTERNAL_ERROR, static_cast<std::uint32_t>(ENOSPC), 0u}) {
        EXPECT_FALSE(IsRetriedTransportError(code)) << code;
    }
    for (const std::uint32_t status : {408u, 429u, 500u, 502u, 503u, 504u}) {
        EXPECT_TRUE(IsRetriedStatus(status)) << status;
    }
    for (const std::uint32_t status : {200u, 206u, 400u, 401u, 403u, 404u, 407u, 410u, 416u, 501u, 505u, 599u}) {
        EXPECT_FALSE(IsRetriedStatus(status)) << status;
    }
}

TEST(RetryPolicy, PauseDoublesOrFollowsTheServerWithinItsCaps) {
    // Wed, 21 Oct 2015 07:28:00 GMT
    const auto now = std::chrono::system_clock::from_time_t(1445412480);
    struct Case {
        unsigned retry;
        std::string retryAfter;
        long long seconds;
    } const cases[] = {
        {1, "", 1},
        {2, "", 2},
        {3, "", 4},
        {5, "", 16},
        {6, "", 30},
        {7, "", 30},
        {4000000000u, "", 30},
        {1, "2", 2},
        {5, "0", 0},
        {1, "60", 60},
        {1, "61", 60},
        {1, "000000000007", 7},
        {1, "99999999999999999999999", 60},
        {1, " 5 ", 5},
        {1, "Wed, 21 Oct 2015 07:28:10 GMT", 10},
        {1, "Wednesday, 21-Oct-15 07:28:30 GMT", 30},
        {1, "Wed Oct 21 07:28:45 2015", 45},
        {1, "Wed, 21 Oct 2015 07:27:00 GMT", 0},
        {1, "Thu, 01 Jan 1970 00:00:00 GMT", 0},
        {1, "Wed, 21 Oct 2015 08:28:00 GMT", 60},
        // Not a Retry-After value: the own schedule holds.
        {3, "soon", 4},
        {3, "-5", 4},
        {3, "1.5", 4},
        {3, "   ", 4},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RetryPause(c.retry, c.retryAfter, now).count(), c.seconds)
            << "retry " << c.retry << " after [" << c.retryAfter << "]";
    }
}

} // namespace
