#include "launcher/format_text.h"
#include "launcher_fixture.h"

#include <deque>
#include <gtest/gtest.h>

namespace {

using Outcomes = std::vector<RunOutcome>;
using Texts = std::vector<std::string>;

const std::string kStoppedMessage = "다운로드를 중지했습니다.";
const std::string kIncomplete = "일부 파일을 완전히 다운로드 하지 못했습니다.\n다운로드를 다시 실행해 주십시오.";
const std::string kNoSpace = "선택한 드라이브에 충분한 용량이 없습니다.\n다른 드라이브를 선택해 주십시오.";

class LauncherRunTest : public LauncherTest {};

TEST_F(LauncherRunTest, FreshRunDownloadsReportsAndStartsTheInstaller) {
    const std::string installer = "#!/bin/sh\necho installed > installed.txt\n";
    const std::string data = PatternBytes(300000);
    served.Write("setup.sh", installer);
    served.Write("data.pak", data);
    Open(Configuration(
        File("setup.sh", R"(autoexecute="true" waitexecute="true" Sha256=")" + HexDigest(installer) + "\"") +
        File("data.pak")));
    ASSERT_TRUE(Run());
    EXPECT_EQ(ReadWholeFile(Local("setup.sh")), installer);
    EXPECT_EQ(ReadWholeFile(Local("data.pak")), data);
    EXPECT_EQ(RowStates(), (Texts{"완료", "완료"}));
    EXPECT_EQ(Buttons(), kCompleted);
    EXPECT_EQ(Label(ST_TRANS_STATE), "다운로드 완료");
    EXPECT_EQ(Label(ST_TOTAL_DOWNLOAD_RATE), "100%");
    EXPECT_EQ(Label(ST_RECV_COUNT), "2");
    EXPECT_EQ(view.bars[CT_TOTAL_DOWNLOAD_RATE], 100);
    EXPECT_EQ(ReadWholeFile(Local("installed.txt")), "installed\n"); // waited for, in its folder
    EXPECT_EQ(CountRequests("GET", "/launcher/tirrareport.sb?status=end"), 1u);
    for (const auto& r : served.server().Requests()) {
        if (r.target == "/launcher/tirrareport.sb?status=end") {
            EXPECT_EQ(r.Header("User-Agent"), "TirraLauncher20120615");
        }
    }
    EXPECT_TRUE(view.messages.empty());
    EXPECT_TRUE(view.questionsAsked.empty());
    EXPECT_EQ(view.outcomes, Outcomes{RunOutcome::Complete});
    EXPECT_FALSE(view.endResult); // no autoclose
    EXPECT_TRUE(log.Contains("[COstrelDlg::_DownloadThread][699] Successfully downloaded file [" +
                             served.Url("/data.pak") + "]"));
    EXPECT_TRUE(log.Contains("[INFO][COstrelDlg::ExecuteDownloadedFiles][352] Process [" + Local("setup.sh") +
                             "] terminated."));
}

TEST_F(LauncherRunTest, PartialFilesContinueAndCompleteOnesAreSkipped) {
    const std::string a = PatternBytes(100000);
    const std::string b = PatternBytes(70000);
    served.Write("a.pak", a);
    served.Write("b.pak", b);
    WriteLocal("a.pak", a.substr(0, 40000));
    WriteLocal("b.pak", b);
    view.overwriteFallback = 1; // continue, for all files
    Open(Configuration(File("a.pak") + File("b.pak")));
    served.server().ClearRequests();
    ASSERT_TRUE(Run());
    EXPECT_EQ(view.questionsAsked, Texts{Local("a.pak")});
    EXPECT_EQ(ReadWholeFile(Local("a.pak")), a);
    EXPECT_EQ(RowStates(), (Texts{"완료", "건너뜀"}));
    EXPECT_EQ(Ranges("/a.pak"), Texts{"bytes=40000-"});
    EXPECT_EQ(CountRequests("GET", "/b.pak"), 0u);
    EXPECT_TRUE(log.Contains("[INFO][COstrelDlg::_DownloadThread][663] Resuming download: from [40000]"));
}

TEST_F(LauncherRunTest, OverwriteAnswers) {
    // Overwrite for all files is asked once, across runs.
    const std::string a = PatternBytes(5000);
    served.Write("a.pak", a);
    served.Write("b.pak", a);
    WriteLocal("a.pak", std::string(9000, 'x'));
    WriteLocal("b.pak", std::string(10, 'y'));
    view.overwriteFallback = 3;
    CLauncher& l = Open(Configuration(File("a.pak") + File("b.pak")));
    ASSERT_TRUE(Run());
    EXPECT_EQ(ReadWholeFile(Local("a.pak")), a);
    EXPECT_EQ(ReadWholeFile(Local("b.pak")), a);
    ASSERT_TRUE(Run());
    EXPECT_EQ(view.questionsAsked.size(), 1u);
    EXPECT_EQ(l.overwriteChoice.load(), 3);
}

