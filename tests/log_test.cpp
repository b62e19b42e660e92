#include "base/log.h"
#include "config/config_loader.h"
#include "support/log_capture.h"
#include "support/scoped_env.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

LogTime g_fakeNow;
LogTime FakeClock() {
    return g_fakeNow;
}

class LogTest : public ::testing::Test {
protected:
    void TearDown() override { SetLogClock(nullptr); }
    LogCapture log;
};

TEST_F(LogTest, LineCarriesTimeStampAndOneLineFeed) {
    g_fakeNow = {2012, 8, 22, 9, 5, 3, 7};
    SetLogClock(FakeClock);
    WriteLog("[INFO][%s][%d] hello %s", "Origin::Op", 42, "world");
    EXPECT_EQ(ReadWholeFile(log.stateHome() + "/Harnlow/launcher_2012_08_22.log"),
              "[09:05:03:007] [INFO][Origin::Op][42] hello world\n");
}

TEST_F(LogTest, LinesOnEitherSideOfMidnightGoToTwoFiles) {
    SetLogClock(FakeClock);
    g_fakeNow = {2012, 8, 22, 23, 59, 59, 999};
    WriteLog("before");
    g_fakeNow = {2012, 8, 23, 0, 0, 0, 0};
    WriteLog("after");
    EXPECT_EQ(ReadWholeFile(log.stateHome() + "/Harnlow/launcher_2012_08_22.log"), "[23:59:59:999] before\n");
    EXPECT_EQ(ReadWholeFile(log.stateHome() + "/Harnlow/launcher_2012_08_23.log"), "[00:00:00:000] after\n");
}

TEST_F(LogTest, EveryLineEndsWithALineFeedAfterTheCutMessage) {
    struct Case {
        std::size_t length;
        std::string expectedMessage;
    };
    const Case cases[] = {
        {1021, std::string(1021, 'a')},
        {1022, std::string(1022, 'a')},
        {1024, std::string(1024, 'a')},
        {2000, std::string(1024, 'a')}, // cut at 1024 characters
    };
    for (const Case& c : cases) {
        LogCapture fresh;
        WriteLog("%s", std::string(c.length, 'a').c_str());
        WriteLog("next");
        const auto messages = fresh.Messages();
        ASSERT_EQ(messages.size(), 2u) << c.length;
        EXPECT_EQ(messages[0], c.expectedMessage) << c.length;
        EXPECT_EQ(messages[1], "next") << c.length;
        EXPECT_EQ(fresh.Text().back(), '\n') << c.length;
    }
}

TEST_F(LogTest, FormatEndingInLineFeedLeavesAnEmptyLine) {
    WriteLog("CHttpDownloader2::SetStatus, %s\n", "x");
    WriteLog("next");
    const auto messages = log.Messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], "CHttpDownloader2::SetStatus, x");
    EXPECT_EQ(messages[1], "");
    EXPECT_EQ(messages[2], "next");
}

TEST_F(LogTest, I64uPrintsUnsigned64BitValues) {
    const std::uint64_t big = 18446744073709551615ull;
    const std::uint64_t above32 = 5368709120ull;
    WriteLog("[DEBUG][%s][%d] URL [%s] size: [%I64u] %I64u %d%%", "O", 1, "u", big, above32, 7);
    EXPECT_TRUE(log.Contains("[DEBUG][O][1] URL [u] size: [18446744073709551615] 5368709120 7%"));
}

TEST_F(LogTest, TheCallersConversionsPrintAsPrintfDoes) {
    WriteLog("%lld|%u|%zu|%08x|%5s|%-3d|%.2f|%c|%%", -5000000000ll, 4000000000u, std::size_t{7}, 0xbeefu, "ab", 4, 1.5,
             'k');
    EXPECT_TRUE(log.Contains("-5000000000|4000000000|7|0000beef|   ab|4  |1.50|k|%")) << log.Text();
}

TEST_F(LogTest, ConcurrentWritersLoseNoLine) {
    constexpr int kThreads = 8, kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                WriteLog("writer %d line %d %s", t, i, std::string(100, 'x').c_str());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::set<std::string> seen;
    for (const auto& message : log.Messages()) {
        seen.insert(message);
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kLines));
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kLines; ++i) {
            const std::string expected =
                "writer " + std::to_string(t) + " line " + std::to_string(i) + " " + std::string(100, 'x');
            ASSERT_TRUE(seen.count(expected)) << expected;
        }
    }
}

