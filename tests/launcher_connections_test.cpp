#include "launcher_fixture.h"

#include "launcher/format_text.h"
#include "launcher/progress_statistics.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace {

using Outcomes = std::vector<RunOutcome>;
using Texts = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

class LauncherConnectionsTest : public MirroredLauncherTest {
protected:
    std::size_t RowsIn(const std::string& state) {
        std::size_t n = 0;
        for (const std::string& s : RowStates()) {
            n += s == state ? 1 : 0;
        }
        return n;
    }
};

TEST_F(LauncherConnectionsTest, SmallFilesAreNotHeldBehindABigOne) {
    const std::string big = PatternBytes(600000);
    served.Write("big.pak", big);
    const Texts small = {"a.pak", "b.pak", "c.pak"};
    std::string files = File("big.pak?rate=200000");
    for (std::size_t i = 0; i < small.size(); ++i) {
        served.Write(small[i], PatternBytes(3000 + i));
        files += File(small[i]);
    }
    CLauncher& l = Open(Configuration(files, Connections(4)));
    view.OnViewThread([&] { ASSERT_TRUE(l.OnBnClickedBtnDownload()); });
    ASSERT_TRUE(view.WaitUntil(
        [&] { return view.rowStates[1] == "완료" && view.rowStates[2] == "완료" && view.rowStates[3] == "완료"; }));
    // The big file is still in flight, and the file fields stay with it.
    EXPECT_EQ(RowStates()[0], "전송중");
    EXPECT_EQ(Label(ST_FILE_NAME), "big.pak?rate=200000");
    ASSERT_TRUE(view.WaitUntil([&] { return !view.outcomes.empty(); }));
    EXPECT_EQ(view.outcomes, Outcomes{RunOutcome::Complete});
    EXPECT_EQ(RowStates(), (Texts{"완료", "완료", "완료", "완료"}));
    EXPECT_TRUE(ReadWholeFile(Local("big.pak?rate=200000")) == big);
    for (std::size_t i = 0; i < small.size(); ++i) {
        EXPECT_EQ(ReadWholeFile(Local(small[i])), PatternBytes(3000 + i)) << small[i];
    }
    EXPECT_EQ(Label(ST_TOTAL_RECV_SIZE), Label(ST_TOTAL_SIZE));
}

