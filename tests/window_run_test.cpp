#include "launcher/disk_space.h"
#include "launcher/format_text.h"
#include "net/sha256_digest.h"
#include "support/silent_listener.h"
#include "ui/controls/color_static.h"
#include "ui/controls/progress_ex.h"
#include "ui/controls/zel_button.h"
#include "ui/folder_chooser.h"
#include "ui/overwrite_option_dlg.h"
#include "window_fixture.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> RowStates(const COstrelDlg& dlg) {
    std::vector<std::string> states;
    for (int row = 0; row < dlg.fileList->topLevelItemCount(); ++row) {
        states.push_back(dlg.fileList->topLevelItem(row)->text(1).toStdString());
    }
    return states;
}

std::string LabelText(const COstrelDlg& dlg, int section) {
    return dlg.sectionLabels[static_cast<std::size_t>(section)]->GetWindowText();
}

class WindowRunTest : public WindowTest {
protected:
    std::string Local(const std::string& name) const { return DownloadFolder() + "/" + name; }
    // Whether the window thread gets to run a timer within `ms`.
    static bool TimerRunsWithin(int ms) {
        bool fired = false;
        QTimer::singleShot(10, [&] { fired = true; });
        return PumpUntil([&] { return fired; }, ms);
    }
};

// What the launcher's threads hand over reaches the controls: rows, labels, bars and buttons.
TEST_F(WindowRunTest, ARunShowsOnTheControls) {
    served.Write("a.pak", PatternBytes(200000));
    served.Write("b.pak", PatternBytes(1000));
    COstrelDlg& dlg = OpenWindow(Configuration(File("a.pak") + File("b.pak")));
    dlg.buttons[CT_DOWNLOAD]->click();
    EXPECT_FALSE(dlg.buttons[CT_DOWNLOAD]->isEnabled());
    EXPECT_TRUE(dlg.buttons[CT_STOP]->isEnabled());
    ASSERT_TRUE(PumpUntil([&] { return dlg.buttons[CT_EXECUTION]->isEnabled(); }));
    EXPECT_EQ(RowStates(dlg), (std::vector<std::string>{"완료", "완료"}));
    EXPECT_EQ(dlg.fileList->currentItem(), dlg.fileList->topLevelItem(1));
    EXPECT_EQ(LabelText(dlg, ST_TRANS_STATE), "다운로드 완료");
    EXPECT_EQ(LabelText(dlg, ST_FILE_NAME), "b.pak");
    EXPECT_EQ(LabelText(dlg, ST_TOTAL_DOWNLOAD_RATE), "100%");
    EXPECT_EQ(LabelText(dlg, ST_TOTAL_RECV_SIZE), FormatSize(201000));
    EXPECT_EQ(dlg.totalProgress->SetPos(100), 100); // the position it held
    EXPECT_EQ(dlg.fileProgress->SetPos(100), 100);
    EXPECT_FALSE(dlg.buttons[CT_DOWNLOAD]->isEnabled());
    EXPECT_EQ(ReadWholeFile(Local("a.pak")), PatternBytes(200000));
}

TEST_F(WindowRunTest, CloseDuringATransferEndsAtOnce) {
    served.Write("slow.pak", PatternBytes(100000));
    COstrelDlg& dlg = OpenWindow(Configuration(File("slow.pak?stall_ms=60000")));
    dlg.buttons[CT_DOWNLOAD]->click();
    ASSERT_TRUE(PumpUntil([&] { return RowStates(dlg)[0] == "전송중"; }));
    messages.SetAnswer(IDNO);
    dlg.buttons[CT_CLOSE]->click();
    EXPECT_FALSE(dlg.IsEnded()); // answered No: the run goes on
    messages.SetAnswer(IDYES);
    const auto start = Clock::now();
    dlg.buttons[CT_CLOSE]->click();
    EXPECT_TRUE(dlg.IsEnded());
    EXPECT_EQ(dlg.EndResult(), 1);
    window.reset(); // waits for the worker
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
}

TEST_F(WindowRunTest, CloseDuringAStalledCheckBoxSurveyEndsAtOnce) {
    SilentListener silent;
    COstrelDlg& dlg = OpenWindow(Configuration("<File Url=\"" + silent.Url("/a.pak") + "\"/>", [](std::string& t) {
        t.replace(t.find("Checked=\"1\""), 11, "Checked=\"0\"");
    }));
    dlg.fileList->topLevelItem(0)->setCheckState(0, Qt::Checked);
    dlg.launcher().RequestSurvey();
    EXPECT_FALSE(dlg.buttons[CT_DOWNLOAD]->isEnabled());
    EXPECT_TRUE(TimerRunsWithin(1000)); // the window thread does not wait for the server
    const auto start = Clock::now();
    dlg.buttons[CT_CLOSE]->click();
    EXPECT_TRUE(dlg.IsEnded());
    window.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
}