TEST_F(LauncherRunTest, DismissedQuestionContinuesWhateverWasAnsweredBefore) {
    const std::string a = PatternBytes(8000);
    served.Write("a.pak", a);
    served.Write("b.pak", a);
    served.Write("c.pak", a);
    WriteLocal("a.pak", a.substr(0, 1000));
    WriteLocal("b.pak", std::string(3000, 'x'));
    WriteLocal("c.pak", a.substr(0, 3000));
    // Dismissed with nothing chosen yet, then overwrite this file only, then dismissed again.
    view.overwriteAnswers = {std::nullopt, 2, std::nullopt};
    CLauncher& l = Open(Configuration(File("a.pak") + File("b.pak") + File("c.pak")));
    served.server().ClearRequests();
    ASSERT_TRUE(Run());
    EXPECT_EQ(view.questionsAsked.size(), 3u);
    for (const char* name : {"a.pak", "b.pak", "c.pak"}) {
        EXPECT_EQ(ReadWholeFile(Local(name)), a) << name;
    }
    EXPECT_EQ(Ranges("/a.pak"), Texts{"bytes=1000-"});
    EXPECT_EQ(Ranges("/b.pak"), Texts{""});
    EXPECT_EQ(Ranges("/c.pak"), Texts{"bytes=3000-"});
    EXPECT_EQ(l.overwriteChoice.load(), 2); // the dismissals stored nothing
}

TEST_F(LauncherRunTest, LocalFileLargerThanTheServersIsFetchedAgain) {
    const std::string a = PatternBytes(5000);
    served.Write("a.pak", a);
    WriteLocal("a.pak", std::string(9000, 'x'));
    view.overwriteFallback = 1; // continue, for all files
    Open(Configuration(File("a.pak")));
    served.server().ClearRequests();
    ASSERT_TRUE(Run());
    EXPECT_EQ(ReadWholeFile(Local("a.pak")), a);
    EXPECT_EQ(RowStates(), Texts{"완료"});
    EXPECT_EQ(Ranges("/a.pak"), Texts{""});
    EXPECT_NE(log.Text().find("is larger than the server's [9000 > 5000]; downloading it again from the start."),
              std::string::npos);
    EXPECT_EQ(view.outcomes, Outcomes{RunOutcome::Complete});

    ASSERT_TRUE(Run()); // now complete: skipped
    EXPECT_EQ(RowStates(), Texts{"건너뜀"});
}

TEST_F(LauncherRunTest, StopBetweenTwoFilesLeavesTheNextFileAlone) {
    served.Write("one.pak", PatternBytes(1000));
    served.Write("two.pak", PatternBytes(5000));
    WriteLocal("two.pak", "the player's bytes");
    // One at a time: the first file is over before the second one's question.
    CLauncher& l = Open(Configuration(File("one.pak") + File("two.pak"), Connections(1)));
    // The player stops while the question for the second file is open, then answers "overwrite".
    view.overwriteAnswers = {2};
    view.duringQuestion = [&] { l.OnBnClickedBtnStop(); };
    ASSERT_TRUE(Run());
    EXPECT_EQ(ReadWholeFile(Local("two.pak")), "the player's bytes");
    EXPECT_EQ(RowStates(), (Texts{"완료", "실패"}));
    EXPECT_EQ(CountRequests("GET", "/two.pak"), 0u);
    EXPECT_EQ(view.outcomes, Outcomes{RunOutcome::Stopped});
}

