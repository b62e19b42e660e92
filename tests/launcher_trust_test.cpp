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

std::string Authority(const ServedFolder& server) {
    return FormatAuthority("127.0.0.1", static_cast<std::uint16_t>(server.server().port()));
}

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

TEST_F(LauncherTrustTest, ALargerFileUnderContinueIsKeptAsPreviousAndFetchedAgain) {
    struct Case {
        const char* how;
        std::deque<std::optional<int>> answers; // of the overwrite question
        int remembered;                         // the launcher's remembered answer at the start
        bool olderPrevious;
    };
    const Case cases[] = {
        {"continue answered", {1}, 8, false},
        {"question dismissed", {std::nullopt}, 8, true},
        {"continue for all given beforehand", {}, 1, false},
    };
    const std::string data = PatternBytes(5000);
    const std::string players(9000, 'p');
    served.Write("a.pak", data);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        WriteLocal("a.pak", players);
        std::remove(Local("a.pak.previous").c_str());
        if (c.olderPrevious) {
            WriteLocal("a.pak.previous", "an older copy");
        }
        view.overwriteAnswers = c.answers;
        view.notices.clear();
        CLauncher& l = Open(Configuration(File("a.pak")));
        l.overwriteChoice = c.remembered;
        const std::size_t asked = view.questionsAsked.size();
        // The player's file stays on the disk beside the new one.
        EXPECT_EQ(l.MissingBytes(l.downloadFolder), data.size());
        served.server().ClearRequests();
        ASSERT_TRUE(Run());
        EXPECT_EQ(ReadWholeFile(Local("a.pak")), data);
        EXPECT_TRUE(ReadWholeFile(Local("a.pak.previous")) == players);
        EXPECT_EQ(Ranges("/a.pak"), Texts{""});
        EXPECT_EQ(RowStates(), Texts{"완료"});
        EXPECT_EQ(view.questionsAsked.size() - asked, c.answers.size());
        view.OnViewThread([&] {
            EXPECT_EQ(view.notices, (Told{{0, "larger than the server's copy; kept as a.pak.previous"}}));
        });
        EXPECT_TRUE(Logged("Local file [" + Local("a.pak") + "] is kept as [" + Local("a.pak.previous") + "]."));
    }
}

TEST_F(LauncherTrustTest, ALocalWriteErrorFailsTheFileAtOnceAndKeepsItsBytes) {
    const struct {
        int error;
        const char* cause;
    } cases[] = {{ENOSPC, "disk full"}, {EROFS, "the folder is read-only"}};
    const std::string data = PatternBytes(600000);
    served.Write("big.pak", data);
    mirror.Write("big.pak", data);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cause);
        std::remove(Local("big.pak?rate=300000").c_str());
        view.failures.clear();
        Open(Configuration(WithMirror(served.Url("/big.pak?rate=300000"), "big.pak"), Retries(2)));
        served.server().ClearRequests();
        mirror.server().ClearRequests();
        view.OnViewThread([&] { ASSERT_TRUE(launcher->OnBnClickedBtnDownload()); });
        ASSERT_TRUE(view.WaitUntil([&] { return GetLocalFileSize(Local("big.pak?rate=300000")) > 0; }));
        std::uint64_t written = 0;
        {
            const ScopedWriteFault fault(c.error);
            written = GetLocalFileSize(Local("big.pak?rate=300000"));
            ASSERT_TRUE(view.WaitUntil([&] { return !view.outcomes.empty(); }));
        }
        EXPECT_EQ(view.outcomes.back(), RunOutcome::Incomplete);
        EXPECT_EQ(Gets(served, "/big.pak?rate=300000").size(), 1u); // no retry
        EXPECT_EQ(Gets(mirror, "/big.pak").size(), 0u);             // no other server mends a local fault
        EXPECT_GE(GetLocalFileSize(Local("big.pak?rate=300000")), written);
        EXPECT_EQ(Failures(), (Told{{0, c.cause}}));
        EXPECT_EQ(RowStates(), Texts{"실패"});
        view.OnViewThread([&] { view.outcomes.clear(); });
    }
}