TEST_F(WindowRunTest, WindowKeepsRunningWhileAnAwaitedInstallerRuns) {
    // The installer ends only when the test lets it.
    const std::string installer = "#!/bin/sh\nwhile [ ! -e go ]; do sleep 0.05; done\ntouch done\n";
    served.Write("setup.sh", installer);
    Sha256Digest digest;
    digest.Update(installer.data(), installer.size());
    COstrelDlg& dlg = OpenWindow(Configuration(
        File("setup.sh", R"(autoexecute="true" waitexecute="true" Sha256=")" + Sha256Hex(digest.Final()) + "\"")));
    dlg.buttons[CT_DOWNLOAD]->click();
    ASSERT_TRUE(
        PumpUntil([&] { return log.Text().find("Successfully executed downloaded local file") != std::string::npos; }));
    EXPECT_TRUE(TimerRunsWithin(1000));
    EXPECT_EQ(LabelText(dlg, ST_TRANS_STATE), "다운로드 완료");
    EXPECT_FALSE(dlg.buttons[CT_EXECUTION]->isEnabled()); // no second installer meanwhile
    EXPECT_TRUE(dlg.buttons[CT_CLOSE]->isEnabled());
    WriteWholeFile(Local("go"), "");
    ASSERT_TRUE(PumpUntil([&] { return dlg.buttons[CT_EXECUTION]->isEnabled(); }));
    EXPECT_TRUE(FileExists(Local("done")));
}

TEST_F(WindowRunTest, StopAnsweredAfterTheRunEndedChangesNothing) {
    served.Write("a.pak", PatternBytes(1000));
    COstrelDlg& dlg = OpenWindow(Configuration(File("a.pak")));
    dlg.buttons[CT_DOWNLOAD]->click();
    // The run ends while the question is open: the question's own loop carries the end of the run.
    SetMessageBoxHandler([&](const MessageBoxRequest&) {
        PumpUntil([&] { return dlg.buttons[CT_EXECUTION]->isEnabled(); });
        return IDYES;
    });
    dlg.launcher().OnBnClickedBtnStop();
    SetMessageBoxHandler([](const MessageBoxRequest&) { return IDOK; });
    EXPECT_EQ(dlg.launcher().downloader().abortFlag.load(), 0);
    EXPECT_TRUE(dlg.buttons[CT_EXECUTION]->isEnabled()); // Completed, not Stopped
}

// After a cut-off run the question names the file, and a player who takes it as it opens keeps the part.
TEST_F(WindowRunTest, OverwriteQuestionNamesTheFileAndContinuesUnlessTold) {
    const std::string data = PatternBytes(100000);
    served.Write("a.pak", data);
    std::filesystem::create_directories(DownloadFolder());
    WriteWholeFile(Local("a.pak"), data.substr(0, 40000));
    COstrelDlg& dlg = OpenWindow(Configuration(File("a.pak")));
    std::string shown;
    bool openAfterEnter = false;
    // Runs inside the question's own loop once it is open.
    std::function<void()> answer = [&] {
        auto* question = qobject_cast<COverwriteOptionDlg*>(QApplication::activeModalWidget());
        if (question == nullptr) {
            QTimer::singleShot(20, answer);
            return;
        }
        for (const QLabel* label : question->findChildren<QLabel*>()) {
            shown += label->text().toStdString() + "\n";
        }
        QTest::keyClick(question->focusWidget() != nullptr ? question->focusWidget() : question, Qt::Key_Return);
        openAfterEnter = question->isVisible(); // Enter answers with the option shown, nothing else touched
    };
    QTimer::singleShot(20, answer);
    served.server().ClearRequests();
    dlg.buttons[CT_DOWNLOAD]->click();
    ASSERT_TRUE(PumpUntil([&] { return dlg.buttons[CT_EXECUTION]->isEnabled(); }));
    EXPECT_NE(shown.find("a.pak\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("동일한 이름의 파일이 존재합니다.\n다음 중 하나의 옵션을 선택해 주십시오."),
              std::string::npos);
    EXPECT_FALSE(openAfterEnter);
    EXPECT_EQ(dlg.launcher().overwriteChoice.load(), COverwriteOptionDlg::kContinue);
    std::vector<std::string> ranges;
    for (const RecordedRequest& request : served.server().Requests()) {
        if (request.method == "GET" && request.target == "/a.pak") {
            ranges.push_back(request.Header("Range"));
        }
    }
    EXPECT_EQ(ranges, std::vector<std::string>{"bytes=40000-"});
    EXPECT_EQ(ReadWholeFile(Local("a.pak")), data);
}

TEST_F(WindowRunTest, FolderChooserStatusNamesNeededAndFreeSpace) {
    EXPECT_EQ(FolderStatusText(1048576, home.path()),
              "최소 1.00 MB의 용량이 필요합니다.\n남은 용량: " + FormatSize(GetFreeDiskBytes(home.path())));
}

} // namespace
