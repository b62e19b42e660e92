#include "ui/controls/color_static.h"
#include "ui/controls/zel_button.h"
#include "window_fixture.h"
#include "launcher/format_text.h"

#include <QTreeWidget>
#include <chrono>
#include <deque>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

std::vector<std::string> RowStates(const COstrelDlg& dlg) {
    std::vector<std::string> states;
    for (int row = 0; row < dlg.fileList->topLevelItemCount(); ++row) {
        states.push_back(dlg.fileList->topLevelItem(row)->text(1).toStdString());
    }
    return states;
}

std::vector<std::string> Titles(const MessageRecorder& recorder) {
    std::vector<std::string> titles;
    for (const auto& seen : recorder.Seen()) {
        titles.push_back(seen.text);
    }
    return titles;
}

class DownloadRunTest : public WindowTest {
protected:
    COstrelDlg& Open(const std::string& files) {
        COstrelDlg& dlg = OpenWindow(Configuration(files));
        dlg.reportHost = "127.0.0.1:" + std::to_string(served.server().port());
        dlg.overwriteQuestion = [this]() -> std::optional<int> {
            ++questions;
            if (!answers.empty()) {
                const std::optional<int> next = answers.front();
                answers.pop_front();
                return next;
            }
            return answer;
        };
        return dlg;
    }

    // Starts a run and waits for its end.
    void Run(COstrelDlg& dlg) {
        dlg.OnBnClickedBtnDownload();
        ASSERT_EQ(dlg.downloadFinished, 0);
        ASSERT_TRUE(PumpUntil([&] { return dlg.downloadFinished == 1; })) << "the run did not end";
    }

    std::string Local(const std::string& name) const { return DownloadFolder() + "/" + name; }
    void WriteLocal(const std::string& name, const std::string& content) const {
        ::mkdir((home.path() + "/Documents").c_str(), 0755);
        ::mkdir(DownloadFolder().c_str(), 0755);
        WriteWholeFile(Local(name), content);
    }
    std::size_t CountRequests(const std::string& method, const std::string& target) const {
        std::size_t n = 0;
        for (const auto& r : served.server().Requests()) {
            n += r.method == method && r.target == target ? 1 : 0;
        }
        return n;
    }

    std::optional<int> answer = 1;
    std::deque<std::optional<int>> answers; // taken before `answer`, one per question
    int questions = 0;
};

TEST_F(DownloadRunTest, FreshRunDownloadsReportsAndStartsTheInstaller) {
    const std::string installer = "#!/bin/sh\necho installed > installed.txt\n";
    const std::string data = PatternBytes(300000);
    served.Write("setup.sh", installer);
    served.Write("data.pak", data);
    COstrelDlg& dlg = Open(File("setup.sh", R"(autoexecute="true" waitexecute="true")") + File("data.pak"));
    Run(dlg);
    EXPECT_EQ(ReadWholeFile(Local("setup.sh")), installer);
    EXPECT_EQ(ReadWholeFile(Local("data.pak")), data);
    EXPECT_EQ(RowStates(dlg), (std::vector<std::string>{"완료", "완료"}));
    EXPECT_TRUE(dlg.buttons[CT_EXECUTION]->isEnabled());
    EXPECT_FALSE(dlg.buttons[CT_DOWNLOAD]->isEnabled());
    EXPECT_EQ(dlg.sectionLabels[ST_TRANS_STATE]->GetWindowText(), "다운로드 완료");
    EXPECT_EQ(dlg.sectionLabels[ST_TOTAL_DOWNLOAD_RATE]->GetWindowText(), "100%");
    EXPECT_EQ(dlg.sectionLabels[ST_RECV_COUNT]->GetWindowText(), "2");
    EXPECT_EQ(ReadWholeFile(Local("installed.txt")), "installed\n"); // waited for, in its folder
    EXPECT_EQ(CountRequests("GET", "/launcher/tirrareport.sb?status=end"), 1u);
    for (const auto& r : served.server().Requests()) {
        if (r.target == "/launcher/tirrareport.sb?status=end") {
            EXPECT_EQ(r.Header("User-Agent"), "TirraLauncher20120615");
        }
    }
    EXPECT_TRUE(messages.Seen().empty());
    EXPECT_EQ(questions, 0);
    EXPECT_FALSE(dlg.IsEnded()); // no autoclose
    EXPECT_TRUE(log.Contains("[COstrelDlg::_DownloadThread][699] Successfully downloaded file [" +
                             served.Url("/data.pak") + "]"));
}

