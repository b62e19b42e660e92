#include "base/user_folders.h"
#include "launcher_fixture.h"
#include "support/silent_listener.h"

#include <chrono>
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

const std::string kSizeUnknown = "다운로드 할 파일의 크기를 알 수 없습니다.";

class LauncherSurveyTest : public LauncherTest {
protected:
    std::size_t HeadRequests() const {
        std::size_t n = 0;
        for (const auto& r : served.server().Requests()) {
            n += r.method == "HEAD" ? 1 : 0;
        }
        return n;
    }
    // Waits for the view to end and checks it ended on the unknown size.
    void ExpectEndedOnUnknownSize() {
        ASSERT_TRUE(view.WaitUntil([&] { return view.endResult.has_value(); }));
        EXPECT_EQ(*view.endResult, IDCANCEL);
        ASSERT_EQ(view.messages.size(), 1u);
        EXPECT_EQ(view.messages[0].text, kSizeUnknown);
        EXPECT_EQ(view.messages[0].title, "오류");
        EXPECT_EQ(view.messages[0].icon, MessageIcon::Error);
        EXPECT_EQ(Buttons(), kNone);
    }
    std::size_t HeadsOf(const std::string& target) const { return CountRequests("HEAD", target); }
    // The survey's scratch files left in the private temporary folder.
    static std::vector<std::string> ScratchFilesLeft() {
        std::string temp;
        std::vector<std::string> left;
        if (!PrivateTempFolder(temp)) {
            ADD_FAILURE() << "no private temporary folder";
            return left;
        }
        DIR* folder = ::opendir(temp.c_str());
        while (dirent* item = folder != nullptr ? ::readdir(folder) : nullptr) {
            if (std::string(item->d_name).starts_with("dummy")) {
                left.emplace_back(item->d_name);
            }
        }
        if (folder != nullptr) {
            ::closedir(folder);
        }
        return left;
    }
    // The example configuration's Base asks for `connections` size requests at once.
    static std::function<void(std::string&)> SurveyConnections(int connections) {
        return [connections](std::string& text) {
            text.replace(text.find("Retries=\"0\""), 11,
                         "Retries=\"0\" SurveyConnections=\"" + std::to_string(connections) + "\"");
        };
    }
};

TEST_F(LauncherSurveyTest, ListWithoutRowsSurveysEveryFile) {
    served.Write("a.pak", PatternBytes(1500));
    served.Write("b.pak", PatternBytes(2500));
    Open(Configuration(File("a.pak") + File("b.pak"), [](std::string& t) {
        const std::size_t begin = t.find("<Listboxes>");
        t.erase(begin, t.find("</Listboxes>") + 12 - begin);
    }));
    EXPECT_EQ(HeadRequests(), 2u);
    EXPECT_EQ(Label(ST_TOTAL_COUNT), "2");
    EXPECT_EQ(Label(ST_TOTAL_SIZE), "3.9 KB");
    EXPECT_EQ(Label(ST_FILE_SIZE), "0 Bytes");
    EXPECT_EQ(config.files[1]->size.load(), 2500u);
    EXPECT_TRUE(
        log.Contains("[DEBUG][COstrelDlg::GetTotalFilesSize][553] URL [" + served.Url("/b.pak") + "] size: [2500]"));
    EXPECT_TRUE(log.Contains("[INFO][COstrelDlg::GetTotalFilesSize][560] Total size of contents: [4000]"));
}

TEST_F(LauncherSurveyTest, UntickedRowsAndEmptyFilesAddNothing) {
    served.Write("a.pak", PatternBytes(1500));
    Open(Configuration(File("a.pak"), [](std::string& t) { t.replace(t.find("Checked=\"1\""), 11, "Checked=\"0\""); }));
    EXPECT_EQ(HeadRequests(), 0u);
    EXPECT_EQ(Label(ST_TOTAL_SIZE), "0 Bytes");
    EXPECT_EQ(Label(ST_TOTAL_COUNT), "0");

    served.Write("empty.pak", "");
    Open(Configuration(File("empty.pak") + File("a.pak")));
    EXPECT_EQ(config.files[0]->size.load(), 0u);
    EXPECT_EQ(Label(ST_TOTAL_SIZE), "1.5 KB");
    EXPECT_EQ(Label(ST_TOTAL_COUNT), "2");
}

TEST_F(LauncherSurveyTest, StartShowsItsStateUntilTheSizesAreKnown) {
    served.Write("a.pak", PatternBytes(700));
    CLauncher& l = Make(Configuration(File("a.pak?delay_ms=400")));
    view.OnViewThread([&] { l.Start(); });
    EXPECT_EQ(Buttons(), kStarting);
    EXPECT_EQ(Label(ST_TRANS_STATE), "파일 크기 확인 중...");
    EXPECT_EQ(Label(ST_TOTAL_SIZE), "");
    ASSERT_TRUE(view.WaitUntil([&] { return view.buttons == kReady; }));
    EXPECT_EQ(Label(ST_TRANS_STATE), "다운로드 대기 중...");
    EXPECT_EQ(Label(ST_DOWNLOAD_PATH), DownloadFolder());
}

