#include "cli/terminal_view.h"
#include "launcher/row_states.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <unistd.h>
#include <vector>

namespace {

// What the view wrote to a stream.
std::string Contents(std::FILE* stream) {
    std::fflush(stream);
    std::rewind(stream);
    std::string text;
    for (int c = std::fgetc(stream); c != EOF; c = std::fgetc(stream)) {
        text += static_cast<char>(c);
    }
    return text;
}

class TerminalViewTest : public ::testing::Test {
protected:
    TerminalViewTest() {
        for (const char* url : {"http://127.0.0.1:1/a.pak", "http://127.0.0.1:1/b.pak"}) {
            config.files.push_back(std::make_unique<FileInfo>());
            config.files.back()->url = url;
        }
    }
    ~TerminalViewTest() override {
        std::fclose(out);
        std::fclose(err);
    }

    // What a view drives, and what it then shows on standard output and standard error.
    struct Case {
        const char* name;
        std::function<void(TerminalView&)> drive;
        std::string out;
        std::string err;
    };
    // Each case on a view of its own.
    void ExpectShown(const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            std::FILE* caseOut = std::tmpfile();
            std::FILE* caseErr = std::tmpfile();
            {
                TerminalView view(config, caseOut, caseErr, false, false);
                view.Call([&] { c.drive(view); });
            }
            EXPECT_EQ(Contents(caseOut), c.out) << c.name;
            EXPECT_EQ(Contents(caseErr), c.err) << c.name;
            std::fclose(caseOut);
            std::fclose(caseErr);
        }
    }

    CConfigLoader config;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
};

TEST_F(TerminalViewTest, TellsWhyAFileFailedAndWhatWasDoneToIt) {
    const std::vector<Case> cases = {
        {"a failure with its reason is one line",
         [](TerminalView& view) {
             view.FileFailed(0, "http://127.0.0.1:1/a.pak: HTTP status 404");
             view.SetRowState(0, kStateFailed);
         },
         "", "failed a.pak: http://127.0.0.1:1/a.pak: HTTP status 404\n"},
        {"a failure told of no reason",
         [](TerminalView& view) {
             view.SetRowState(0, kStateTransferring);
             view.SetRowState(0, kStateFailed);
         },
         "started a.pak\nfailed a.pak\n", ""},
        {"a reason belongs to its own file and to one failure",
         [](TerminalView& view) {
             view.FileFailed(1, "disk full");
             view.SetRowState(0, kStateFailed);
             view.SetRowState(1, kStateFailed);
             view.SetRowState(1, kStateFailed);
         },
         "failed a.pak\nfailed b.pak\n", "failed b.pak: disk full\n"},
        {"an installer that is not started, and why",
         [](TerminalView& view) {
             view.FileFailed(1, "its bytes do not match its Sha256");
             view.SetRowState(1, kStateUnverified);
         },
         "", "not started b.pak: its bytes do not match its Sha256\n"},
        {"a notice",
         [](TerminalView& view) { view.FileNotice(1, "the local file was larger; it is kept as b.pak.bad"); }, "",
         "ostrel-cli: b.pak: the local file was larger; it is kept as b.pak.bad\n"},
        {"a failed survey",
         [](TerminalView& view) { view.SurveyFailed("http://127.0.0.1:1/gone.pak", "HTTP status 404"); }, "",
         "ostrel-cli: the size of http://127.0.0.1:1/gone.pak is unknown: HTTP status 404\n"},
    };
    ExpectShown(cases);
}

TEST_F(TerminalViewTest, AFailureWithItsReasonStillCountsAsFailed) {
    TerminalView view(config, out, err, false, false);
    view.FileFailed(1, "the connection was cut off");
    view.SetRowState(1, kStateFailed);
    view.SetRowState(0, kStateFailed);
    EXPECT_EQ(view.FailedFiles(), (std::vector<std::string>{config.files[1]->url, config.files[0]->url}));
}

