#include "launcher_fixture.h"

#include <chrono>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace {

class LauncherChoicesTest : public LauncherTest {
protected:
    // A new start of the program: a fresh launcher on the same machine.
    CLauncher& Restart(const std::string& configuration) {
        view.Shut();
        launcher.reset();
        view.Reopen();
        return Open(configuration);
    }
    std::string SettingsText() const { return ReadWholeFile(home.File("config") + "/Harnlow/launcher.conf"); }
};

TEST_F(LauncherChoicesTest, TheChosenFolderIsKeptAndTheNextStartContinuesThere) {
    served.Write("big.pak", PatternBytes(600000));
    const std::string configuration = Configuration(File("big.pak?rate=300000"));
    CLauncher& first = Open(configuration);
    const std::string chosen = home.File("second disk");
    ::mkdir(chosen.c_str(), 0755);
    view.folderAnswers = {chosen};
    view.OnViewThread([&] { ASSERT_TRUE(first.OnBnClickedBtnFolder()); });
    EXPECT_EQ(SettingsText(), ""); // kept only once a run starts with it
    view.OnViewThread([&] { ASSERT_TRUE(first.OnBnClickedBtnDownload()); });
    const std::string part = chosen + "/big.pak?rate=300000";
    ASSERT_TRUE(view.WaitUntil([&] { return ReadWholeFile(part).size() > 0; }));
    view.OnViewThread([&] { first.OnBnClickedBtnStop(); });
    ASSERT_TRUE(view.WaitUntil([&] { return !view.outcomes.empty(); }));
    const std::size_t kept = ReadWholeFile(part).size();
    EXPECT_NE(SettingsText().find("AmbrelLauncher.DownloadFolder=" + chosen), std::string::npos) << SettingsText();

    CLauncher& second = Restart(configuration);
    EXPECT_EQ(second.downloadFolder, chosen);
    EXPECT_EQ(Label(ST_DOWNLOAD_PATH), chosen);
    EXPECT_NE(log.Text().find("Loaded saved download path [" + chosen + "]."), std::string::npos);
    view.overwriteFallback = 1; // continue
    served.server().ClearRequests();
    ASSERT_TRUE(Run());
    EXPECT_EQ(Ranges("/big.pak?rate=300000"), std::vector<std::string>{"bytes=" + std::to_string(kept) + "-"});
    EXPECT_EQ(ReadWholeFile(part), PatternBytes(600000));
}

TEST_F(LauncherChoicesTest, AGoneFolderOrADamagedFileMeansTheDefault) {
    const std::string configuration = Configuration("");
    const std::string settings = home.File("config") + "/Harnlow/launcher.conf";
    ::mkdir(home.File("config").c_str(), 0755);
    ::mkdir((home.File("config") + "/Harnlow").c_str(), 0755);
    struct Case {
        const char* what;
        std::string text;
        int ignoredLines;
    } const cases[] = {
        {"a folder that was removed", "AmbrelLauncher.DownloadFolder=" + home.File("removed") + "\n", 0},
        {"a damaged file", "AmbrelLauncher.DownloadFolder\n\x01%zz\n", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteWholeFile(settings, c.text);
        LogCapture fresh;
        CLauncher& l = Restart(configuration);
        EXPECT_EQ(l.downloadFolder, DownloadFolder());
        EXPECT_TRUE(fresh.Contains("[INFO][COstrelDlg::SetDownloadPath][43] Failed to load saved download path."));
        EXPECT_EQ(fresh.CountStartingWith("[INFO][SettingsFile::LoadEntries]"), c.ignoredLines);
        EXPECT_TRUE(view.messages.empty());
    }
}

TEST_F(LauncherChoicesTest, TheChosenSpeedLimitIsKeptAndWinsOverTheConfiguration) {
    const std::string configuration = Configuration("", [](std::string& t) {
        t.replace(t.find("Retries=\"0\""), 11, "Retries=\"0\" MaxBytesPerSecond=\"3145728\"");
    });
    CLauncher& first = Open(configuration);
    EXPECT_EQ(first.SpeedLimit(), 3145728u);
    view.OnViewThread([&] { first.ChooseSpeedLimit(1048576); });
    EXPECT_NE(SettingsText().find("AmbrelLauncher.SpeedLimit=1048576"), std::string::npos);
    EXPECT_EQ(Restart(configuration).SpeedLimit(), 1048576u);
    view.OnViewThread([&] { launcher->ChooseSpeedLimit(0); }); // no limit is a choice as well
    EXPECT_EQ(Restart(configuration).SpeedLimit(), 0u);
}

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
