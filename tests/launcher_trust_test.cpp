#include "launcher/local_files.h"
#include "launcher_fixture.h"
#include "net/download_file.h"
#include "net/file_validator.h"
#include "net/url_parser.h"

#include <cerrno>
#include <chrono>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using Texts = std::vector<std::string>;
using Told = LauncherRecordingView::Told;

// Every write of a transfer fails with `error` while it lives.
class ScopedWriteFault {
public:
    explicit ScopedWriteFault(int error) { DownloadFile::SetWriteFault(error); }
    ~ScopedWriteFault() { DownloadFile::SetWriteFault(0); }
    ScopedWriteFault(const ScopedWriteFault&) = delete;
    ScopedWriteFault& operator=(const ScopedWriteFault&) = delete;
};

// What the launcher does with the player's files and with what servers send: a main server and a mirror.
class LauncherTrustTest : public MirroredLauncherTest {
protected:
    Texts Headers(const std::vector<RecordedRequest>& requests, const std::string& name) const {
        Texts values;
        for (const auto& r : requests) {
            values.push_back(r.Header(name));
        }
        return values;
    }
    bool Logged(const std::string& part) const { return log.Text().find(part) != std::string::npos; }
    Told Failures() {
        Told told;
        view.OnViewThread([&] { told = view.failures; });
        return told;
    }
};

TEST_F(LauncherTrustTest, TheSurveyNamesTheUrlAndTheCause) {
    int closedPort = 0;
    {
        ServedFolder gone;
        closedPort = gone.server().port();
    }
    const std::string refused = "http://127.0.0.1:" + std::to_string(closedPort) + "/a.pak";
    const struct {
        std::string url;
        std::string cause;
    } cases[] = {{served.Url("/missing.pak"), "HTTP status 404"}, {refused, "connection refused"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        view.Reopen();
        view.surveyFailures.clear();
        CLauncher& l = Make(Configuration("<File Url=\"" + c.url + "\"/>"));
        EXPECT_FALSE(l.Prepare());
        view.OnViewThread([&] {
            EXPECT_EQ(view.surveyFailures, (std::vector<std::pair<std::string, std::string>>{{c.url, c.cause}}));
            EXPECT_EQ(view.MessageTexts(), Texts{"다운로드 할 파일의 크기를 알 수 없습니다."});
        });
        EXPECT_TRUE(Logged("Size of [" + c.url + "] unknown: " + c.cause + "."));
        EXPECT_TRUE(log.Contains("[ERROR][COstrelDlg::InitTotalInfo][1122] Failed to get total files size."));
    }
}

} // namespace