TEST_F(LauncherRunTest, StopDuringTheSecondOfThreeFilesThenContinue) {
    served.Write("one.pak", PatternBytes(1000));
    served.Write("two.pak", PatternBytes(600000));
    served.Write("three.pak", PatternBytes(1000));
    // One at a time: the third file waits for the second.
    CLauncher& l =
        Open(Configuration(File("one.pak") + File("two.pak?rate=300000") + File("three.pak"), Connections(1)));
    view.OnViewThread([&] { ASSERT_TRUE(l.OnBnClickedBtnDownload()); });
    EXPECT_EQ(Buttons(), kRunning);
    ASSERT_TRUE(view.WaitUntil([&] { return ReadWholeFile(Local("two.pak?rate=300000")).size() > 0; }));
    // Stopping: nothing changes until the worker ends the run, which it may do at once; so the buttons are
    // read before the view thread can take the worker's end.
    ButtonStates whileStopping;
    view.OnViewThread([&] {
        l.OnBnClickedBtnStop();
        whileStopping = view.buttons;
    });
    EXPECT_EQ(whileStopping, kRunning);
    ASSERT_TRUE(view.WaitUntil([&] { return !view.outcomes.empty(); }));
    const auto states = RowStates();
    EXPECT_EQ(states, (Texts{"완료", "실패", "대기중"}));
    const std::size_t part = ReadWholeFile(Local("two.pak?rate=300000")).size();
    EXPECT_GT(part, 0u);
    EXPECT_LT(part, 600000u);
    EXPECT_TRUE(log.Contains("[COstrelDlg::_DownloadThread][692] Failed to download file [" +
                             served.Url("/two.pak?rate=300000") + "]"));
    EXPECT_EQ(view.MessageTexts(), (Texts{"다운로드를 중지하겠습니까?", kStoppedMessage}));
    EXPECT_EQ(Buttons(), kStopped);
    EXPECT_EQ(Label(ST_TRANS_STATE), "다운로드 중지");
    EXPECT_EQ(l.downloader().abortFlag.load(), 0);
    EXPECT_EQ(view.outcomes, Outcomes{RunOutcome::Stopped});

    // A new run continues the partial file.
    view.overwriteFallback = 0;
    served.server().ClearRequests();
    ASSERT_TRUE(Run());
    EXPECT_EQ(RowStates(), (Texts{"건너뜀", "완료", "완료"}));
    EXPECT_EQ(Ranges("/two.pak?rate=300000"), Texts{"bytes=" + std::to_string(part) + "-"});
    EXPECT_EQ(ReadWholeFile(Local("two.pak?rate=300000")), PatternBytes(600000));
}

TEST_F(LauncherRunTest, CloseRequestDuringARunStopsItWithoutAsking) {
    served.Write("slow.pak", PatternBytes(100000));
    CLauncher& l = Open(Configuration(File("slow.pak?stall_ms=60000")));
    view.OnViewThread([&] { l.OnBnClickedBtnDownload(); });
    ASSERT_TRUE(view.WaitUntil([&] { return view.rowStates[0] == "전송중"; }));
    view.OnViewThread([&] { l.OnClose(); });
    ASSERT_TRUE(view.WaitUntil([&] { return !view.outcomes.empty(); }));
    EXPECT_FALSE(view.endResult);
    EXPECT_EQ(view.MessageTexts(), Texts{kStoppedMessage});
    EXPECT_EQ(Buttons(), kStopped);
}

TEST_F(LauncherRunTest, FreeSpaceEqualToTheTotalIsEnoughToStart) {
    served.Write("a.pak", PatternBytes(4000));
    CLauncher& l = Open(Configuration(File("a.pak")));
    ASSERT_EQ(l.stats.totalSize.load(), 4000u);
    std::uint64_t free = 3999;
    l.freeDiskBytes = [&](const std::string&) { return free; };
    EXPECT_FALSE(Run()); // one byte short: no run
    EXPECT_EQ(view.MessageTexts(), Texts{kNoSpace});
    EXPECT_EQ(view.messages[0].title, "경고");
    EXPECT_EQ(Buttons(), kReady);

    free = 4000;
    ASSERT_TRUE(Run());
    EXPECT_EQ(ReadWholeFile(Local("a.pak")), PatternBytes(4000));
}

TEST_F(LauncherRunTest, UntickingADoneFileDuringARunLeavesItOutOfTheTotals) {
    served.Write("a.pak", PatternBytes(1000));
    served.Write("b.pak", PatternBytes(300000));
    CLauncher& l = Open(Configuration(File("a.pak") + File("b.pak?rate=300000")));
    view.OnViewThread([&] { l.OnBnClickedBtnDownload(); });
    ASSERT_TRUE(view.WaitUntil([&] { return view.rowStates[1] == "전송중"; }));
    // A click on the first row's check box.
    view.OnViewThread([&] {
        l.OnRowChecked(0, false);
        l.RequestSurvey();
    });
    ASSERT_TRUE(view.WaitUntil([&] { return !view.outcomes.empty(); }));
    EXPECT_EQ(l.stats.totalSize.load(), 300000u);
    EXPECT_EQ(Label(ST_TOTAL_RECV_SIZE), FormatSize(300000)); // b.pak alone
    EXPECT_EQ(Label(ST_TOTAL_DOWNLOAD_RATE), "100%");
}

