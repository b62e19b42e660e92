#include "net/http_downloader.h"
#include "support/served_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <sys/stat.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double kMiB = 1048576.0;

std::uint64_t SizeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

class SpeedLimitTest : public ::testing::Test {
protected:
    // Starts fetching a file of `mib` MiB under `bytesPerSecond`; the transfer runs on its own thread.
    void Start(double mib, double bytesPerSecond) {
        served.Write("big.bin", PatternBytes(static_cast<std::size_t>(mib * kMiB)));
        downloader.url = served.Url("/big.bin");
        downloader.localFileName = local.File("big.bin");
        downloader.maxBytesPerMs = bytesPerSecond / 1000.0;
        transfer = std::async(std::launch::async, [this] { return downloader.Download(); });
        while (SizeOf(local.File("big.bin")) == 0) {
            std::this_thread::sleep_for(1ms);
        }
        started = Clock::now();
    }
    std::uint64_t SizeAfter(Clock::duration sinceStart) {
        std::this_thread::sleep_until(started + sinceStart);
        return SizeOf(local.File("big.bin"));
    }
    void Stop() {
        downloader.abortFlag.exchange(1);
        downloader.CloseHandles();
    }

    ServedFolder served;
    TempDir local;
    CHttpDownloader2 downloader;
    std::future<bool> transfer;
    Clock::time_point started;
};

// The arithmetic of the limit is rate_limit_test's; this pins that a real transfer keeps to it.
TEST_F(SpeedLimitTest, TwoSecondsAtTwoMegabytesMakeFourMegabytes) {
    Start(8, 2 * kMiB);
    const double received = static_cast<double>(SizeAfter(2s)) / kMiB;
    Stop();
    EXPECT_FALSE(transfer.get());
    EXPECT_GE(received, 3.6);
    EXPECT_LE(received, 4.4);
}

TEST_F(SpeedLimitTest, ANewLimitTakesEffectWithinASecondAndStopStaysImmediate) {
    Start(8, 200 * 1024);
    const std::uint64_t slow = SizeAfter(1s);
    downloader.maxBytesPerMs = 2 * kMiB / 1000.0;
    const std::uint64_t fast = SizeAfter(2s);
    EXPECT_GE(fast - slow, static_cast<std::uint64_t>(1.5 * kMiB)); // the second second ran at the new limit
    EXPECT_LE(fast - slow, static_cast<std::uint64_t>(2.2 * kMiB));

    downloader.maxBytesPerMs = 100 * 1024 / 1000.0;
    const std::uint64_t slowAgain = SizeAfter(3s);
    EXPECT_LE(slowAgain - fast, static_cast<std::uint64_t>(0.3 * kMiB)); // and no burst after lowering it

    const auto stopped = Clock::now();
    Stop();
    EXPECT_FALSE(transfer.get());
    EXPECT_LT(Clock::now() - stopped, 1s);
}

} // namespace
