#include "launcher_fixture.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

class LauncherChoicesTest : public LauncherTest {};

TEST_F(LauncherChoicesTest, TheSpeedLabelShowsTheLimitedRate) {
    served.Write("big.pak", PatternBytes(3 * 1048576));
    CLauncher& l = Open(Configuration(File("big.pak"), [](std::string& t) {
        t.replace(t.find("Retries=\"0\""), 11, "Retries=\"0\" MaxBytesPerSecond=\"307200\"");
    }));
    EXPECT_EQ(l.SpeedLimit(), 307200u); // the configuration's default
    view.OnViewThread([&] { ASSERT_TRUE(l.OnBnClickedBtnDownload()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(2600));
    // 300 KiB/s is 307 bytes a millisecond, which the label reads as KB/s.
    const std::string speed = Label(ST_SPEED);
    view.OnViewThread([&] { l.OnBnClickedBtnStop(); });
    ASSERT_TRUE(view.WaitUntil([&] { return !view.outcomes.empty(); }));
    const int shown = std::atoi(speed.c_str());
    EXPECT_GE(shown, 290) << speed;
    EXPECT_LE(shown, 320) << speed;
    EXPECT_NE(speed.find("KB/초"), std::string::npos) << speed;
}

} // namespace
