#include "support/silent_listener.h"
#include "ui/controls/color_static.h"
#include "ui/controls/zel_button.h"
#include "window_fixture.h"

#include <QTreeWidget>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

class SizeSurveyTest : public WindowTest {
protected:
    std::string Label(int section) const {
        return window->sectionLabels[static_cast<std::size_t>(section)]->GetWindowText();
    }
    std::size_t HeadRequests() const {
        std::size_t n = 0;
        for (const auto& r : served.server().Requests()) {
            n += r.method == "HEAD" ? 1 : 0;
        }
        return n;
    }
};

TEST_F(SizeSurveyTest, ListWithoutRowsSurveysEveryFile) {
    served.Write("a.pak", PatternBytes(1500));
    served.Write("b.pak", PatternBytes(2500));
    OpenWindow(Configuration(File("a.pak") + File("b.pak"), [](std::string& t) {
        const std::size_t begin = t.find("<Listboxes>");
        t.erase(begin, t.find("</Listboxes>") + 12 - begin);
    }));
    EXPECT_EQ(HeadRequests(), 2u);
    EXPECT_EQ(Label(ST_TOTAL_COUNT), "2");
    EXPECT_EQ(Label(ST_TOTAL_SIZE), "3.9 KB");
    EXPECT_EQ(config.files[1]->size.load(), 2500u);
    EXPECT_TRUE(
        log.Contains("[DEBUG][COstrelDlg::GetTotalFilesSize][553] URL [" + served.Url("/b.pak") + "] size: [2500]"));
    EXPECT_TRUE(log.Contains("[INFO][COstrelDlg::GetTotalFilesSize][560] Total size of contents: [4000]"));
}

TEST_F(SizeSurveyTest, AllRowsUntickedAskNothing) {
    served.Write("a.pak", PatternBytes(1500));
    OpenWindow(
        Configuration(File("a.pak"), [](std::string& t) { t.replace(t.find("Checked=\"1\""), 11, "Checked=\"0\""); }));
    EXPECT_EQ(HeadRequests(), 0u);
    EXPECT_EQ(Label(ST_TOTAL_SIZE), "0 Bytes");
    EXPECT_EQ(Label(ST_TOTAL_COUNT), "0");
}

TEST_F(SizeSurveyTest, SecondAttemptSucceeds) {
    COstrelDlg& dlg = MakeWindow(Configuration(File("late.pak")));
    dlg.surveyRetryPauseMs = 400;
    // The file appears during the pause after the first attempt.
    std::thread publisher([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        served.Write("late.pak", PatternBytes(700));
    });
    const bool opened = dlg.OnInitDialog();
    publisher.join();
    ASSERT_TRUE(opened);
    EXPECT_EQ(HeadRequests(), 2u);
    EXPECT_TRUE(log.Contains("Failed to get total files size, retry."));
    EXPECT_FALSE(log.Contains("Failed to get total files size, 2nd retry."));
    EXPECT_TRUE(log.Contains("[INFO][COstrelDlg::InitTotalInfo][1135] Sucessfully get total files size."));
    EXPECT_EQ(Label(ST_TOTAL_SIZE), "700 Bytes");
    EXPECT_TRUE(messages.Seen().empty());
}

TEST_F(SizeSurveyTest, SizeWithoutContentLengthEndsTheWindowAfterThreeAttempts) {
    served.Write("a.pak", PatternBytes(700));
    COstrelDlg& dlg = MakeWindow(Configuration(File("a.pak?no_length=1")));
    EXPECT_FALSE(dlg.OnInitDialog());
    EXPECT_EQ(HeadRequests(), 3u);
    ASSERT_EQ(messages.Seen().size(), 1u);
    EXPECT_EQ(messages.Seen()[0].text, "다운로드 할 파일의 크기를 알 수 없습니다.");
    EXPECT_EQ(messages.Seen()[0].title, "오류");
    EXPECT_EQ(messages.Seen()[0].icon, MessageIcon::Error);
    EXPECT_TRUE(dlg.IsEnded());
    EXPECT_EQ(dlg.EndResult(), 2);
    for (int type : {CT_EXECUTION, CT_DOWNLOAD, CT_STOP, CT_FOLDER}) {
        EXPECT_FALSE(dlg.buttons[static_cast<std::size_t>(type)]->isEnabled()) << type;
    }
    EXPECT_TRUE(dlg.buttons[CT_CLOSE]->isEnabled());
    EXPECT_TRUE(log.Contains("Failed to get total files size, 2nd retry."));
    EXPECT_TRUE(log.Contains("[ERROR][COstrelDlg::InitTotalInfo][1122] Failed to get total files size."));
    EXPECT_TRUE(log.Contains("[ERROR][COstrelDlg::GetContentSize][506] Failed to get content size of Server IP "
                             "[127.0.0.1]."));
}

TEST_F(SizeSurveyTest, EmptyFileHasSizeZero) {
    served.Write("empty.pak", "");
    served.Write("a.pak", PatternBytes(10));
    OpenWindow(Configuration(File("empty.pak") + File("a.pak")));
    EXPECT_EQ(config.files[0]->size.load(), 0u);
    EXPECT_EQ(Label(ST_TOTAL_SIZE), "10 Bytes");
    EXPECT_EQ(Label(ST_TOTAL_COUNT), "2");
}

TEST_F(SizeSurveyTest, CheckBoxSurveyOfASilentServerEndsWithinTheStallTime) {
    const ScopedStallTimeout stall(std::chrono::milliseconds(300));
    SilentListener silent;
    served.Write("a.pak", PatternBytes(10));
    COstrelDlg& dlg =
        OpenWindow(Configuration(File("a.pak") + "<File Url=\"" + silent.Url("/b.pak") + "\"/>",
                                 [](std::string& t) { t.replace(t.find("Checked=\"1\""), 11, "Checked=\"0\""); }));
    // What a click on the second row's check box does.
    dlg.fileList->topLevelItem(1)->setCheckState(0, Qt::Checked);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(dlg.InitTotalInfo(), 0);
    const auto took = std::chrono::steady_clock::now() - started;
    // Three attempts of at most the stall time and a second each, with their pauses.
    EXPECT_LT(took, 3 * std::chrono::milliseconds(1300) + 2 * std::chrono::milliseconds(dlg.surveyRetryPauseMs));
    EXPECT_TRUE(dlg.IsEnded());
    ASSERT_EQ(messages.Seen().size(), 1u);
    EXPECT_EQ(messages.Seen()[0].text, "다운로드 할 파일의 크기를 알 수 없습니다.");
    EXPECT_EQ(log.CountStartingWith("CHttpDownloader::_Download, Failed in call to HttpSendRequest, Error:12002"), 3);
}

} // namespace