TEST_F(LauncherConnectionsTest, TheFileFieldsTellOfOneFileWhenTheyMoveToAnother) {
    // Each file ends part-way at its own point; the fields move on as each ends.
    std::string files;
    for (const char* name : {"a.pak", "b.pak", "c.pak", "d.pak"}) {
        served.Write(name, PatternBytes(400000));
    }
    files = File("a.pak?rate=40000") + File("b.pak?rate=20000") + File("c.pak?rate=10000") + File("d.pak?rate=20000");
    CLauncher& l = Open(Configuration(files, Connections(3)));
    view.OnViewThread([&] { ASSERT_TRUE(l.OnBnClickedBtnDownload()); });
    ASSERT_TRUE(view.WaitUntil([&] { return RowsIn("전송중") == 3; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    view.OnViewThread([&] { l.OnBnClickedBtnStop(); });
    ASSERT_TRUE(view.WaitUntil([&] { return !view.outcomes.empty(); }));

    const std::string shown = Label(ST_FILE_NAME);
    std::error_code error;
    const auto onDisk = std::filesystem::file_size(Local(shown), error);
    const std::uint64_t received = error ? 0 : static_cast<std::uint64_t>(onDisk);
    EXPECT_EQ(Label(ST_FILE_SIZE), FormatSize(400000)) << shown;
    EXPECT_EQ(Label(ST_FILE_RECV_SIZE), FormatSize(received)) << shown;
    EXPECT_EQ(Label(ST_FILE_DOWNLOAD_RATE), std::to_string(PercentOf(received, 400000)) + "%") << shown;
}

TEST_F(LauncherConnectionsTest, TwoFilesOfOneNameAreNotWrittenAtOnce) {
    const std::string data = PatternBytes(200000);
    served.Write("same.pak", data);
    mirror.Write("same.pak", data);
    Open(Configuration(File("same.pak?rate=200000") + "<File Url=\"" + mirror.Url("/same.pak?rate=200000") + "\"/>",
                       Connections(4)));
    ASSERT_TRUE(Run());
    // The second found the first one's file whole.
    EXPECT_EQ(RowStates(), (Texts{"완료", "건너뜀"}));
    EXPECT_TRUE(Gets(mirror, "/same.pak?rate=200000").empty());
    EXPECT_TRUE(ReadWholeFile(Local("same.pak?rate=200000")) == data);
}

TEST_F(LauncherConnectionsTest, StopEndsEveryTransferAtOnceAndStartsNothing) {
    std::string files;
    for (const char* name : {"a.pak", "b.pak", "c.pak", "d.pak", "e.pak"}) {
        served.Write(name, PatternBytes(400000));
        files += File(std::string(name) + "?rate=20000");
    }
    CLauncher& l = Open(Configuration(files, Connections(3)));
    view.OnViewThread([&] { ASSERT_TRUE(l.OnBnClickedBtnDownload()); });
    ASSERT_TRUE(view.WaitUntil([&] { return RowsIn("전송중") == 3; }));
    const Clock::time_point stop = Clock::now();
    view.OnViewThread([&] { l.OnBnClickedBtnStop(); });
    ASSERT_TRUE(view.WaitUntil([&] { return !view.outcomes.empty(); }));
    EXPECT_LT(Clock::now() - stop, std::chrono::seconds(1));
    EXPECT_EQ(view.outcomes, Outcomes{RunOutcome::Stopped});
    EXPECT_EQ(RowStates(), (Texts{"실패", "실패", "실패", "대기중", "대기중"}));
    EXPECT_EQ(CountRequests("GET", "/d.pak?rate=20000") + CountRequests("GET", "/e.pak?rate=20000"), 0u);
    EXPECT_EQ(l.downloader().abortFlag.load(), 0);
}

TEST_F(LauncherConnectionsTest, TheOverwriteQuestionsComeInListOrderWhileEarlierFilesTransfer) {
    served.Write("slow.pak", PatternBytes(300000));
    const Texts names = {"a.pak", "b.pak", "c.pak"};
    std::string files = File("slow.pak?rate=100000");
    for (const std::string& name : names) {
        served.Write(name, PatternBytes(5000));
        WriteLocal(name, PatternBytes(2000));
        files += File(name);
    }
    Open(Configuration(files, Connections(4)));
    // Continue, overwrite, continue: each file once, in list order.
    view.overwriteAnswers = {0, 2, 0};
    std::vector<std::pair<std::string, std::size_t>> whileAsked; // the slow file's state, GETs of the asked file
    view.duringQuestion = [&] {
        const std::string& asked = view.questionsAsked.back();
        const std::string name = asked.substr(asked.rfind('/') + 1);
        whileAsked.emplace_back(view.rowStates[0], CountRequests("GET", "/" + name));
    };
    ASSERT_TRUE(Run());
    EXPECT_EQ(view.questionsAsked, (Texts{Local("a.pak"), Local("b.pak"), Local("c.pak")}));
    ASSERT_EQ(whileAsked.size(), 3u);
    for (const auto& [slowState, gets] : whileAsked) {
        EXPECT_EQ(slowState, "전송중"); // the question does not wait for the slow file
        EXPECT_EQ(gets, 0u);            // and its own file does not start before the answer
    }
    EXPECT_EQ(Ranges("/a.pak"), Texts{"bytes=2000-"});
    EXPECT_EQ(Ranges("/b.pak"), Texts{""});
    EXPECT_EQ(Ranges("/c.pak"), Texts{"bytes=2000-"});
    for (const std::string& name : names) {
        EXPECT_EQ(ReadWholeFile(Local(name)), PatternBytes(5000)) << name;
    }
    EXPECT_EQ(view.outcomes, Outcomes{RunOutcome::Complete});
}

TEST_F(LauncherConnectionsTest, TheSpeedLimitHoldsTheSumOfAllTransfers) {
    constexpr std::size_t kSize = 60000;
    std::string files;
    for (const char* name : {"a.pak", "b.pak", "c.pak"}) {
        served.Write(name, PatternBytes(kSize));
        files += File(name);
    }
    CLauncher& l = Open(Configuration(files, Connections(3)));
    l.SetSpeedLimit(60000);
    bool together = false; // all three in flight at once
    view.onLabel = [&](int, const std::string&) {
        together = together ||
                   (view.rowStates[0] == "전송중" && view.rowStates[1] == "전송중" && view.rowStates[2] == "전송중");
    };
    const Clock::time_point start = Clock::now();
    ASSERT_TRUE(Run());
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    // Three files at the limit's full rate each would take a second; their sum under it takes three.
    EXPECT_GE(elapsed.count(), 2400) << "the transfers together went faster than the limit";
    view.OnViewThread([&] { EXPECT_TRUE(together); });
    EXPECT_EQ(RowStates(), (Texts{"완료", "완료", "완료"}));
    for (const char* name : {"a.pak", "b.pak", "c.pak"}) {
        EXPECT_EQ(ReadWholeFile(Local(name)), PatternBytes(kSize)) << name;
    }
}

TEST_F(LauncherConnectionsTest, TheRunGoesOnOverTheConnectionOfTheSurvey) {
    // Each new connection to a distant server costs its handshake's round trips before the first byte.
    std::string files;
    for (const char* name : {"a.pak", "b.pak", "c.pak"}) {
        served.Write(name, PatternBytes(5000));
        files += File(name);
    }
    Open(Configuration(files, [](std::string& t) {
        Connections(1)(t);
        t.replace(t.find("Retries=\""), 9, "SurveyConnections=\"1\" Retries=\"");
    }));
    ASSERT_TRUE(Run());
    EXPECT_EQ(RowStates(), (Texts{"완료", "완료", "완료"}));
    EXPECT_EQ(CountRequests("HEAD", "/b.pak"), 1u);
    EXPECT_EQ(CountRequests("GET", "/b.pak"), 1u);
    std::set<int> connections; // of the files' requests: the end report has its own
    for (const RecordedRequest& r : served.server().Requests()) {
        if (r.target.ends_with(".pak")) {
            connections.insert(r.remotePort);
        }
    }
    EXPECT_EQ(connections.size(), 1u);
}

TEST_F(LauncherConnectionsTest, AFailedFileAmongGoodOnesEndsWithTheRightRows) {
    const std::string data = PatternBytes(200000);
    for (const char* name : {"good.pak", "flaky.pak", "bad.pak", "moved.pak", "slow.pak"}) {
        served.Write(name, data);
    }
    mirror.Write("moved.pak", data);
    // flaky: one failure, mended by its retry; bad: cut on every attempt; moved: gone here, on the mirror.
    const std::string files = File("good.pak") + File("flaky.pak?fail_first=1") + File("bad.pak?reset_after=10000") +
                              WithMirror(served.Url("/moved.pak?status=404"), "moved.pak") +
                              File("slow.pak?rate=200000");
    Open(Configuration(files, [](std::string& t) {
        Retries(1)(t);
        Connections(4)(t);
    }));
    ASSERT_TRUE(Run());
    EXPECT_EQ(RowStates(), (Texts{"완료", "완료", "실패", "완료", "완료"}));
    EXPECT_EQ(CountRequests("GET", "/flaky.pak?fail_first=1"), 2u);
    EXPECT_EQ(CountRequests("GET", "/bad.pak?reset_after=10000"), 2u);
    EXPECT_EQ(Gets(mirror, "/moved.pak").size(), 1u);
    for (const char* name : {"good.pak", "flaky.pak?fail_first=1", "moved.pak?status=404", "slow.pak?rate=200000"}) {
        EXPECT_TRUE(ReadWholeFile(Local(name)) == data) << name;
    }
    view.OnViewThread([&] {
        ASSERT_EQ(view.failures.size(), 1u);
        EXPECT_EQ(view.failures[0].first, 2u);
    });
    EXPECT_EQ(view.outcomes, Outcomes{RunOutcome::Incomplete});
}

} // namespace