TEST_F(DownloadRunTest, PartialFilesContinueAndCompleteOnesAreSkipped) {
    const std::string a = PatternBytes(100000);
    const std::string b = PatternBytes(70000);
    served.Write("a.pak", a);
    served.Write("b.pak", b);
    WriteLocal("a.pak", a.substr(0, 40000));
    WriteLocal("b.pak", b);
    answer = 1; // continue, for all files
    COstrelDlg& dlg = Open(File("a.pak") + File("b.pak"));
    served.server().ClearRequests();
    Run(dlg);
    EXPECT_EQ(questions, 1);
    EXPECT_EQ(ReadWholeFile(Local("a.pak")), a);
    EXPECT_EQ(RowStates(dlg), (std::vector<std::string>{"완료", "건너뜀"}));
    std::vector<std::string> ranges;
    for (const auto& r : served.server().Requests()) {
        if (r.method == "GET" && r.target == "/a.pak") {
            ranges.push_back(r.Header("Range"));
        }
    }
    EXPECT_EQ(ranges, (std::vector<std::string>{"bytes=40000-"}));
    EXPECT_EQ(CountRequests("GET", "/b.pak"), 0u);
    EXPECT_TRUE(log.Contains("[INFO][COstrelDlg::_DownloadThread][663] Resuming download: from [40000]"));
}

TEST_F(DownloadRunTest, OverwriteForAllFilesIsAskedOnceAcrossRuns) {
    const std::string a = PatternBytes(5000);
    served.Write("a.pak", a);
    served.Write("b.pak", a);
    WriteLocal("a.pak", std::string(9000, 'x'));
    WriteLocal("b.pak", std::string(10, 'y'));
    answer = 3;
    COstrelDlg& dlg = Open(File("a.pak") + File("b.pak"));
    Run(dlg);
    EXPECT_EQ(ReadWholeFile(Local("a.pak")), a);
    EXPECT_EQ(ReadWholeFile(Local("b.pak")), a);
    EXPECT_EQ(questions, 1);
    EXPECT_EQ(dlg.overwriteChoice.load(), 3);
}

TEST_F(DownloadRunTest, DismissedQuestionContinuesWithoutRemembering) {
    const std::string a = PatternBytes(8000);
    served.Write("a.pak", a);
    WriteLocal("a.pak", a.substr(0, 3000));
    answer = std::nullopt;
    COstrelDlg& dlg = Open(File("a.pak"));
    served.server().ClearRequests();
    Run(dlg);
    EXPECT_EQ(ReadWholeFile(Local("a.pak")), a);
    ASSERT_EQ(CountRequests("GET", "/a.pak"), 1u);
    EXPECT_EQ(served.server().Requests().front().Header("Range"), "bytes=3000-");
    EXPECT_EQ(dlg.overwriteChoice.load(), 8);
}

TEST_F(DownloadRunTest, DismissedQuestionAfterAnOverwriteContinuesTheNextFile) {
    const std::string a = PatternBytes(8000);
    served.Write("a.pak", a);
    served.Write("b.pak", a);
    WriteLocal("a.pak", std::string(3000, 'x'));
    WriteLocal("b.pak", a.substr(0, 3000));
    answers = {2, std::nullopt}; // overwrite a.pak only, then close the question for b.pak
    COstrelDlg& dlg = Open(File("a.pak") + File("b.pak"));
    served.server().ClearRequests();
    Run(dlg);
    EXPECT_EQ(questions, 2);
    EXPECT_EQ(ReadWholeFile(Local("a.pak")), a);
    EXPECT_EQ(ReadWholeFile(Local("b.pak")), a);
    std::vector<std::string> ranges;
    for (const auto& r : served.server().Requests()) {
        if (r.method == "GET" && r.target.ends_with(".pak")) {
            ranges.push_back(r.target + " " + r.Header("Range"));
        }
    }
    EXPECT_EQ(ranges, (std::vector<std::string>{"/a.pak ", "/b.pak bytes=3000-"}));
    EXPECT_EQ(dlg.overwriteChoice.load(), 2); // the dismissal stored nothing
}