TEST_F(TerminalViewTest, TheLiveLineMakesWayForTheseLines) {
    TerminalView view(config, out, err, true, false);
    view.SetLabel(ST_FILE_NAME, "a.pak");
    view.FileNotice(0, "set aside");
    const std::string shown = Contents(out);
    EXPECT_EQ(shown.substr(shown.size() - 4), "\r\033[K") << shown;
    EXPECT_EQ(Contents(err), "ostrel-cli: a.pak: set aside\n");
}

TEST_F(TerminalViewTest, TheLiveLineCountsTheFilesInFlight) {
    TerminalView view(config, out, err, true, false);
    view.SetRowState(0, kStateTransferring);
    view.SetLabel(ST_FILE_NAME, "a.pak");
    EXPECT_EQ(Contents(out).find("at once"), std::string::npos);
    view.SetRowState(1, kStateTransferring);
    view.RunEnded(RunOutcome::Complete); // draws at once
    EXPECT_NE(Contents(out).find("  (2 files at once)\n"), std::string::npos) << Contents(out);
}

// Answers the view's questions with `answers` on standard input while it exists.
class ScopedStdin {
public:
    explicit ScopedStdin(const std::string& answers) : saved_(::dup(STDIN_FILENO)) {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        EXPECT_EQ(::write(fds[1], answers.data(), answers.size()), static_cast<ssize_t>(answers.size()));
        ::close(fds[1]);
        ::dup2(fds[0], STDIN_FILENO);
        ::close(fds[0]);
    }
    ~ScopedStdin() {
        ::dup2(saved_, STDIN_FILENO);
        ::close(saved_);
    }
    ScopedStdin(const ScopedStdin&) = delete;
    ScopedStdin& operator=(const ScopedStdin&) = delete;

private:
    int saved_;
};

// Names, URLs and reasons come from servers and configurations: none of their control characters may
// end a line, move the cursor or retitle the terminal.
TEST_F(TerminalViewTest, TextsFromOutsideAreShownWithTheirControlCharactersEscaped) {
    config.files[0]->url = "http://127.0.0.1:1/a\r\x1b[2K.pak";
    config.files[1]->url = "http://127.0.0.1:1/게임.pak";
    const std::vector<Case> cases = {
        {"a name", [](TerminalView& view) { view.SetRowState(0, kStateDone); }, "done a\\r\\x1b[2K.pak\n", ""},
        {"a Korean name stays", [](TerminalView& view) { view.SetRowState(1, kStateDone); }, "done 게임.pak\n", ""},
        {"a reason",
         [](TerminalView& view) {
             view.FileFailed(1, "HTTP status 404\nfailed b.pak: \x1b]0;title\x07");
             view.SetRowState(1, kStateFailed);
         },
         "", "failed 게임.pak: HTTP status 404\\nfailed b.pak: \\x1b]0;title\\x07\n"},
        {"a notice", [](TerminalView& view) { view.FileNotice(1, "kept as \r\x9b.bad"); }, "",
         "ostrel-cli: 게임.pak: kept as \\r\\x9b.bad\n"},
        {"a failed survey",
         [](TerminalView& view) { view.SurveyFailed("http://127.0.0.1:1/\r\x1b[1Agone.pak", "cut\r\noff"); }, "",
         "ostrel-cli: the size of http://127.0.0.1:1/\\r\\x1b[1Agone.pak is unknown: cut\\r\\noff\n"},
    };
    ExpectShown(cases);
}

TEST_F(TerminalViewTest, TheLiveLineAndTheOverwriteQuestionEscapeTheirNames) {
    const ScopedStdin answers("c\n");
    TerminalView view(config, out, err, true, true);
    view.SetLabel(ST_FILE_NAME, "a\r\x1b[2J.pak");
    EXPECT_EQ(view.AskOverwrite("/games/a\r\x1b[2J.pak"), 0);
    const std::string shown = Contents(out);
    EXPECT_EQ(shown.find("a\r"), std::string::npos) << shown;
    EXPECT_NE(shown.find("\r\033[Ka\\r\\x1b[2J.pak "), std::string::npos) << shown;
    EXPECT_EQ(Contents(err).rfind("/games/a\\r\\x1b[2J.pak exists.\n", 0), 0u) << Contents(err);
}

} // namespace
