#include "net/http_downloader.h"
#include "support/log_capture.h"
#include "support/recording_downloader.h"
#include "support/served_folder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <iostream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

class HttpDownloaderThreadsTest : public ::testing::Test {
protected:
    HttpDownloaderThreadsTest() {
        served.Write("data.bin", PatternBytes(100000));
        for (int i = 0; i < 5; ++i) {
            served.Write("small" + std::to_string(i), PatternBytes(100));
        }
    }

    // Waits until `condition` holds, at most a few seconds.
    static bool Eventually(const std::function<bool()>& condition) {
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (!condition()) {
            if (Clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    ServedFolder served;
    TempDir local;
};

// Knows when the answer's headers have arrived, so that the read that follows is the one that blocks.
class HeadersSeenDownloader : public RecordingDownloader {
public:
    std::atomic<bool> headersSeen{false};
    void OnContentLength(std::uint64_t length) override {
        CHttpDownloader2::OnContentLength(length);
        headersSeen = true;
    }
};

// Stops a transfer blocked on another thread the way the window does, and returns how long the
// transfer took to end after CloseHandles.
template <class Blocked> Clock::duration StopWhenBlocked(HeadersSeenDownloader& downloader, Blocked blocked) {
    auto transfer = std::async(std::launch::async, [&] { return downloader.Download(); });
    EXPECT_TRUE(blocked());
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // let it settle into the wait
    const auto closed = Clock::now();
    downloader.abortFlag.exchange(1);
    downloader.CloseHandles();
    EXPECT_FALSE(transfer.get());
    return Clock::now() - closed;
}

TEST_F(HttpDownloaderThreadsTest, CloseHandlesBreaksAStalledRead) {
    LogCapture log;
    HeadersSeenDownloader downloader;
    downloader.url = served.Url("/data.bin?stall_ms=20000");
    downloader.localFileName = local.File("stalled.bin");
    const auto took =
        StopWhenBlocked(downloader, [&] { return Eventually([&] { return downloader.headersSeen.load(); }); });
    const auto ms = std::chrono::duration<double, std::milli>(took).count();
    std::cout << "[ figure ] a stalled read ended " << ms << " ms after CloseHandles\n";
    EXPECT_LT(took, std::chrono::seconds(1));
    EXPECT_TRUE(log.Contains("CHttpDownloader::_Download, Failed in call to InternetReadFile, Error:12017"));
    EXPECT_TRUE(downloader.progress.empty());
}

TEST_F(HttpDownloaderThreadsTest, CloseHandlesBreaksASendWaitingForTheAnswer) {
    LogCapture log;
    HeadersSeenDownloader downloader;
    downloader.url = served.Url("/data.bin?delay_ms=20000");
    downloader.localFileName = local.File("delayed.bin");
    const auto took =
        StopWhenBlocked(downloader, [&] { return Eventually([&] { return !served.server().Requests().empty(); }); });
    const auto ms = std::chrono::duration<double, std::milli>(took).count();
    std::cout << "[ figure ] a waiting send ended " << ms << " ms after CloseHandles\n";
    EXPECT_LT(took, std::chrono::seconds(1));
    EXPECT_TRUE(log.Contains("CHttpDownloader::_Download, Failed in call to HttpSendRequest, Error:12017"));
    EXPECT_FALSE(downloader.headersSeen);
}

TEST_F(HttpDownloaderThreadsTest, OneObjectKeepsItsConnectionAcrossTransfers) {
    RecordingDownloader downloader;
    downloader.localFileName = local.File("reuse.bin");
    for (int i = 0; i < 5; ++i) {
        downloader.url = served.Url("/small" + std::to_string(i));
        downloader.headOnly = i % 2; // HEAD and GET alike
        ASSERT_TRUE(downloader.Download()) << i;
    }
    EXPECT_EQ(served.server().Requests().size(), 5u);
    EXPECT_EQ(served.server().ConnectionCount(), 1u);
}

TEST_F(HttpDownloaderThreadsTest, FreshObjectsReuseConnectionsOnlyWhenShared) {
    auto survey = [&](bool shared) {
        served.server().ClearRequests();
        for (int i = 0; i < 5; ++i) {
            CHttpDownloader2 downloader;
            downloader.UseSharedConnections(shared);
            downloader.url = served.Url("/small" + std::to_string(i));
            downloader.localFileName = local.File("dummy");
            downloader.headOnly = 1;
            EXPECT_TRUE(downloader.Download());
        }
        return served.server().ConnectionCount();
    };
    EXPECT_EQ(survey(false), 5u);
    EXPECT_EQ(survey(true), 1u);
}

TEST_F(HttpDownloaderThreadsTest, SharedConnectionsServeTwoThreadsAtOnce) {
    // The window's worker downloads while the window surveys sizes with fresh downloaders.
    std::atomic<int> failures{0};
    auto work = [&](const std::string& name, int headOnly) {
        for (int i = 0; i < 20; ++i) {
            CHttpDownloader2 downloader;
            downloader.UseSharedConnections(true);
            downloader.url = served.Url(headOnly ? "/small" + std::to_string(i % 5) : "/data.bin");
            downloader.localFileName = local.File(name);
            downloader.headOnly = headOnly;
            if (!downloader.Download()) {
                ++failures;
            }
        }
    };
    std::thread worker(work, "worker.bin", 0);
    std::thread survey(work, "survey.bin", 1);
    worker.join();
    survey.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(served.server().Requests().size(), 40u);
    EXPECT_LE(served.server().ConnectionCount(), 2u);
    EXPECT_EQ(ReadWholeFile(local.File("worker.bin")), PatternBytes(100000));
}

} // namespace