TEST_F(DownloadRunTest, LocalFileLargerThanTheServersIsFetchedAgain) {
    const std::string a = PatternBytes(5000);
    served.Write("a.pak", a);
    WriteLocal("a.pak", std::string(9000, 'x'));
    answer = 1; // continue, for all files
    COstrelDlg& dlg = Open(File("a.pak"));
    served.server().ClearRequests();
    Run(dlg);
    EXPECT_EQ(ReadWholeFile(Local("a.pak")), a);
    EXPECT_EQ(RowStates(dlg), (std::vector<std::string>{"완료"}));
    ASSERT_EQ(CountRequests("GET", "/a.pak"), 1u);
    EXPECT_EQ(served.server().Requests().front().Header("Range"), "");
    EXPECT_NE(log.Text().find("is larger than the server's [9000 > 5000]; downloading it again from the start."),
              std::string::npos);
    EXPECT_TRUE(messages.Seen().empty()); // the size check passes

    Run(dlg); // now complete: skipped
    EXPECT_EQ(RowStates(dlg), (std::vector<std::string>{"건너뜀"}));
}

TEST_F(DownloadRunTest, StopBetweenTwoFilesLeavesTheNextFileAlone) {
    served.Write("one.pak", PatternBytes(1000));
    served.Write("two.pak", PatternBytes(5000));
    WriteLocal("two.pak", "the player's bytes");
    COstrelDlg& dlg = Open(File("one.pak") + File("two.pak"));
    // The player stops while the question for the second file is open, then answers "overwrite".
    dlg.overwriteQuestion = [&]() -> std::optional<int> {
        messages.SetAnswer(IDYES);
        dlg.OnBnClickedBtnStop();
        return 2;
    };
    Run(dlg);
    EXPECT_EQ(ReadWholeFile(Local("two.pak")), "the player's bytes");
    EXPECT_EQ(RowStates(dlg), (std::vector<std::string>{"완료", "실패"}));
    EXPECT_EQ(CountRequests("GET", "/two.pak"), 0u);
}

TEST_F(DownloadRunTest, FreeSpaceEqualToTheTotalIsEnoughToStart) {
    served.Write("a.pak", PatternBytes(4000));
    COstrelDlg& dlg = Open(File("a.pak"));
    ASSERT_EQ(dlg.stats.totalSize.load(), 4000u);
    std::uint64_t free = 3999;
    dlg.freeDiskBytes = [&](const std::string&) { return free; };
    dlg.OnBnClickedBtnDownload();
    EXPECT_EQ(dlg.downloadFinished, 1); // one byte short: no run
    EXPECT_EQ(Titles(messages), (std::vector<std::string>{
                                    "선택한 드라이브에 충분한 용량이 없습니다.\n다른 드라이브를 선택해 주십시오."}));
    EXPECT_TRUE(dlg.buttons[CT_DOWNLOAD]->isEnabled());

    free = 4000;
    Run(dlg);
    EXPECT_EQ(ReadWholeFile(Local("a.pak")), PatternBytes(4000));
}

TEST_F(DownloadRunTest, UntickingADoneFileDuringARunLeavesItOutOfTheTotals) {
    served.Write("a.pak", PatternBytes(1000));
    served.Write("b.pak", PatternBytes(300000));
    COstrelDlg& dlg = Open(File("a.pak") + File("b.pak?rate=300000"));
    dlg.OnBnClickedBtnDownload();
    ASSERT_TRUE(PumpUntil([&] { return RowStates(dlg)[1] == "전송중"; }));
    // What a click on the first row's check box does.
    dlg.fileList->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    ASSERT_EQ(dlg.InitTotalInfo(), 1);
    EXPECT_EQ(dlg.stats.totalSize.load(), 300000u);
    ASSERT_TRUE(PumpUntil([&] { return dlg.downloadFinished == 1; }));
    EXPECT_EQ(dlg.sectionLabels[ST_TOTAL_RECV_SIZE]->GetWindowText(), FormatSize(300000)); // b.pak alone
    EXPECT_EQ(dlg.sectionLabels[ST_TOTAL_DOWNLOAD_RATE]->GetWindowText(), "100%");
}

TEST_F(DownloadRunTest, EndReportThatFailsStillStartsTheInstaller) {
    served.Write("setup.sh", "#!/bin/sh\ntouch started\n");
    COstrelDlg& dlg = Open(File("setup.sh", R"(autoexecute="true" waitexecute="true")"));
    int closedPort = 0;
    {
        ServedFolder gone;
        closedPort = gone.server().port();
    }
    dlg.reportHost = "127.0.0.1:" + std::to_string(closedPort);
    Run(dlg);
    EXPECT_TRUE(FileExists(Local("started")));
    EXPECT_TRUE(messages.Seen().empty());
}

