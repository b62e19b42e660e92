#include "build_options.h"
#include "net/byte_ranges.h"
#include "net/file_validator.h"
#include "net/release_signature.h"
#include "net/sha256_digest.h"
#include "support/example_config.h"
#include "support/served_folder.h"
#include "support/tool_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// ostrel-cli on a pseudo-terminal of its own, as a player starts it from a shell.
class TerminalProcess {
public:
    TerminalProcess(const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
        std::vector<std::string> argv{OSTREL_CLI_PATH};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<std::string> envp = environment;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            envp.emplace_back(*entry); // the first of a name wins
        }
        // Made before the fork: the child of a process with threads only calls execve.
        std::vector<char*> argPointers = Pointers(argv);
        std::vector<char*> envPointers = Pointers(envp);
        pid_ = ::forkpty(&terminal_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            ::execve(argPointers[0], argPointers.data(), envPointers.data());
            ::_exit(127);
        }
        EXPECT_GT(pid_, 0) << "forkpty";
    }
    ~TerminalProcess() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (terminal_ >= 0) {
            ::close(terminal_);
        }
    }
    TerminalProcess(const TerminalProcess&) = delete;
    TerminalProcess& operator=(const TerminalProcess&) = delete;

    // Reads what the terminal shows until `text` is there; false when it is not within `timeout`.
    bool WaitForText(const std::string& text, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (shown.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            ReadShown(10ms);
        }
        return true;
    }
    // Keys typed on the terminal ("\x03" is Ctrl-C).
    void Type(const std::string& keys) const {
        EXPECT_EQ(::write(terminal_, keys.data(), keys.size()), ssize_t(keys.size()));
    }
    void Signal(int number) const { ::kill(pid_, number); }
    // Its exit status when it exited by itself within `timeout` (not ended by a signal).
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!status_ && std::chrono::steady_clock::now() < deadline) {
            int raw = 0;
            if (::waitpid(pid_, &raw, WNOHANG) == pid_) {
                status_ = raw;
            } else {
                ReadShown(10ms);
            }
        }
        return status_ && WIFEXITED(*status_) ? std::optional<int>(WEXITSTATUS(*status_)) : std::nullopt;
    }

    std::string shown;

private:
    static std::vector<char*> Pointers(std::vector<std::string>& texts) {
        std::vector<char*> pointers;
        for (std::string& text : texts) {
            pointers.push_back(text.data());
        }
        pointers.push_back(nullptr);
        return pointers;
    }
    void ReadShown(std::chrono::milliseconds wait) {
        pollfd readable{terminal_, POLLIN, 0};
        char buffer[4096];
        if (::poll(&readable, 1, static_cast<int>(wait.count())) == 1) {
            const ssize_t n = ::read(terminal_, buffer, sizeof buffer);
            if (n > 0) {
                shown.append(buffer, static_cast<std::size_t>(n));
            } else {
                std::this_thread::sleep_for(wait); // the child has closed the terminal
            }
        }
    }

    int terminal_ = -1;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

class CliToolTest : public ::testing::Test {
protected:
    // The example configuration with `names` as its files, on the test's server, written to a file.
    std::string ConfigFile(const std::vector<std::string>& names, const std::string& attributes = "",
                           const std::function<void(std::string&)>& edit = nullptr) {
        std::string files;
        for (const std::string& name : names) {
            files += FileElement(served.Url("/" + name), attributes);
        }
        home.Write("config.xml", ExampleConfiguration(files, edit));
        return home.File("config.xml");
    }

    std::vector<std::string> Environment() const {
        return {"HOME=" + home.path(), "XDG_STATE_HOME=" + home.File("state"), "XDG_CONFIG_HOME=" + home.File("config"),
                "TMPDIR=" + home.path()};
    }
    ToolProcess Start(std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), {"--report-host", "127.0.0.1:" + std::to_string(served.server().port())});
        return ToolProcess(program, arguments, home.File("stdout"), home.File("stderr"), Environment());
    }
    int Run(const std::vector<std::string>& arguments) { return Start(arguments).Wait(); }

    std::string Local(const std::string& name) const { return home.path() + "/Documents/AmbrelLauncher/" + name; }
    std::string Output() const { return ReadWholeFile(home.File("stdout")); }
    std::string Errors() const { return ReadWholeFile(home.File("stderr")); }
    std::size_t Reports() const {
        std::size_t n = 0;
        for (const auto& r : served.server().Requests()) {
            n += r.target == "/launcher/tirrareport.sb?status=end" ? 1 : 0;
        }
        return n;
    }

    TempDir home;
    ServedFolder served;
    std::string program = OSTREL_CLI_PATH;
};

