#include "launcher/format_text.h"
#include "launcher_fixture.h"
#include "net/download_file.h"
#include "support/silent_listener.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace {

using Outcomes = std::vector<RunOutcome>;
using Texts = std::vector<std::string>;

const std::string kIncomplete = "일부 파일을 완전히 다운로드 하지 못했습니다.\n다운로드를 다시 실행해 주십시오.";
const std::string kIncompleteState = "다운로드 미완료";
const std::string kReportTarget = "/launcher/tirrareport.sb?status=end";
// After an incomplete run: run again or choose another folder, nothing to start.
constexpr ButtonStates kIncompleteButtons{false, true, false, true};
// A completion, a survey or an installer under way.
constexpr ButtonStates kBusy{false, false, false, false};

// Polls what no view change announces (files, log lines).
bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

class LauncherOutcomeTest : public LauncherTest {
protected:
    std::set<std::string> Entries(const std::string& folder) const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }
};

// A run in which files fail shows what arrived, says it is incomplete and lets the player run again.
TEST_F(LauncherOutcomeTest, AnIncompleteRunShowsWhatArrivedAndCanRunAgain) {
    struct Case {
        const char* what;
        int writeFault;        // every write fails with it
        const char* goneFile;  // removed from the server after the survey
        Texts rows;            // after the failed run
        std::uint64_t arrived; // bytes of a.pak (1000), b.pak (3000) and c.pak (6000) on disk
        const char* arrivedFiles;
        const char* lastFilePercent; // c.pak's
        Texts rowsAgain;             // after the second run, with the fault gone
    } const cases[] = {
        {"a full disk", ENOSPC, nullptr, {"실패", "실패", "실패"}, 0, "0", "0%", {"완료", "완료", "완료"}},
        {"a file gone from the server",
         0,
         "b.pak",
         {"완료", "실패", "완료"},
         7000,
         "2",
         "100%",
         {"건너뜀", "완료", "건너뜀"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        view.Reopen();
        std::filesystem::remove_all(DownloadFolder());
        for (const auto& [name, size] : {std::pair{"a.pak", 1000}, {"b.pak", 3000}, {"c.pak", 6000}}) {
            served.Write(name, PatternBytes(size));
        }
        view.overwriteFallback = 1; // continue what is there
        Open(Configuration(File("a.pak") + File("b.pak") + File("c.pak")));
        served.server().ClearRequests();
        {
            std::optional<ScopedWriteFault> fault;
            if (c.writeFault != 0) {
                fault.emplace(c.writeFault);
            }
            if (c.goneFile != nullptr) {
                std::remove(served.folder().File(c.goneFile).c_str());
            }
            ASSERT_TRUE(Run());
        }
        EXPECT_EQ(RowStates(), c.rows);
        EXPECT_EQ(Label(ST_TRANS_STATE), kIncompleteState);
        EXPECT_EQ(Label(ST_TOTAL_DOWNLOAD_RATE), std::to_string(c.arrived * 100 / 10000) + "%");
        EXPECT_EQ(Label(ST_TOTAL_RECV_SIZE), FormatSize(c.arrived));
        EXPECT_EQ(Label(ST_RECV_COUNT), c.arrivedFiles);
        EXPECT_EQ(Label(ST_TOTAL_COUNT), "3");
        EXPECT_EQ(Label(ST_FILE_DOWNLOAD_RATE), c.lastFilePercent);
        view.OnViewThread(
            [&] { EXPECT_EQ(view.bars[CT_TOTAL_DOWNLOAD_RATE], static_cast<int>(c.arrived * 100 / 10000)); });
        EXPECT_EQ(Buttons(), kIncompleteButtons);
        EXPECT_EQ(view.MessageTexts(), Texts{kIncomplete});
        EXPECT_EQ(view.outcomes, Outcomes{RunOutcome::Incomplete});
        EXPECT_EQ(CountRequests("GET", kReportTarget), 0u);

        // The fault mended, Download runs again and completes.
        if (c.goneFile != nullptr) {
            served.Write(c.goneFile, PatternBytes(3000));
        }
        ASSERT_TRUE(Run());
        EXPECT_EQ(RowStates(), c.rowsAgain);
        EXPECT_EQ(Label(ST_TRANS_STATE), "다운로드 완료");
        EXPECT_EQ(Label(ST_TOTAL_DOWNLOAD_RATE), "100%");
        EXPECT_EQ(Buttons(), kCompleted);
        EXPECT_EQ(view.outcomes, (Outcomes{RunOutcome::Incomplete, RunOutcome::Complete}));
        for (const auto& [name, size] : {std::pair{"a.pak", 1000}, {"b.pak", 3000}, {"c.pak", 6000}}) {
            EXPECT_EQ(ReadWholeFile(Local(name)), PatternBytes(size)) << name;
        }
    }
}

TEST_F(LauncherOutcomeTest, ChooserRefusesAFolderNothingCanBeWrittenInto) {
    served.Write("a.pak", PatternBytes(5000));
    CLauncher& l = Open(Configuration(File("a.pak")));
    // Not even root makes a file below a regular file.
    home.Write("a-file", "");
    const std::string unwritable = home.File("a-file") + "/folder";
    const std::string writable = home.File("writable");
    std::filesystem::create_directory(writable);
    view.folderAnswers = {unwritable, writable};
    bool taken = false;
    view.OnViewThread([&] { taken = l.OnBnClickedBtnFolder(); }); // refused, then the next one taken
    EXPECT_TRUE(taken);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "선택한 폴더에 파일을 쓸 수 없습니다.\n다른 폴더를 선택해 주십시오.");
    EXPECT_EQ(view.messages[0].title, "경고");
    EXPECT_EQ(view.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(view.foldersAsked.size(), 2u);
    EXPECT_EQ(l.downloadFolder, writable);
    EXPECT_TRUE(Entries(writable).empty()); // the trial file is gone again
}

// Once the player or a signal stopped the launcher, no installer starts, whatever stage the
// completion was at.
TEST_F(LauncherOutcomeTest, NoInstallerStartsAfterAStopDuringTheEndReport) {
    struct Case {
        const char* what;
        std::function<void(CLauncher&)> stop;
    } const cases[] = {
        {"an interrupt (SIGINT)", [](CLauncher& l) { l.Interrupt(); }},
        {"the Close button", [this](CLauncher& l) { view.OnViewThread([&] { l.OnBnClickedBtnClose(); }); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture fresh;
        view.Reopen();
        std::filesystem::remove_all(DownloadFolder());
        served.Write("setup.sh", "#!/bin/sh\ntouch started\n");
        SilentListener slowReport; // takes the report's connection and never answers
        options.reportHost = "127.0.0.1:" + std::to_string(slowReport.port());
        CLauncher& l = Open(Configuration(File("setup.sh", R"(autoexecute="true" waitexecute="true")")));
        view.OnViewThread([&] { ASSERT_TRUE(l.OnBnClickedBtnDownload()); });
        // The files are complete and the report is on its way.
        ASSERT_TRUE(view.WaitUntil([&] { return view.labels[ST_TRANS_STATE] == "다운로드 완료"; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        c.stop(l);
        ASSERT_TRUE(view.WaitUntil([&] { return !view.outcomes.empty(); }));
        launcher.reset();                                            // the completion has ended
        std::this_thread::sleep_for(std::chrono::milliseconds(200)); // time an installer would have had
        EXPECT_FALSE(FileExists(Local("started")));
        EXPECT_FALSE(fresh.Contains("Successfully executed downloaded local file"));
        EXPECT_TRUE(view.MessageTexts().empty()); // not taken for a failed start
    }
}

// Check-box clicks during the start survey leave no survey counted twice: through a run and the
// awaited installer it starts, no second installer can be started, and afterwards the buttons are back.
TEST_F(LauncherOutcomeTest, ClicksDuringTheStartSurveyKeepTheButtonsExact) {
    const std::string installer = "#!/bin/sh\ntouch running\nwhile [ ! -e go ]; do sleep 0.05; done\n";
    served.Write("setup.sh", installer);
    served.Write("a.pak", PatternBytes(1000));
    const std::string slow = "a.pak?delay_ms=300"; // a slow start survey, and a run that outlasts the clicks'
    CLauncher& l =
        Make(Configuration(File("setup.sh", R"(autoexecute="true" executable="true" waitexecute="true" Sha256=")" +
                                                HexDigest(installer) + "\"") +
                           File(slow)));
    view.OnViewThread([&] {
        l.Start();
        l.OnRowChecked(1, false);
        l.RequestSurvey();
        l.OnRowChecked(1, true);
        l.RequestSurvey();
    });
    // The start survey and the clicks' survey have both learnt the sizes.
    ASSERT_TRUE(Eventually([&] { return Occurrences(log.Text(), "Sucessfully get total files size.") == 2; }));
    ASSERT_TRUE(view.WaitUntil([&] { return view.buttons == kReady; }));

    view.OnViewThread([&] { ASSERT_TRUE(l.OnBnClickedBtnDownload()); });
    EXPECT_EQ(Buttons(), kRunning);
    ASSERT_TRUE(Eventually([&] { return FileExists(Local("running")); }));
    EXPECT_EQ(Buttons(), kBusy); // neither Execution nor Folder while the installer runs
    WriteWholeFile(Local("go"), "");
    ASSERT_TRUE(view.WaitUntil([&] { return !view.outcomes.empty(); }));
    EXPECT_EQ(Buttons(), kCompleted);

    // The Execution button: busy while its installer runs, then back.
    std::remove(Local("running").c_str());
    std::remove(Local("go").c_str());
    view.OnViewThread([&] { l.OnBnClickedBtnExecution(); });
    ASSERT_TRUE(Eventually([&] { return FileExists(Local("running")); }));
    EXPECT_EQ(Buttons(), kBusy);
    WriteWholeFile(Local("go"), "");
    ASSERT_TRUE(view.WaitUntil([&] { return view.buttons == kCompleted; }));
}

} // namespace