TEST_F(DownloadRunTest, FailedFileShowsTheIncompleteMessageAndStartsNothing) {
    served.Write("setup.sh", "#!/bin/sh\ntouch started\n");
    served.Write("gone.pak", PatternBytes(100));
    COstrelDlg& dlg = Open(File("setup.sh", R"(autoexecute="true" autoclose="true")") + File("gone.pak"));
    // The file disappears between the survey and the run.
    std::remove(served.folder().File("gone.pak").c_str());
    Run(dlg);
    EXPECT_EQ(RowStates(dlg), (std::vector<std::string>{"완료", "실패"}));
    EXPECT_EQ(Titles(messages), (std::vector<std::string>{
                                    "일부 파일을 완전히 다운로드 하지 못했습니다.\n다운로드를 다시 실행해 주십시오."}));
    EXPECT_EQ(CountRequests("GET", "/launcher/tirrareport.sb?status=end"), 0u);
    EXPECT_FALSE(FileExists(Local("started")));
    EXPECT_FALSE(FileExists(Local("gone.pak")) && !ReadWholeFile(Local("gone.pak")).empty());
    EXPECT_FALSE(dlg.IsEnded());
    EXPECT_TRUE(
        log.Contains("[COstrelDlg::_DownloadThread][692] Failed to download file [" + served.Url("/gone.pak") + "]"));
}

TEST_F(DownloadRunTest, UrlWithoutAFileNameFailsAndWritesNothing) {
    served.Write("a.pak", PatternBytes(1000));
    // Rows start unticked, so the start survey asks nothing; ticking without a click surveys nothing.
    COstrelDlg& dlg = OpenWindow(Configuration(File("dir/") + File("..") + File("a.pak"), [](std::string& t) {
        t.replace(t.find("Checked=\"1\""), 11, "Checked=\"0\"");
    }));
    for (int row = 0; row < dlg.fileList->topLevelItemCount(); ++row) {
        dlg.fileList->topLevelItem(row)->setCheckState(0, Qt::Checked);
    }
    Run(dlg);
    EXPECT_EQ(RowStates(dlg), (std::vector<std::string>{"실패", "실패", "완료"}));
    EXPECT_EQ(ReadWholeFile(Local("a.pak")), PatternBytes(1000));
    EXPECT_FALSE(FileExists(home.path() + "/Documents/a.pak"));
    EXPECT_EQ(CountRequests("GET", "/dir/"), 0u);
}

TEST_F(DownloadRunTest, ConnectionResetKeepsThePartForTheNextRun) {
    const std::string data = PatternBytes(100000);
    served.Write("a.pak", data);
    COstrelDlg& dlg = Open(File("a.pak?reset_after=30000"));
    Run(dlg);
    EXPECT_EQ(RowStates(dlg), (std::vector<std::string>{"실패"}));
    EXPECT_EQ(ReadWholeFile(Local("a.pak?reset_after=30000")), data.substr(0, 30000));

    answer = 0; // continue
    served.server().ClearRequests();
    Run(dlg);
    ASSERT_EQ(CountRequests("GET", "/a.pak?reset_after=30000"), 1u);
    EXPECT_EQ(served.server().Requests().front().Header("Range"), "bytes=30000-");
    EXPECT_EQ(ReadWholeFile(Local("a.pak?reset_after=30000")), data.substr(0, 60000));
}

TEST_F(DownloadRunTest, StopDuringTheSecondOfThreeFiles) {
    served.Write("one.pak", PatternBytes(1000));
    served.Write("two.pak", PatternBytes(600000));
    served.Write("three.pak", PatternBytes(1000));
    COstrelDlg& dlg = Open(File("one.pak") + File("two.pak?rate=300000") + File("three.pak"));
    dlg.OnBnClickedBtnDownload();
    EXPECT_FALSE(dlg.buttons[CT_DOWNLOAD]->isEnabled());
    EXPECT_TRUE(dlg.buttons[CT_STOP]->isEnabled());
    ASSERT_TRUE(PumpUntil([&] { return ReadWholeFile(Local("two.pak?rate=300000")).size() > 0; }));
    messages.SetAnswer(IDYES);
    dlg.OnBnClickedBtnStop();
    // Stopping: nothing changes until the worker ends the run.
    EXPECT_FALSE(dlg.buttons[CT_DOWNLOAD]->isEnabled());
    EXPECT_TRUE(dlg.buttons[CT_STOP]->isEnabled());
    ASSERT_TRUE(PumpUntil([&] { return dlg.downloadFinished == 1; }));
    const auto states = RowStates(dlg);
    EXPECT_EQ(states[0], "완료");
    EXPECT_EQ(states[1], "실패");
    const std::size_t part = ReadWholeFile(Local("two.pak?rate=300000")).size();
    EXPECT_GT(part, 0u);
    EXPECT_LT(part, 600000u);
    EXPECT_TRUE(log.Contains("[COstrelDlg::_DownloadThread][692] Failed to download file [" +
                             served.Url("/two.pak?rate=300000") + "]"));
    EXPECT_EQ(states[2], "대기중");
    EXPECT_EQ(Titles(messages), (std::vector<std::string>{"다운로드를 중지하겠습니까?", "다운로드를 중지했습니다."}));
    EXPECT_TRUE(dlg.buttons[CT_DOWNLOAD]->isEnabled());
    EXPECT_FALSE(dlg.buttons[CT_STOP]->isEnabled());
    EXPECT_FALSE(dlg.buttons[CT_EXECUTION]->isEnabled());
    EXPECT_TRUE(dlg.buttons[CT_FOLDER]->isEnabled());
    EXPECT_EQ(dlg.sectionLabels[ST_TRANS_STATE]->GetWindowText(), "다운로드 중지");
    EXPECT_EQ(dlg.abortFlag.load(), 0);

    // A new run starts from the stopped one and continues the partial file.
    answer = 0;
    served.server().ClearRequests();
    Run(dlg);
    for (const auto& r : served.server().Requests()) {
        if (r.method == "GET" && r.target == "/two.pak?rate=300000") {
            EXPECT_EQ(r.Header("Range"), "bytes=" + std::to_string(part) + "-");
        }
    }
    EXPECT_EQ(RowStates(dlg), (std::vector<std::string>{"건너뜀", "완료", "완료"}));
    EXPECT_EQ(ReadWholeFile(Local("two.pak?rate=300000")), PatternBytes(600000));
}

