#include "support/served_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace {

// Runs ostrel-fetch with `args`; its standard output goes to `output` when given. Returns the exit status.
class FetchTool {
public:
    pid_t Start(const std::vector<std::string>& args, const std::string& output) {
        std::vector<std::string> all{OSTREL_FETCH_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& arg : all) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

    static int Wait(pid_t pid) {
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

class FetchToolTest : public ::testing::Test {
protected:
    FetchToolTest() { served.Write("data.bin", PatternBytes(300000)); }

    int Run(const std::vector<std::string>& args) { return FetchTool::Wait(tool.Start(args, local.File("stdout"))); }

    ServedFolder served;
    TempDir local;
    FetchTool tool;
};

TEST_F(FetchToolTest, FetchesContinuesAndAsksForTheSize) {
    EXPECT_EQ(Run({served.Url("/data.bin"), local.File("out.bin")}), 0);
    EXPECT_TRUE(ReadWholeFile(local.File("out.bin")) == PatternBytes(300000));

    local.Write("part.bin", PatternBytes(300000).substr(0, 120000));
    EXPECT_EQ(Run({served.Url("/data.bin"), local.File("part.bin"), "--offset", "120000"}), 0);
    EXPECT_TRUE(ReadWholeFile(local.File("part.bin")) == PatternBytes(300000));
    EXPECT_EQ(served.server().Requests().back().Header("Range"), "bytes=120000-");

    EXPECT_EQ(Run({"--head", served.Url("/data.bin")}), 0);
    EXPECT_EQ(ReadWholeFile(local.File("stdout")), "300000\n");
    EXPECT_EQ(served.server().Requests().back().method, "HEAD");
}

TEST_F(FetchToolTest, ExitStatusTellsFailures) {
    EXPECT_EQ(Run({served.Url("/missing.bin"), local.File("missing.bin")}), 1);
    EXPECT_EQ(Run({"--head", served.Url("/data.bin?no_length=1")}), 1);
    EXPECT_EQ(ReadWholeFile(local.File("stdout")), "");
    EXPECT_EQ(Run({served.Url("/data.bin")}), 2);
    EXPECT_EQ(Run({served.Url("/data.bin"), local.File("x"), "--offset", "x"}), 2);
}

TEST_F(FetchToolTest, TerminationStopsAStalledTransfer) {
    const pid_t pid = tool.Start({served.Url("/data.bin?stall_ms=20000"), local.File("stalled.bin")}, "/dev/null");
    while (served.server().Requests().empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto stopped = std::chrono::steady_clock::now();
    kill(pid, SIGTERM);
    EXPECT_EQ(FetchTool::Wait(pid), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(2));
}

} // namespace