TEST_F(LauncherSurveyTest, DownloadPressedDuringTheStartSurveyRunsOnceTheSizesAreKnown) {
    served.Write("a.pak", PatternBytes(700));
    CLauncher& l = Make(Configuration(File("a.pak?delay_ms=400")));
    view.OnViewThread([&] {
        l.Start();
        EXPECT_FALSE(l.OnBnClickedBtnDownload()); // not yet: no size is known
        EXPECT_FALSE(l.OnBnClickedBtnDownload()); // a second press asks for nothing more
    });
    ASSERT_TRUE(view.WaitUntil([&] { return !view.outcomes.empty(); }));
    EXPECT_EQ(view.outcomes, std::vector<RunOutcome>{RunOutcome::Complete});
    EXPECT_EQ(ReadWholeFile(DownloadFolder() + "/a.pak?delay_ms=400"), PatternBytes(700));
    EXPECT_EQ(HeadRequests(), 1u);
}

TEST_F(LauncherSurveyTest, SecondAttemptSucceeds) {
    options.surveyRetryPauseMs = 400;
    CLauncher& l = Make(Configuration(File("late.pak")));
    // The file appears during the pause after the first attempt.
    std::thread publisher([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        served.Write("late.pak", PatternBytes(700));
    });
    const bool ready = l.Prepare();
    publisher.join();
    ASSERT_TRUE(ready);
    EXPECT_EQ(HeadRequests(), 2u);
    EXPECT_TRUE(log.Contains("Failed to get total files size, retry."));
    EXPECT_FALSE(log.Contains("Failed to get total files size, 2nd retry."));
    EXPECT_TRUE(log.Contains("[INFO][COstrelDlg::InitTotalInfo][1135] Sucessfully get total files size."));
    EXPECT_EQ(Label(ST_TOTAL_SIZE), "700 Bytes");
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(Buttons(), kReady);
}

TEST_F(LauncherSurveyTest, ATemporaryFolderTakenByAnotherUserDoesNotStopTheSurvey) {
    const std::string taken = home.File("ostrel-" + std::to_string(::getuid()));
    ASSERT_EQ(::mkdir(taken.c_str(), 0777), 0);
    ASSERT_EQ(::chown(taken.c_str(), 65534, 65534), 0);
    served.Write("a.pak", PatternBytes(700));
    Open(Configuration(File("a.pak")));
    EXPECT_EQ(Label(ST_TOTAL_SIZE), "700 Bytes");
    EXPECT_TRUE(view.messages.empty());
    EXPECT_NE(log.Text().find("[" + taken + "] is not a folder of this user's own; using ["), std::string::npos);
}

TEST_F(LauncherSurveyTest, SizeWithoutContentLengthEndsTheViewAfterThreeAttempts) {
    served.Write("a.pak", PatternBytes(700));
    CLauncher& l = Make(Configuration(File("a.pak?no_length=1&amp;ignore_range=1")));
    view.OnViewThread([&] { l.Start(); });
    ExpectEndedOnUnknownSize();
    EXPECT_EQ(HeadRequests(), 3u);
    EXPECT_TRUE(log.Contains("Failed to get total files size, 2nd retry."));
    EXPECT_TRUE(log.Contains("[ERROR][COstrelDlg::InitTotalInfo][1122] Failed to get total files size."));
    EXPECT_TRUE(log.Contains("[ERROR][COstrelDlg::GetContentSize][506] Failed to get content size of Server IP "
                             "[127.0.0.1]."));
}

TEST_F(LauncherSurveyTest, CheckBoxSurveyOfASilentServerEndsWithinTheStallTime) {
    const ScopedStallTimeout stall(std::chrono::milliseconds(300));
    SilentListener silent;
    served.Write("a.pak", PatternBytes(10));
    CLauncher& l = Open(Configuration(File("a.pak") + "<File Url=\"" + silent.Url("/b.pak") + "\"/>",
                                      [](std::string& t) { t.replace(t.find("Checked=\"1\""), 11, "Checked=\"0\""); }));
    const auto started = Clock::now();
    view.OnViewThread([&] {
        l.OnRowChecked(1, true);
        l.RequestSurvey();
    });
    EXPECT_EQ(Buttons(), kNone); // nothing may start while the sizes are asked for
    ExpectEndedOnUnknownSize();
    // Three attempts of at most the stall time and a second each, with their pauses.
    EXPECT_LT(Clock::now() - started, 3 * std::chrono::milliseconds(1300) + std::chrono::milliseconds(200));
    EXPECT_EQ(log.CountStartingWith("CHttpDownloader::_Download, Failed in call to HttpSendRequest, Error:12002"), 3);
}