TEST_F(LogTest, HeldLinesFollowOneAnotherWithTheTimesTheyWereWrittenAt) {
    SetLogClock(FakeClock);
    g_fakeNow = {2012, 8, 22, 9, 0, 0, 1};
    const std::string file = log.stateHome() + "/Harnlow/launcher_2012_08_22.log";
    {
        const HeldLogLines held;
        WriteLog("held %d", 1);
        g_fakeNow.millisecond = 2;
        std::thread([] { WriteLog("other thread"); }).join();
        g_fakeNow.millisecond = 3;
        {
            const HeldLogLines inner; // ends inside the outer hold: writes nothing yet
            WriteLog("held %d", 2);
        }
        EXPECT_EQ(ReadWholeFile(file), "[09:00:00:002] other thread\n");
    }
    EXPECT_EQ(ReadWholeFile(file), "[09:00:00:002] other thread\n[09:00:00:001] held 1\n[09:00:00:003] held 2\n");
}

TEST_F(LogTest, UnwritableFolderChangesNothingForTheCaller) {
    TempDir dir;
    dir.Write("state", "a file where the folder should be");
    ::setenv("XDG_STATE_HOME", dir.File("state").c_str(), 1);
    WriteLog("lost line");
    EXPECT_FALSE(FileExists(dir.File("state/Harnlow")));
}

// What WriteLog calls made by `write` send to stderr.
std::string StderrOf(const std::function<void()>& write) {
    TempDir dir;
    std::fflush(stderr);
    const int saved = ::dup(2);
    std::FILE* capture = std::fopen(dir.File("stderr").c_str(), "w");
    ::dup2(::fileno(capture), 2);
    write();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    std::fclose(capture);
    return ReadWholeFile(dir.File("stderr"));
}

TEST_F(LogTest, StderrGetsTheMessageWithoutTimeStampUnlessTheEchoIsOff) {
    EXPECT_EQ(StderrOf([] { WriteLog("to the debugger %d", 5); }), "to the debugger 5\n");
    EXPECT_EQ(StderrOf([] {
                  SetLogEcho(false);
                  WriteLog("only in the file");
                  SetLogEcho(true);
              }),
              "");
    EXPECT_EQ(StderrOf([] { WriteLog("echoed again"); }), "echoed again\n");
    EXPECT_TRUE(log.Contains("only in the file"));
}

// The program's own formats keep their line feeds; what the arguments bring from outside is escaped, so
// that no server or configuration can end a line, start a faked one or steer the terminal.
TEST_F(LogTest, ControlCharactersInTheArgumentsAreEscapedInTheFileAndOnStderr) {
    struct Case {
        const char* format;
        std::string argument;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"[DEBUG] File URL: [%s]",
         "http://h/a\r[09:00:00:000] [INFO] faked",
         {"[DEBUG] File URL: [http://h/a\\r[09:00:00:000] [INFO] faked]"}},
        {"[DEBUG] File URL: [%s]", "a\nb", {"[DEBUG] File URL: [a\\nb]"}},
        {"CHttpDownloader2::SetStatus, %s\n", "x\r\n", {"CHttpDownloader2::SetStatus, x\\r\\n", ""}},
        {"[%s]", "\x1b[2J\x1b]0;title\x07", {"[\\x1b[2J\\x1b]0;title\\x07]"}},
        {"[%s]", "a\tb\x7f\x01", {"[a\\tb\\x7f\\x01]"}},
        {"[%s]",
         "C1 \xc2\x9b"
         "31m, cut \xed\x95, stray \xff",
         {"[C1 \\xc2\\x9b31m, cut \\xed\\x95, stray \\xff]"}},
        {"[%s]", "게임 데이터 ©.pak", {"[게임 데이터 ©.pak]"}},
    };
    for (const Case& c : cases) {
        LogCapture fresh;
        const std::string echoed = StderrOf([&] { WriteLog(c.format, c.argument.c_str()); });
        EXPECT_EQ(fresh.Messages(), c.messages) << c.argument;
        std::string expectedEcho;
        for (const std::string& message : c.messages) {
            expectedEcho += message + "\n";
        }
        EXPECT_EQ(echoed, expectedEcho) << c.argument;
    }
    LogCapture fresh;
    WriteLog("[%c%c]", '\r', 'x');
    EXPECT_EQ(fresh.Messages(), std::vector<std::string>{"[\\rx]"});
}