TEST_F(DownloadRunTest, StopAnsweredAfterTheRunEndedChangesNothing) {
    served.Write("a.pak", PatternBytes(1000));
    COstrelDlg& dlg = Open(File("a.pak"));
    dlg.OnBnClickedBtnDownload();
    // The run ends while the question is open: the question's own loop handles the end of the run.
    SetMessageBoxHandler([&](const MessageBoxRequest&) {
        PumpUntil([&] { return dlg.downloadFinished == 1; });
        return IDYES;
    });
    dlg.OnBnClickedBtnStop();
    SetMessageBoxHandler([](const MessageBoxRequest&) { return IDOK; });
    EXPECT_EQ(dlg.abortFlag.load(), 0);
    EXPECT_TRUE(dlg.buttons[CT_EXECUTION]->isEnabled()); // Completed, not Stopped
}

TEST_F(DownloadRunTest, CloseDuringATransferEndsAtOnce) {
    served.Write("slow.pak", PatternBytes(100000));
    COstrelDlg& dlg = Open(File("slow.pak?stall_ms=60000"));
    dlg.OnBnClickedBtnDownload();
    ASSERT_TRUE(PumpUntil([&] { return RowStates(dlg)[0] == "전송중"; }));
    messages.SetAnswer(IDNO);
    dlg.OnBnClickedBtnClose();
    EXPECT_FALSE(dlg.IsEnded()); // answered No: the run goes on
    messages.SetAnswer(IDYES);
    const auto start = std::chrono::steady_clock::now();
    dlg.OnBnClickedBtnClose();
    EXPECT_TRUE(dlg.IsEnded());
    EXPECT_EQ(dlg.EndResult(), 1);
    window.reset(); // waits for the worker
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(1));
}

TEST_F(DownloadRunTest, CloseRequestDuringARunStopsIt) {
    served.Write("slow.pak", PatternBytes(100000));
    COstrelDlg& dlg = Open(File("slow.pak?stall_ms=60000"));
    dlg.OnBnClickedBtnDownload();
    ASSERT_TRUE(PumpUntil([&] { return RowStates(dlg)[0] == "전송중"; }));
    EXPECT_FALSE(dlg.close()); // the window stays
    ASSERT_TRUE(PumpUntil([&] { return dlg.downloadFinished == 1; }));
    EXPECT_FALSE(dlg.IsEnded());
    EXPECT_EQ(Titles(messages), (std::vector<std::string>{"다운로드를 중지했습니다."}));
    EXPECT_TRUE(dlg.buttons[CT_DOWNLOAD]->isEnabled());
}

TEST_F(DownloadRunTest, AutoCloseEndsTheWindowAfterACompleteRun) {
    served.Write("a.pak", PatternBytes(1000));
    COstrelDlg& dlg = Open(File("a.pak", R"(autoclose="true")"));
    Run(dlg);
    ASSERT_TRUE(PumpUntil([&] { return dlg.IsEnded(); }));
    EXPECT_EQ(dlg.EndResult(), 2);
}

} // namespace