TEST_F(LauncherTrustTest, TheStoredVersionGoesOnlyToTheServerItCameFrom) {
    enum class Origin { None, Main, Mirror };
    struct Case {
        const char* what;
        Origin origin;
        bool digest;
        bool overwrite;     // the player chose to overwrite the part
        bool mainFailsOnce; // the first GET of the main server fails with 503, and is retried
        Texts ranges;       // of the main server's GETs
        Texts ifRanges;
    };
    const std::string part = "bytes=20000-";
    const Case cases[] = {
        {"the main server's own part", Origin::Main, false, false, false, {part}, {"\"main\""}},
        {"the player's part of unknown version", Origin::None, false, false, false, {part}, {""}},
        {"a mirror's part, no digest", Origin::Mirror, false, false, false, {""}, {""}},
        {"a mirror's part, with a digest", Origin::Mirror, true, false, false, {part}, {""}},
        {"a mirror's part, retried", Origin::Mirror, false, false, true, {"", ""}, {"", ""}},
        {"overwritten, retried", Origin::Main, false, true, true, {"", ""}, {"", ""}},
    };
    const std::string data = PatternBytes(60000);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        // A file of its own for each case: the failures of fail_first are counted per target.
        const std::string name = "data" + std::to_string(i) + ".pak";
        served.Write(name, data);
        mirror.Write(name, data);
        const std::string target = "/" + name + (c.mainFailsOnce ? "?fail_first=1&status=503" : "");
        const std::string path = Local(target.substr(1));
        // A part with the right bytes: whatever is continued, the result is the file.
        WriteLocal(target.substr(1), data.substr(0, 20000));
        if (c.origin != Origin::None) {
            const bool main = c.origin == Origin::Main;
            ASSERT_TRUE(StoreFileValidator(path, main ? "\"main\"" : "\"mirror\"", Authority(main ? served : mirror)));
        }
        view.overwriteAnswers = {c.overwrite ? 2 : 1};
        std::string url = served.Url(target);
        for (std::size_t at = url.find('&'); at != std::string::npos; at = url.find('&', at + 1)) {
            url.replace(at, 1, "&amp;");
        }
        Open(Configuration(WithMirror(url, name, c.digest ? "Sha256=\"" + HexDigest(data) + "\"" : ""), Retries(1)));
        served.server().ClearRequests();
        mirror.server().ClearRequests();
        ASSERT_TRUE(Run());
        const auto gets = Gets(served, target);
        EXPECT_EQ(Headers(gets, "Range"), c.ranges);
        EXPECT_EQ(Headers(gets, "If-Range"), c.ifRanges);
        EXPECT_TRUE(Gets(mirror, "/" + name).empty());
        EXPECT_TRUE(ReadWholeFile(path) == data);
        EXPECT_EQ(RowStates(), Texts{"완료"});
    }
}

