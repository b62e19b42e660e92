#include "support/log_capture.h"
#include "support/message_recorder.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "ui/ostrel_app.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// Runs start-up with config.xml beside the program and returns what the user was shown.
std::vector<MessageBoxRequest> StartWith(const std::string* configText, int& exitStatus) {
    TempDir dir;
    if (configText != nullptr) {
        dir.Write("config.xml", *configText);
    }
    MessageRecorder recorder;
    COstrelApp& app = *COstrelApp::Instance();
    app.config = CConfigLoader();
    app.sources = {{}, " ", dir.File("ostrel"), {}};
    EXPECT_FALSE(app.InitInstance());
    exitStatus = app.ExitStatus();
    return recorder.Seen();
}

TEST(Startup, ShowsExactlyOneMessagePerFailure) {
    struct Case {
        const char* what;
        const std::string* text;
        std::string message;
        std::string title;
    };
    const std::string empty;
    const std::string noBase = "<Configuration><Buttons/></Configuration>";
    const std::string noFontSize =
        R"(<C><Base/><Buttons/><Progresses/><Sections><Speed Position="1" Size="1" Color="1" FontName="f"/></Sections></C>)";
    const Case cases[] = {
        {"missing file", nullptr, "설정 파일 (config.xml)을 로드하지 못했습니다.", "오류"},
        {"empty file", &empty, "설정 파일을 파싱 하지 못했습니다.", "오류"},
        {"no Base", &noBase, "설정 파일의 Base 노드를 확인하지 못했습니다.", "오류"},
        {"section without FontSize", &noFontSize, "Speed 항목의 FontSize 속성이 없습니다.", "경고"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        int exitStatus = 0;
        const auto seen = StartWith(c.text, exitStatus);
        ASSERT_EQ(seen.size(), 1u) << c.what;
        EXPECT_EQ(seen[0].text, c.message) << c.what;
        EXPECT_EQ(seen[0].title, c.title) << c.what;
        EXPECT_EQ(seen[0].icon, MessageIcon::Error) << c.what;
        EXPECT_EQ(seen[0].owner, nullptr) << c.what;
        EXPECT_EQ(exitStatus, 1) << c.what;
    }
}

TEST(Startup, UnreadableCommandLineFileShowsTheLoadMessage) {
    LogCapture log;
    MessageRecorder recorder;
    TempDir dir;
    dir.Write("config.xml", "<C><Base Background=\"none.jpg\"/></C>"); // never read
    COstrelApp& app = *COstrelApp::Instance();
    app.config = CConfigLoader();
    app.sources = {{}, " ", dir.File("ostrel"), dir.File("branded.xml")};
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.ExitStatus(), 1);
    const auto seen = recorder.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "설정 파일 (config.xml)을 로드하지 못했습니다.");
    EXPECT_EQ(seen[0].title, "오류");
}

TEST(Startup, LoadedConfigurationRunsTheWindow) {
    LogCapture log;
    TempDir temp;
    ScopedEnv tmp("TMPDIR", temp.path());
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    // The window takes over and ends at once: the configuration names no background.
    const std::string valid = "<C><Base Background=\"none.jpg\"/></C>";
    int exitStatus = 1;
    const auto seen = StartWith(&valid, exitStatus);
    ASSERT_EQ(::chdir(cwd), 0);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].title, "CPicture Error");
    EXPECT_EQ(exitStatus, 0);
    EXPECT_TRUE(log.Contains("[ERROR][COstrelDlg::OnInitDialog][277] Failed to load background image file."));
}

} // namespace