TEST_F(LogTest, ACarriageReturnInAConfigurationValueCannotFakeALogLine) {
    CConfigLoader config;
    ASSERT_EQ(config.LoadFromString("<Configuration><Base Name=\"game\"/><Files>"
                                    "<File Url=\"http://127.0.0.1:1/a.pak&#13;[09:00:00:000] [INFO] faked\"/>"
                                    "</Files></Configuration>"),
              CONFIG_OK);
    ASSERT_EQ(config.files.size(), 1u);
    ASSERT_EQ(config.files[0]->url, "http://127.0.0.1:1/a.pak\r[09:00:00:000] [INFO] faked");
    EXPECT_EQ(log.Text().find('\r'), std::string::npos);
    EXPECT_TRUE(log.Contains("[DEBUG] File URL: [http://127.0.0.1:1/a.pak\\r[09:00:00:000] [INFO] faked]"))
        << log.Text();
}

unsigned ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Made with `mode` exactly, by `owner` (-1: this user).
void Prepare(const std::string& path, bool folder, unsigned mode, int owner) {
    if (folder) {
        ASSERT_EQ(::mkdir(path.c_str(), 0700), 0) << path;
    } else {
        WriteWholeFile(path, "[00:00:00:000] an earlier line\n");
    }
    ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
    if (owner >= 0) {
        ASSERT_EQ(::chown(path.c_str(), static_cast<uid_t>(owner), static_cast<gid_t>(owner)), 0) << path;
    }
}

// The log tells which servers and folders a player uses: no other user may read it. What is not this
// user's own is left as it is, and the log says so.
TEST_F(LogTest, TheLogAndItsFolderAreClosedToOtherUsers) {
    struct Case {
        const char* name;
        unsigned folderBefore, fileBefore; // 0: none
        int folderOwner, fileOwner;
        unsigned folderAfter, fileAfter;
        bool told;
    };
    const Case cases[] = {
        {"a first line", 0, 0, -1, -1, 0700, 0600, false},
        {"a folder and a log made open before", 0755, 0644, -1, -1, 0700, 0600, false},
        {"an open folder without a log yet", 0777, 0, -1, -1, 0700, 0600, false},
        {"another user's log", 0700, 0666, -1, 65534, 0700, 0666, true},
        {"another user's folder", 0777, 0, 65534, -1, 0777, 0600, true},
    };
    g_fakeNow = {2012, 8, 22, 9, 5, 3, 7};
    SetLogClock(FakeClock);
    for (const Case& c : cases) {
        LogCapture fresh;
        const std::string folder = fresh.stateHome() + "/Harnlow";
        const std::string file = folder + "/launcher_2012_08_22.log";
        if (c.folderBefore != 0) {
            Prepare(folder, true, c.folderBefore, c.folderOwner);
        }
        if (c.fileBefore != 0) {
            Prepare(file, false, c.fileBefore, c.fileOwner);
        }
        WriteLog("a line");
        WriteLog("another line");
        EXPECT_EQ(ModeOf(folder), c.folderAfter) << c.name;
        EXPECT_EQ(ModeOf(file), c.fileAfter) << c.name;
        EXPECT_TRUE(fresh.Contains("another line")) << c.name;
        const std::string notice = "[WARNING][WriteLog][";
        EXPECT_EQ(fresh.CountStartingWith(notice), c.told ? 1 : 0) << c.name << "\n" << fresh.Text();
        if (c.told) {
            EXPECT_NE(fresh.Text().find("] The log [" + file + "] stays open to other users:"), std::string::npos)
                << fresh.Text();
        }
    }
}

TEST_F(LogTest, TheFoldersMadeForTheLogAreClosedToo) {
    TempDir home;
    ScopedEnv homeEnv("HOME", home.path());
    ScopedEnv stateEnv("XDG_STATE_HOME", "");
    WriteLog("a line");
    for (const char* made : {"/.local", "/.local/state", "/.local/state/Harnlow"}) {
        EXPECT_EQ(ModeOf(home.path() + made), 0700u) << made;
    }
}

} // namespace
