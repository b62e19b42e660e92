#include "net/http_downloader.h"
#include "support/log_capture.h"
#include "support/recording_downloader.h"
#include "support/served_folder.h"
#include "support/silent_listener.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kStall{300};

// A reader that is away longer than the stall time after its first piece, as a window busy with a
// dialog would keep it.
class SlowReader : public RecordingDownloader {
public:
    void OnProgress(std::uint64_t transferred, std::uint32_t bytesRead, bool lengthKnown,
                    std::uint64_t expectedFileSize, void* context) override {
        RecordingDownloader::OnProgress(transferred, bytesRead, lengthKnown, expectedFileSize, context);
        if (progress.size() == 1) {
            std::this_thread::sleep_for(2 * kStall);
        }
    }
};

class StallTest : public ::testing::Test {
protected:
    StallTest() { served.Write("data.bin", PatternBytes(10000)); }

    ScopedStallTimeout stall{kStall};
    SilentListener silent;
    ServedFolder served;
    TempDir local;
    LogCapture log;
};

TEST_F(StallTest, SilentServersFailWithinTheStallTime) {
    struct Case {
        const char* name;
        std::string url;
        bool headOnly;
        std::string logLine;
        std::string fileAfter;
    };
    const std::string sendFailure = "CHttpDownloader::_Download, Failed in call to HttpSendRequest, Error:12002";
    const Case cases[] = {
        {"HeadNeverAnswered", silent.Url("/data.bin"), true, sendFailure, ""},
        {"GetNeverAnswered", silent.Url("/data.bin"), false, sendFailure, ""},
        {"BodyStopsMidway", served.Url("/data.bin?stall_after=4000&stall_ms=60000"), false,
         "CHttpDownloader::_Download, Failed in call to InternetReadFile, Error:12002", PatternBytes(4000)},
        // A byte now and then restarts the stall time, but not the time the headers may take.
        {"HeadersTrickle", served.Url("/data.bin?trickle_headers_ms=50"), false, sendFailure, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingDownloader downloader;
        downloader.url = c.url;
        downloader.localFileName = local.File(std::string(c.name) + ".bin");
        downloader.headOnly = c.headOnly ? 1 : 0;
        const auto started = Clock::now();
        EXPECT_FALSE(downloader.Download());
        const auto took = Clock::now() - started;
        EXPECT_GE(took, kStall);
        EXPECT_LT(took, kStall + std::chrono::seconds(1));
        EXPECT_TRUE(log.Contains(c.logLine)) << log.Text();
        EXPECT_EQ(DescribeTransferFailure(downloader.lastFailure()), "the server stopped answering");
        EXPECT_EQ(ReadWholeFile(downloader.localFileName), c.fileAfter); // what arrived stays
    }
}

TEST_F(StallTest, SteadyTrickleAndSlowReaderAreNoStall) {
    // 10 000 bytes at 5 000 bytes/s arrive in pieces 100 ms apart: two seconds, never silent for long.
    RecordingDownloader trickle;
    trickle.url = served.Url("/data.bin?rate=5000");
    trickle.localFileName = local.File("trickle.bin");
    EXPECT_TRUE(trickle.Download());
    EXPECT_EQ(ReadWholeFile(trickle.localFileName), PatternBytes(10000));

    // Time the reader spends away is not the server's silence: the server pauses 700 ms after 2 048
    // bytes, of which the reader, away for 600 ms after its first piece, waits only 100.
    SlowReader slow;
    slow.url = served.Url("/data.bin?stall_after=2048&stall_ms=700");
    slow.localFileName = local.File("slow.bin");
    EXPECT_TRUE(slow.Download());
    EXPECT_EQ(ReadWholeFile(slow.localFileName), PatternBytes(10000));
}

} // namespace
