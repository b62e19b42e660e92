#include "support/log_capture.h"
#include "support/served_folder.h"
#include "support/silent_listener.h"
#include "support/tool_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

namespace {

class FetchToolTest : public ::testing::Test {
protected:
    FetchToolTest() { served.Write("data.bin", PatternBytes(300000)); }

    ToolProcess Start(const std::vector<std::string>& args) {
        return ToolProcess(OSTREL_FETCH_PATH, args, local.File("stdout"), local.File("stderr"));
    }
    int Run(const std::vector<std::string>& args) { return Start(args).Wait(); }
    std::string Output() const { return ReadWholeFile(local.File("stdout")); }
    std::string Errors() const { return ReadWholeFile(local.File("stderr")); }

    LogCapture log; // the tool's log goes here too
    ServedFolder served;
    TempDir local;
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

// sha256sum of PatternBytes(300000), the served data.bin.
const std::string kDataDigest = "24591658fd88d06ca7da58118225d4debef89faee747351ab2b559b339d26d59";

TEST_F(FetchToolTest, Sha256IsCheckedOverWhatWasWrittenAndWhatWasThere) {
    const std::string data = PatternBytes(300000);
    std::string upper = kDataDigest;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ(Run({"--sha256", upper, served.Url("/data.bin"), local.File("fresh.bin")}), 0) << Errors();

    local.Write("part.bin", data.substr(0, 120000));
    EXPECT_EQ(Run({"--sha256", kDataDigest, served.Url("/data.bin"), local.File("part.bin"), "--offset", "120000"}), 0)
        << Errors();
    EXPECT_EQ(served.server().Requests().back().Header("Range"), "bytes=120000-");

    // The server sends the whole file instead of the range: the bytes that were there count no more.
    local.Write("ignored.bin", std::string(120000, 'x'));
    EXPECT_EQ(Run({"--sha256", kDataDigest, served.Url("/data.bin?ignore_range=1"), local.File("ignored.bin"),
                   "--offset", "120000"}),
              0)
        << Errors();
    EXPECT_TRUE(ReadWholeFile(local.File("ignored.bin")) == data);

    // A flipped byte in the part that was already there: the transfer succeeds, the check does not.
    std::string damaged = data.substr(0, 120000);
    damaged[5000] = static_cast<char>(damaged[5000] ^ 0x01);
    local.Write("damaged.bin", damaged);
    EXPECT_EQ(Run({"--sha256", kDataDigest, served.Url("/data.bin"), local.File("damaged.bin"), "--offset", "120000"}),
              1);
    // sha256sum of that damaged file.
    const std::string damagedDigest = "b32cc24aadf473f621f18af30a3a850b2c917260db755719898cffa846a047ec";
    const std::string errors = Errors();
    EXPECT_EQ(errors.substr(errors.rfind('\n', errors.size() - 2) + 1), "ostrel-fetch: " + local.File("damaged.bin") +
                                                                            " has SHA-256 " + damagedDigest +
                                                                            ", expected " + kDataDigest + "\n");
}

TEST_F(FetchToolTest, Sha256RefusesWhatCannotBeChecked) {
    const std::string wrong = std::string(64, '0');
    EXPECT_EQ(Run({"--sha256", wrong, served.Url("/data.bin"), local.File("wrong.bin")}), 1);
    EXPECT_NE(Errors().find("has SHA-256 " + kDataDigest + ", expected " + wrong + "\n"), std::string::npos)
        << Errors();

    for (const std::string& hex : {kDataDigest.substr(1), kDataDigest + "0", "g" + kDataDigest.substr(1)}) {
        EXPECT_EQ(Run({"--sha256", hex, served.Url("/data.bin"), local.File("usage.bin")}), 2) << hex;
    }
    EXPECT_EQ(Run({"--sha256", kDataDigest, "--head", served.Url("/data.bin")}), 2);
    EXPECT_EQ(Run({served.Url("/data.bin"), local.File("usage.bin"), "--sha256"}), 2);
    EXPECT_FALSE(FileExists(local.File("usage.bin")));

    // Fewer bytes on disk than the offset names: nothing to hash them from, nothing fetched.
    local.Write("short.bin", "abc");
    const std::size_t requests = served.server().Requests().size();
    EXPECT_EQ(Run({"--sha256", kDataDigest, served.Url("/data.bin"), local.File("short.bin"), "--offset", "100"}), 1);
    EXPECT_EQ(Errors(),
              "ostrel-fetch: the first 100 bytes of " + local.File("short.bin") + " cannot be read to hash them\n");
    EXPECT_EQ(served.server().Requests().size(), requests);
    EXPECT_EQ(ReadWholeFile(local.File("short.bin")), "abc");
}

TEST_F(FetchToolTest, ExitStatusTellsFailures) {
    EXPECT_EQ(Run({served.Url("/missing.bin"), local.File("missing.bin")}), 1);
    EXPECT_EQ(Run({"--head", served.Url("/data.bin?no_length=1&ignore_range=1")}), 1);
    EXPECT_EQ(ReadWholeFile(local.File("stdout")), "");
    EXPECT_EQ(Run({served.Url("/data.bin")}), 2);
    EXPECT_EQ(Run({served.Url("/data.bin"), local.File("x"), "--offset", "x"}), 2);
}

TEST_F(FetchToolTest, TerminationStopsAStalledTransfer) {
    ToolProcess tool = Start({served.Url("/data.bin?stall_ms=20000"), local.File("stalled.bin")});
    while (served.server().Requests().empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto stopped = std::chrono::steady_clock::now();
    tool.Signal(SIGTERM);
    EXPECT_EQ(tool.Wait(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(2));
    EXPECT_EQ(Errors(), "ostrel-fetch: download of " + served.Url("/data.bin?stall_ms=20000") + " failed: stopped\n");
}

TEST_F(FetchToolTest, AFailureIsOneLineSayingWhatFailedForWhichUrlAndWhy) {
    ServedFolder gone;
    const std::string refused = gone.Url("/data.bin");
    gone.server().Stop(); // nothing listens there any more
    struct Case {
        std::vector<std::string> args;
        std::string line;
    } const cases[] = {
        {{"--head", served.Url("/data.bin?status=404")},
         "ostrel-fetch: size request for " + served.Url("/data.bin?status=404") + " failed: HTTP status 404"},
        {{served.Url("/missing.bin"), local.File("missing.bin")},
         "ostrel-fetch: download of " + served.Url("/missing.bin") + " failed: HTTP status 404"},
        {{"--head", served.Url("/data.bin?no_length=1&ignore_range=1")},
         "ostrel-fetch: size request for " + served.Url("/data.bin?no_length=1&ignore_range=1") +
             " failed: the server announced no size"},
        {{refused, local.File("refused.bin")},
         "ostrel-fetch: download of " + refused + " failed: A connection with the server could not be established"},
        {{served.Url("/data.bin?reset_after=5000"), local.File("cut.bin")},
         "ostrel-fetch: download of " + served.Url("/data.bin?reset_after=5000") +
             " failed: The connection with the server was terminated abnormally"},
        {{"--head", served.Url("/data.bin?auth=401")},
         "ostrel-fetch: size request for " + served.Url("/data.bin?auth=401") +
             " failed: the server asks for credentials"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run(c.args), 1) << c.line;
        // The progress line of a cut transfer may come first, on a line of its own.
        const std::string errors = Errors();
        const std::size_t last = errors.rfind('\n', errors.size() - 2);
        EXPECT_EQ(errors.substr(last == std::string::npos ? 0 : last + 1), c.line + "\n");
        EXPECT_EQ(errors.find("CHttpDownloader"), std::string::npos) << errors;
        EXPECT_EQ(Output(), "");
    }
    // The log still has every line of the engine.
    EXPECT_TRUE(log.Contains("CHttpDownloader::_Download, Failed to retrieve a HTTP OK or partial content status, "
                             "Status Code:404"));
}

TEST_F(FetchToolTest, EngineLinesReachStandardErrorOnlyWithV) {
    const std::string opened = "CHttpDownloader2::_Download, Sucessfully open the file to download into\n";
    EXPECT_EQ(Run({served.Url("/data.bin"), local.File("quiet.bin")}), 0);
    EXPECT_EQ(Errors().find("CHttpDownloader"), std::string::npos) << Errors();
    EXPECT_EQ(log.CountStartingWith("CHttpDownloader2::_Download, Sucessfully open the file"), 1);

    EXPECT_EQ(Run({"-v", "--head", served.Url("/data.bin")}), 0);
    EXPECT_NE(Errors().find(opened), std::string::npos) << Errors();
    EXPECT_EQ(Output(), "300000\n");
    EXPECT_EQ(log.CountStartingWith("CHttpDownloader2::_Download, Sucessfully open the file"), 2);
}

TEST_F(FetchToolTest, SilentServersFailWithinTheStallTime) {
    SilentListener silent;
    for (const bool head : {true, false}) {
        std::vector<std::string> args{"--stall-timeout", "0.3"};
        if (head) {
            args.insert(args.end(), {"--head", silent.Url("/data.bin")});
        } else {
            args.insert(args.end(), {silent.Url("/data.bin"), local.File("silent.bin")});
        }
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(Run(args), 1) << head;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1300)) << head;
        EXPECT_NE(Errors().find("The operation timed out"), std::string::npos) << Errors();
    }
    EXPECT_EQ(Run({"--stall-timeout", "0", "--head", silent.Url("/data.bin")}), 2);
}

} // namespace