// The variant built with the tests' release keys (tests/keys), whose private halves sign here.
class SignedCliToolTest : public CliToolTest {
protected:
    SignedCliToolTest() { program = OSTREL_CLI_SIGNED_PATH; }

    // Signs the configuration file with the key in tests/keys/`privateKey`: writes `path`.sig.
    static void Sign(const std::string& path, const std::string& privateKey) {
        std::string error;
        const std::optional<std::string> signature =
            SignRelease(ReadWholeFile(path), ReadWholeFile(OSTREL_SOURCE_DIR "/tests/keys/" + privateKey), error);
        ASSERT_TRUE(signature) << error;
        std::FILE* file = std::fopen((path + ".sig").c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs(signature->c_str(), file);
        std::fclose(file);
    }
};

TEST_F(CliToolTest, DeliversEveryFileChecksThemAndReports) {
    served.Write("a.pak", PatternBytes(200000));
    served.Write("b.pak", PatternBytes(3000));
    // One at a time, so that the lines come in list order.
    const auto oneAtATime = [](std::string& t) { t.replace(t.find("Retries=\""), 9, "Connections=\"1\" Retries=\""); };
    EXPECT_EQ(Run({"--config", ConfigFile({"a.pak", "b.pak"}, "", oneAtATime)}), 0) << Errors();
    EXPECT_TRUE(ReadWholeFile(Local("a.pak")) == PatternBytes(200000));
    EXPECT_TRUE(ReadWholeFile(Local("b.pak")) == PatternBytes(3000));
    EXPECT_EQ(Reports(), 1u);
    // Not a terminal: one line per file start and end.
    EXPECT_EQ(Output(), "started a.pak\ndone a.pak\nstarted b.pak\ndone b.pak\n");
    EXPECT_EQ(Errors(), "");
}

TEST_F(CliToolTest, FailuresMakeTheRunIncomplete) {
    served.Write("a.pak", PatternBytes(100000));
    // Not found: the sizes cannot be surveyed (three attempts), nothing is fetched.
    EXPECT_EQ(Run({"--config", ConfigFile({"a.pak", "gone.pak"})}), 1);
    EXPECT_NE(Errors().find("ostrel-cli: the server did not tell the size of every file"), std::string::npos)
        << Errors();
    EXPECT_FALSE(FileExists(Local("a.pak")));
    // Cut off after the survey: the file fails, the others are fetched, nothing is reported.
    EXPECT_EQ(Run({"--config", ConfigFile({"a.pak?reset_after=5000", "a.pak"})}), 1);
    EXPECT_NE(Errors().find("ostrel-cli: failed to download " + served.Url("/a.pak?reset_after=5000")),
              std::string::npos)
        << Errors();
    EXPECT_TRUE(ReadWholeFile(Local("a.pak")) == PatternBytes(100000));
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(CliToolTest, AFileWhoseDigestDiffersMakesTheRunIncomplete) {
    served.Write("a.pak", PatternBytes(5000));
    EXPECT_EQ(Run({"--config", ConfigFile({"a.pak"}, "Sha256=\"" + std::string(64, '0') + "\"")}), 1);
    EXPECT_EQ(Output(), "started a.pak\n");
    // Damaged, not cut off: running again would not mend it, and the player learns where it went.
    EXPECT_NE(Errors().find("failed a.pak: damaged in transfer (SHA-256 differs); kept as a.pak.corrupt\n"),
              std::string::npos)
        << Errors();
    EXPECT_EQ(Errors().find("run again"), std::string::npos) << Errors();
    EXPECT_TRUE(FileExists(Local("a.pak.corrupt")));
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(CliToolTest, InterruptedRunExits130AndTheNextContinues) {
    served.Write("big.pak", PatternBytes(2000000));
    const std::string config = ConfigFile({"big.pak?rate=2000000"});
    ToolProcess first = Start({"--config", config, "--no-report"});
    while (ReadWholeFile(Local("big.pak?rate=2000000")).size() < 100000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const auto interrupted = std::chrono::steady_clock::now();
    first.Signal(SIGINT);
    EXPECT_EQ(first.Wait(), 130);
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, std::chrono::seconds(1));
    const std::size_t part = ReadWholeFile(Local("big.pak?rate=2000000")).size();
    ASSERT_GT(part, 0u);
    ASSERT_LT(part, 2000000u);

    served.server().ClearRequests();
    EXPECT_EQ(Run({"--config", config, "--no-report"}), 0) << Errors();
    EXPECT_TRUE(ReadWholeFile(Local("big.pak?rate=2000000")) == PatternBytes(2000000));
    std::string range;
    for (const auto& r : served.server().Requests()) {
        if (r.method == "GET") {
            range = r.Header("Range");
        }
    }
    EXPECT_EQ(range, "bytes=" + std::to_string(part) + "-");
}

TEST_F(CliToolTest, AFileInPiecesSurvivesAKilledRunAndTheNextAsksOnlyForWhatItLacks) {
    constexpr std::size_t kSize = 20 << 20;
    const std::string name = "big.pak?rate=1000000";
    const std::string part = Local(name) + ".part";
    served.Write("big.pak", PatternBytes(kSize));
    const std::string config = ConfigFile({name});
    ToolProcess killed = Start({"--config", config, "--no-report"});
    std::optional<ByteRanges> noted;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((!noted || noted->Total() == 0) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        noted = LoadFileSegments(part, kSize);
    }
    if (!noted) {
        killed.Signal(SIGKILL);
        killed.Wait();
        GTEST_SKIP() << "the temporary folder's file system keeps no user extended attributes";
    }
    ASSERT_GT(noted->Total(), 0u);
    // No stop, no last note: whatever the record says at the kill is all the next run has.
    killed.Signal(SIGKILL);
    EXPECT_EQ(killed.Wait(), 128 + SIGKILL);
    noted = LoadFileSegments(part, kSize);
    ASSERT_TRUE(noted.has_value());
    const std::string kept = ReadWholeFile(part);
    const std::string content = PatternBytes(kSize);
    for (const ByteRanges::Range& r : noted->ranges()) {
        ASSERT_LE(r.end, kept.size());
        EXPECT_TRUE(kept.compare(r.first, r.end - r.first, content, r.first, r.end - r.first) == 0)
            << r.first << "-" << r.end;
    }

    served.server().ClearRequests();
    EXPECT_EQ(Run({"--config", config, "--no-report"}), 0) << Errors();
    EXPECT_TRUE(ReadWholeFile(Local(name)) == content);
    for (const auto& r : served.server().Requests()) {
        std::uint64_t first = 0;
        std::uint64_t last = 0;
        if (r.method == "GET" && std::sscanf(r.Header("Range").c_str(), "bytes=%lu-%lu", &first, &last) == 2) {
            EXPECT_EQ(noted->FirstGap(first, last + 1, last + 1 - first), (ByteRanges::Range{first, last + 1}))
                << "asked again for bytes it had: " << r.Header("Range");
        }
    }
}

TEST_F(CliToolTest, TheOverwriteQuestionTakesAnAnswerAndGivesWayToAStop) {
    served.Write("a.pak", PatternBytes(5000));
    const std::string config = ConfigFile({"a.pak"});
    struct Case {
        const char* name;
        std::function<void(TerminalProcess&)> stop;
    };
    const Case cases[] = {
        {"Ctrl-C", [](TerminalProcess& cli) { cli.Type("\x03"); }},
        {"SIGTERM", [](TerminalProcess& cli) { cli.Signal(SIGTERM); }},
    };
    for (const Case& c : cases) {
        std::filesystem::create_directories(Local(""));
        WriteWholeFile(Local("a.pak"), "a part from before");
        TerminalProcess cli({"--config", config, "--no-report"}, Environment());
        ASSERT_TRUE(cli.WaitForText("overwrite a[l]l? [c] ", 10s)) << c.name << ": " << cli.shown;
        c.stop(cli);
        EXPECT_EQ(cli.WaitForExit(1s), 130) << c.name << ": " << cli.shown;
        EXPECT_EQ(ReadWholeFile(Local("a.pak")), "a part from before") << c.name;
    }

    TerminalProcess cli({"--config", config, "--no-report"}, Environment());
    ASSERT_TRUE(cli.WaitForText("overwrite a[l]l? [c] ", 10s)) << cli.shown;
    cli.Type("o\n");
    EXPECT_EQ(cli.WaitForExit(10s), 0) << cli.shown;
    EXPECT_TRUE(ReadWholeFile(Local("a.pak")) == PatternBytes(5000));
}

TEST_F(CliToolTest, OnlyOverwriteAndFolder) {
    served.Write("a.pak", PatternBytes(1000));
    served.Write("b.pak", PatternBytes(2000));
    home.Write("b.pak", "longer local bytes that are not the server's at all, repeated" + std::string(3000, 'x'));
    const std::string config = ConfigFile({"a.pak", "b.pak"});
    EXPECT_EQ(Run({"--config", config, "--only", "b.pak", "--overwrite", "--dir", home.path()}), 0) << Errors();
    EXPECT_TRUE(ReadWholeFile(home.File("b.pak")) == PatternBytes(2000));
    EXPECT_FALSE(FileExists(home.File("a.pak")));
    EXPECT_FALSE(FileExists(Local("b.pak")));
}

// The test process's current folder, for one scope.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::string& folder) : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~CurrentFolder() { std::filesystem::current_path(previous_); }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

private:
    std::filesystem::path previous_;
};

TEST_F(CliToolTest, RelativeFolderAndConfigurationAreTakenFromTheCurrentFolder) {
    served.Write("a.pak", PatternBytes(3000));
    const std::string work = home.File("work");
    std::filesystem::create_directories(work);
    std::filesystem::copy_file(ConfigFile({"a.pak"}), work + "/rel.xml");
    for (const std::string folder : {"out", "out/games/ambrel", "./here"}) {
        {
            const CurrentFolder current(work);
            EXPECT_EQ(Run({"--config", "rel.xml", "--dir", folder}), 0) << folder << ": " << Errors();
        }
        EXPECT_TRUE(ReadWholeFile(work + "/" + folder + "/a.pak") == PatternBytes(3000)) << folder;
    }
    // The launcher was given them whole, in plain form.
    std::string log;
    for (const auto& file : std::filesystem::directory_iterator(home.File("state/Harnlow"))) {
        log += ReadWholeFile(file.path());
    }
    const std::string real = std::filesystem::canonical(work).string();
    for (const std::string path : {"/rel.xml]", "/out/a.pak]", "/out/games/ambrel/a.pak]", "/here/a.pak]"}) {
        EXPECT_NE(log.find("[" + real + path), std::string::npos) << path;
    }
}

TEST_F(CliToolTest, UsesThePlayersSavedFolderAndKeepsNothing) {
    served.Write("a.pak", PatternBytes(1000));
    const std::string kept = home.File("games");
    ::mkdir(kept.c_str(), 0755);
    const std::string settings = home.File("config") + "/Harnlow/launcher.conf";
    ::mkdir(home.File("config").c_str(), 0755);
    ::mkdir((home.File("config") + "/Harnlow").c_str(), 0755);
    WriteWholeFile(settings, "AmbrelLauncher.DownloadFolder=" + kept + "\n");
    EXPECT_EQ(Run({"--config", ConfigFile({"a.pak"}), "--limit", "1M"}), 0) << Errors();
    EXPECT_TRUE(ReadWholeFile(kept + "/a.pak") == PatternBytes(1000));
    EXPECT_EQ(ReadWholeFile(settings), "AmbrelLauncher.DownloadFolder=" + kept + "\n"); // the limit is not kept

    EXPECT_EQ(Run({"--config", ConfigFile({"a.pak"}), "--dir", home.File("elsewhere")}), 0) << Errors();
    EXPECT_TRUE(FileExists(home.File("elsewhere") + "/a.pak"));
    EXPECT_EQ(ReadWholeFile(settings), "AmbrelLauncher.DownloadFolder=" + kept + "\n"); // nor is --dir
}

TEST_F(CliToolTest, LimitSlowsTheTransferDown) {
    served.Write("a.pak", PatternBytes(192 * 1024));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run({"--config", ConfigFile({"a.pak"}), "--limit", "64K"}), 0) << Errors();
    // Three seconds at 64 KiB/s, less the last read, which arrives before its pause.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(ReadWholeFile(Local("a.pak")) == PatternBytes(192 * 1024));
}

TEST_F(CliToolTest, UsageAndConfigurationErrorsExit2) {
    served.Write("a.pak", PatternBytes(10));
    const std::string config = ConfigFile({"a.pak"});
    const std::vector<std::vector<std::string>> cases = {
        {"--frobnicate"},
        {"--config"},
        {"--config", home.File("absent.xml")},
        {"--config", config, "--only", "nothing.pak"},
        {"--config", config, "--overwrite", "--continue"},
        {"--config", config, "--limit", "2G"},
    };
    for (const auto& arguments : cases) {
        EXPECT_EQ(Run(arguments), 2) << arguments[0];
        EXPECT_NE(Errors().find("ostrel-cli: "), std::string::npos) << Errors();
    }
    EXPECT_TRUE(served.server().Requests().empty());
}

TEST_F(CliToolTest, AMissingAttributeIsNamedBeforeTheToolsOwnLine) {
    home.Write("config.xml", R"(<C><Base/><Buttons/><Progresses/><Sections>)"
                             R"(<Speed Position="1" Size="1" Color="1" FontName="f"/></Sections></C>)");
    EXPECT_EQ(Run({"--config", home.File("config.xml")}), 2);
    EXPECT_EQ(Errors(), "[경고] Speed 항목의 FontSize 속성이 없습니다.\n"
                        "ostrel-cli: the configuration lacks a required attribute: " +
                            home.File("config.xml") + "\n");
}

// A build with release keys takes a configuration only with a good signature of one of them: refused, it
// ends before any request, with the load message and the reason in the log.
TEST_F(SignedCliToolTest, TakesOnlyAConfigurationSignedByOneOfItsKeys) {
    served.Write("a.pak", PatternBytes(3000));
    struct Case {
        const char* what;
        const char* key; // signs it; nullptr: no signature
        int exit;
        std::string logged;
    } const cases[] = {
        {"signed by the first key", "first_private.pem", 0, "is signed by release key"},
        {"signed by the rolled-over key", "second_private.pem", 0, "is signed by release key"},
        {"not signed", nullptr, 2, "config.xml.sig] is missing."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(Local("a.pak").c_str());
        std::remove(home.File("config.xml.sig").c_str());
        const std::string config = ConfigFile({"a.pak"});
        if (c.key != nullptr) {
            Sign(config, c.key);
        }
        const std::size_t requests = served.server().Requests().size();
        EXPECT_EQ(Run({"--config", config, "--verbose"}), c.exit);
        EXPECT_NE(Errors().find(c.logged), std::string::npos) << Errors();
        EXPECT_EQ(FileExists(Local("a.pak")), c.exit == 0);
        if (c.exit != 0) {
            EXPECT_NE(Errors().find("ostrel-cli: the configuration could not be read: " + config), std::string::npos);
            EXPECT_EQ(served.server().Requests().size(), requests);
        }
    }
}

// A signed configuration whose installer on the server was replaced: the installer does not start, is
// kept aside, and the run is incomplete.
TEST_F(SignedCliToolTest, AReplacedInstallerIsNotStarted) {
    const std::string installer = "#!/bin/sh\ntouch " + home.File("installed") + "\n";
    std::string digest;
    {
        Sha256Digest hash;
        hash.Update(installer.data(), installer.size());
        digest = Sha256Hex(hash.Final());
    }
    served.Write("setup.sh", "#!/bin/sh\ntouch " + home.File("replaced") + "\n");
    const std::string config =
        ConfigFile({"setup.sh"}, R"(executable="true" autoexecute="true" waitexecute="true" Sha256=")" + digest + "\"");
    Sign(config, "first_private.pem");
    EXPECT_EQ(Run({"--config", config}), 1) << Errors();
    EXPECT_TRUE(FileExists(Local("setup.sh.corrupt")));
    EXPECT_FALSE(FileExists(Local("setup.sh")));
    EXPECT_FALSE(FileExists(home.File("replaced")));
    EXPECT_FALSE(FileExists(home.File("installed")));
}

TEST_F(SignedCliToolTest, VersionNamesEveryKey) {
    std::string error;
    const std::optional<std::vector<ReleaseKey>> keys =
        ParseReleaseKeys(ReadWholeFile(OSTREL_SOURCE_DIR "/tests/keys/release_keys.pem"), error);
    ASSERT_TRUE(keys && keys->size() == 2) << error;
    EXPECT_EQ(Run({"--version"}), 0);
    EXPECT_EQ(Output(), OSTREL_EXECUTABLE_NAME "-cli " OSTREL_VERSION_TEXT
                                               "\nsigned configuration: required\nrelease key: " +
                            (*keys)[0].fingerprint + "\nrelease key: " + (*keys)[1].fingerprint + "\n");
}

} // namespace