TEST_F(LauncherTrustTest, AFileThatArrivesWithAnotherSizeFails) {
    const std::string data = PatternBytes(2500000);
    const std::string shorter = PatternBytes(2400000);
    const std::string shorterCause = "the file there has 2400000 bytes, 2500000 expected";
    struct Case {
        const char* what;
        std::string mainTarget;
        std::string other;       // the file of another size
        std::string deliveredBy; // the URL that sent it
        std::string cause;
    };
    const Case cases[] = {
        {"a mirror with another file", "/big.pak?reset_after=1048576", shorter, mirror.Url("/big.pak"), shorterCause},
        {"the main server's file changed since the survey", "/big.pak", shorter, served.Url("/big.pak"), shorterCause},
        // A larger one is refused before a byte of it is written.
        {"a mirror with a larger file", "/big.pak?reset_after=1048576", PatternBytes(2600000), mirror.Url("/big.pak"),
         "the server announced 2600000 bytes, more than the 2500000 it announced before"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(Local(c.mainTarget.substr(1)).c_str());
        served.Write("big.pak", data);
        mirror.Write("big.pak", c.other);
        view.failures.clear();
        view.outcomes.clear();
        Open(Configuration(WithMirror(served.Url(c.mainTarget), "big.pak")));
        served.Write("big.pak", c.mainTarget == "/big.pak" ? c.other : data);
        ASSERT_TRUE(Run());
        EXPECT_EQ(RowStates(), Texts{"실패"});
        EXPECT_EQ(Failures(), (Told{{0, c.deliveredBy + ": " + c.cause}}));
        EXPECT_EQ(view.outcomes, std::vector<RunOutcome>{RunOutcome::Incomplete});
        EXPECT_FALSE(Logged("Successfully downloaded file [" + served.Url(c.mainTarget) + "]"));
    }
}

TEST_F(LauncherTrustTest, EveryFailedFileIsToldWhyBeforeItsRowFails) {
    const std::string data = PatternBytes(40000);
    std::string flipped = data;
    flipped[20000] ^= 0x01;
    served.Write("gone.pak", data);
    served.Write("cut.pak", data);
    served.Write("bad.pak", flipped);
    served.Write("kept.pak", data);
    WriteLocal("kept.pak", flipped); // complete by its size, damaged all the same
    const std::string digest = "Sha256=\"" + HexDigest(data) + "\"";
    // One at a time, so that the failures are told in list order.
    Open(Configuration(File("gone.pak") + File("cut.pak?reset_after=10000") + File("bad.pak", digest) +
                           File("kept.pak", digest),
                       Connections(1)));
    std::remove(served.folder().File("gone.pak").c_str());
    ASSERT_TRUE(Run());
    EXPECT_EQ(RowStates(), (Texts{"실패", "실패", "실패", "실패"}));
    const std::string damaged = "damaged in transfer (SHA-256 differs); kept as ";
    EXPECT_EQ(Failures(), (Told{{0, served.Url("/gone.pak") + ": HTTP status 404"},
                                {1, served.Url("/cut.pak?reset_after=10000") + ": the connection was cut"},
                                {2, damaged + "bad.pak.corrupt"},
                                {3, damaged + "kept.pak.corrupt"}}));
    view.OnViewThread([&] { EXPECT_EQ(view.rowStateWhenFailed, (Texts{"전송중", "전송중", "전송중", "대기중"})); });
    EXPECT_TRUE(
        Logged("File [" + served.Url("/gone.pak") + "] failed: " + served.Url("/gone.pak") + ": HTTP status 404"));

    // A URL that names no file is never asked for: the survey leaves it out while its row is unticked.
    view.failures.clear();
    CLauncher& l = Open(
        Configuration(File("dir/"), [](std::string& t) { t.replace(t.find("Checked=\"1\""), 11, "Checked=\"0\""); }));
    view.OnViewThread([&] { l.OnRowChecked(0, true); });
    ASSERT_TRUE(Run());
    EXPECT_EQ(Failures(), (Told{{0, served.Url("/dir/") + ": the address gives no usable file name"}}));
}

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

TEST_F(LauncherTrustTest, AStopEndsTheCheckOfABigCompleteFileAtOnce) {
    constexpr off_t kSize = off_t{8} << 30; // sparse: it costs no disk
    const struct {
        const char* how;
        bool byTheView; // else from another thread, as a stop signal's handler
        std::function<void(CLauncher&)> stop;
    } cases[] = {
        {"Stop", true, [](CLauncher& l) { l.OnBnClickedBtnStop(); }},
        {"Close", true, [](CLauncher& l) { l.OnBnClickedBtnClose(); }},
        {"a stop signal", false, [](CLauncher& l) { l.Interrupt(); }},
    };
    served.Write("huge.pak", "");
    ASSERT_EQ(::truncate(served.folder().File("huge.pak").c_str(), kSize), 0);
    WriteLocal("huge.pak", "");
    ASSERT_EQ(::truncate(Local("huge.pak").c_str(), kSize), 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        view.Reopen();
        view.failures.clear();
        CLauncher& l = Open(Configuration(File("huge.pak", "Sha256=\"" + std::string(64, '0') + "\"")));
        view.OnViewThread([&] { ASSERT_TRUE(l.OnBnClickedBtnDownload()); });
        ASSERT_TRUE(view.WaitUntil([&] { return !view.questionsAsked.empty(); }));
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // into the check
        const auto stopped = Clock::now();
        if (c.byTheView) {
            view.OnViewThread([&] { c.stop(l); });
        } else {
            c.stop(l);
        }
        ASSERT_TRUE(view.WaitUntil([&] { return !view.outcomes.empty(); }));
        EXPECT_LT(Clock::now() - stopped, std::chrono::seconds(1));
        EXPECT_EQ(view.outcomes, std::vector<RunOutcome>{RunOutcome::Stopped});
        EXPECT_NE(RowStates(), Texts{"실패"});
        EXPECT_TRUE(Failures().empty());
        EXPECT_FALSE(FileExists(Local("huge.pak.corrupt")));
        EXPECT_EQ(GetLocalFileSize(Local("huge.pak")), static_cast<std::uint64_t>(kSize));
        launcher.reset(); // waits for the worker
    }
}

} // namespace