TEST_F(LauncherRunTest, FailedFileShowsTheIncompleteMessageAndStartsNothing) {
    served.Write("setup.sh", "#!/bin/sh\ntouch started\n");
    served.Write("gone.pak", PatternBytes(100));
    Open(Configuration(File("setup.sh", R"(autoexecute="true" autoclose="true")") + File("gone.pak")));
    // The file disappears between the survey and the run.
    std::remove(served.folder().File("gone.pak").c_str());
    ASSERT_TRUE(Run());
    EXPECT_EQ(RowStates(), (Texts{"완료", "실패"}));
    EXPECT_EQ(view.MessageTexts(), Texts{kIncomplete});
    EXPECT_EQ(CountRequests("GET", "/launcher/tirrareport.sb?status=end"), 0u);
    EXPECT_FALSE(FileExists(Local("started")));
    EXPECT_FALSE(FileExists(Local("gone.pak")) && !ReadWholeFile(Local("gone.pak")).empty());
    EXPECT_FALSE(view.endResult);
    EXPECT_EQ(view.outcomes, Outcomes{RunOutcome::Incomplete});
    EXPECT_EQ(Buttons(), (ButtonStates{false, true, false, true})); // run again; nothing to start
    EXPECT_TRUE(
        log.Contains("[COstrelDlg::_DownloadThread][692] Failed to download file [" + served.Url("/gone.pak") + "]"));
}

TEST_F(LauncherRunTest, EndReportThatFailsStillStartsTheInstaller) {
    const std::string installer = "#!/bin/sh\ntouch started\n";
    served.Write("setup.sh", installer);
    int closedPort = 0;
    {
        ServedFolder gone;
        closedPort = gone.server().port();
    }
    options.reportHost = "127.0.0.1:" + std::to_string(closedPort);
    Open(Configuration(
        File("setup.sh", R"(autoexecute="true" waitexecute="true" Sha256=")" + HexDigest(installer) + "\"")));
    ASSERT_TRUE(Run());
    EXPECT_TRUE(FileExists(Local("started")));
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(view.outcomes, Outcomes{RunOutcome::Complete});
}

TEST_F(LauncherRunTest, UrlWithoutAFileNameFailsAndWritesNothing) {
    served.Write("a.pak", PatternBytes(1000));
    // Rows start unticked, so the start survey asks nothing; ticking without a click surveys nothing. The
    // good file's size is asked for first: a file must arrive with its size.
    CLauncher& l = Open(Configuration(File("dir/") + File("..") + File("a.pak"),
                                      [](std::string& t) { t.replace(t.find("Checked=\"1\""), 11, "Checked=\"0\""); }));
    view.OnViewThread([&] {
        l.OnRowChecked(2, true);
        l.RequestSurvey();
    });
    ASSERT_TRUE(view.WaitUntil([&] { return view.buttons == kReady; }));
    ASSERT_EQ(config.files[2]->size.load(), 1000u);
    view.OnViewThread([&] {
        for (std::size_t row = 0; row < 2; ++row) {
            l.OnRowChecked(row, true);
        }
    });
    ASSERT_TRUE(Run());
    EXPECT_EQ(RowStates(), (Texts{"실패", "실패", "완료"}));
    EXPECT_EQ(ReadWholeFile(Local("a.pak")), PatternBytes(1000));
    EXPECT_FALSE(FileExists(home.path() + "/Documents/a.pak"));
    EXPECT_EQ(CountRequests("GET", "/dir/"), 0u);
}

TEST_F(LauncherRunTest, ConnectionResetKeepsThePartForTheNextRun) {
    const std::string data = PatternBytes(100000);
    served.Write("a.pak", data);
    Open(Configuration(File("a.pak?reset_after=30000")));
    ASSERT_TRUE(Run());
    EXPECT_EQ(RowStates(), Texts{"실패"});
    EXPECT_EQ(ReadWholeFile(Local("a.pak?reset_after=30000")), data.substr(0, 30000));

    view.overwriteFallback = 0; // continue
    served.server().ClearRequests();
    ASSERT_TRUE(Run());
    EXPECT_EQ(Ranges("/a.pak?reset_after=30000"), Texts{"bytes=30000-"});
    EXPECT_EQ(ReadWholeFile(Local("a.pak?reset_after=30000")), data.substr(0, 60000));
}

TEST_F(LauncherRunTest, AutoCloseEndsTheViewAfterACompleteRun) {
    served.Write("a.pak", PatternBytes(1000));
    Open(Configuration(File("a.pak", R"(autoclose="true")")));
    ASSERT_TRUE(Run());
    ASSERT_TRUE(view.WaitUntil([&] { return view.endResult.has_value(); }));
    EXPECT_EQ(*view.endResult, IDCANCEL);
}

} // namespace