TEST_F(LauncherSurveyTest, SurveyDuringARunKeepsStopAndEndsWithTheRunning) {
    served.Write("a.pak", PatternBytes(300000));
    served.Write("b.pak", PatternBytes(100));
    // One at a time: the walk reaches the second file only after the clicks; with several transfers it may
    // pass it at the instant the row is unticked.
    CLauncher& l = Open(Configuration(File("a.pak?rate=300000") + File("b.pak?delay_ms=300"), Connections(1)));
    view.OnViewThread([&] { l.OnBnClickedBtnDownload(); });
    ASSERT_TRUE(view.WaitUntil([&] { return view.rowStates[0] == "전송중"; }));
    view.OnViewThread([&] {
        l.OnRowChecked(1, false);
        l.RequestSurvey();
        l.OnRowChecked(1, true);
        l.RequestSurvey(); // clicked again while the sizes are being asked for
    });
    EXPECT_EQ(Buttons(), kRunning);
    ASSERT_TRUE(view.WaitUntil([&] { return !view.outcomes.empty(); }));
    EXPECT_EQ(Buttons(), kCompleted);
    EXPECT_EQ(l.stats.totalSize.load(), 300100u);
}

TEST_F(LauncherSurveyTest, ShutdownBreaksAStalledSurveyAtOnce) {
    SilentListener silent;
    CLauncher& l = Make(Configuration("<File Url=\"" + silent.Url("/a.pak") + "\"/>"));
    view.OnViewThread([&] { l.Start(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // into the wait for the answer
    const auto started = Clock::now();
    view.Shut();
    launcher.reset();
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(1));
    EXPECT_FALSE(view.endResult); // a shutdown tells nobody
}

TEST_F(LauncherSurveyTest, SizesAskedSideBySideAddUpWhateverOrderTheyArriveIn) {
    // Late answers first: they arrive after the quick ones behind them.
    std::string files;
    std::uint64_t expected = 0;
    for (int i = 0; i < 12; ++i) {
        const std::string name = "f" + std::to_string(i) + ".pak";
        served.Write(name, PatternBytes(100 + i));
        expected += 100 + i;
        files += File(name + (i < 6 ? "?delay_ms=400" : i % 2 == 0 ? "?head_no_length=1" : ""));
    }
    const auto started = Clock::now();
    CLauncher& l = Open(Configuration(files));
    // One after another, the six late answers alone would take 2.4 s.
    EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(2000));
    EXPECT_EQ(l.stats.totalSize.load(), expected);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(config.files[i]->size.load(), 100u + i) << i;
    }
    EXPECT_TRUE(log.Contains("[INFO][COstrelDlg::GetTotalFilesSize][560] Total size of contents: [" +
                             std::to_string(expected) + "]"));
    EXPECT_TRUE(log.Contains("[DEBUG][COstrelDlg::GetTotalFilesSize][553] URL [" + served.Url("/f0.pak?delay_ms=400") +
                             "] size: [100]"));
    EXPECT_EQ(ScratchFilesLeft(), std::vector<std::string>{});
    // Kept-alive connections carry the requests: fewer of them than files (a length probe may cost its own).
    EXPECT_LT(served.server().ConnectionCount(), 12u);
}

TEST_F(LauncherSurveyTest, EveryFailingFileUnderWayIsAskedThreeTimesAndNoScratchFileStays) {
    struct Case {
        int connections;
        std::size_t headsOfSecondFailure; // one connection asks as ever: nothing after the first failure
    };
    for (const Case c : {Case{1, 0}, Case{0, 0}, Case{8, 3}}) { // 0 counts as 1
        SCOPED_TRACE(c.connections);
        served.Write("a.pak", PatternBytes(700));
        served.server().ClearRequests();
        view.Reopen();
        view.surveyFailures.clear();
        CLauncher& l =
            Make(Configuration(File("a.pak?status=500&amp;delay_ms=200") + File("a.pak?status=404&amp;delay_ms=200") +
                                   File("a.pak?n=3") + File("a.pak?head_no_length=1"),
                               SurveyConnections(c.connections)));
        view.OnViewThread([&] { l.Start(); });
        ExpectEndedOnUnknownSize();
        EXPECT_EQ(HeadsOf("/a.pak?status=500&delay_ms=200"), 3u);
        EXPECT_EQ(HeadsOf("/a.pak?status=404&delay_ms=200"), c.headsOfSecondFailure);
        // The player hears of the first file in order whose size stayed unknown, whichever failed first.
        view.OnViewThread([&] {
            ASSERT_EQ(view.surveyFailures.size(), 1u);
            EXPECT_EQ(view.surveyFailures[0].first, served.Url("/a.pak?status=500&delay_ms=200"));
        });
        EXPECT_EQ(ScratchFilesLeft(), std::vector<std::string>{});
    }
}

TEST_F(LauncherSurveyTest, CloseBreaksEveryHangingRequestWithinASecond) {
    SilentListener silent;
    std::string files;
    for (int i = 0; i < 6; ++i) {
        files += "<File Url=\"" + silent.Url("/" + std::to_string(i) + ".pak") + "\"/>";
    }
    CLauncher& l = Make(Configuration(files));
    view.OnViewThread([&] { l.Start(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // every request waits for its answer
    const auto started = Clock::now();
    view.OnViewThread([&] { l.OnBnClickedBtnClose(); });
    view.Shut();
    launcher.reset();
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(1));
    EXPECT_EQ(view.messages.size(), 0u); // a close tells nobody of sizes
    EXPECT_EQ(ScratchFilesLeft(), std::vector<std::string>{});
}

} // namespace
