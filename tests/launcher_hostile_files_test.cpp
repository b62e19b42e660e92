#include "launcher_fixture.h"
#include "res/string_table.h"
#include "support/example_config.h"
#include "support/test_certificates.h"

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using Texts = std::vector<std::string>;

const std::string kInstaller = "#!/bin/sh\necho installed >> installed.txt\n";
const std::string kNotVerified = "다운로드 한 설치 파일을 검증할 수 없어 실행하지 않았습니다.";

FileServerOptions Tls(const TestCertificates& certificates) {
    FileServerOptions options;
    options.certificateFile = certificates.serverCertificateFile;
    options.privateKeyFile = certificates.serverKeyFile;
    return options;
}

// Files on the network path and in the download folder that someone else may have put there: servers
// over plain HTTP and over HTTPS with a private authority the launcher trusts.
class LauncherHostileFilesTest : public LauncherTest {
protected:
    // The launcher lets go of its connections before the servers stop, which would wait for them.
    ~LauncherHostileFilesTest() override {
        view.Shut();
        launcher.reset();
    }

    static std::string SecureUrl(const ServedFolder& server, const std::string& target) {
        return "https://localhost:" + std::to_string(server.server().port()) + target;
    }

    // As the view: the Execution button, until its start is over.
    void PressExecution() {
        view.OnViewThread([&] { launcher->OnBnClickedBtnExecution(); });
        ASSERT_TRUE(view.WaitUntil([&] { return view.buttons == kCompleted; }));
    }

    TempDir keys;
    TestCertificates certificates = MakeTestCertificates(keys.path(), "localhost");
    ScopedEnv authority{"SSL_CERT_FILE", certificates.authorityFile};
    ServedFolder secure{Tls(certificates)};
    ServedFolder otherSecure{Tls(certificates)};
};

// An installer starts only when something vouches for its bytes: its Sha256 matched, or all of it came
// over HTTPS from the server it was asked of in this run. Otherwise neither the end of the run nor the
// Execution button starts it; its row, a message and the log say why.
TEST_F(LauncherHostileFilesTest, OnlyAVerifiedInstallerStarts) {
    enum class From { Plain, Secure, SecureToAnotherServer, PlainToSecure };
    struct Case {
        const char* what;
        From from;
        bool digest;       // the configuration gives its Sha256
        std::size_t kept;  // bytes of it on disk before the run
        const char* state; // its row after the run
        bool starts;
    } const cases[] = {
        {"over plain HTTP", From::Plain, false, 0, "검증 안 됨", false},
        {"over plain HTTP with its Sha256", From::Plain, true, 0, "완료", true},
        {"over HTTPS", From::Secure, false, 0, "완료", true},
        {"over HTTPS, redirected to another server", From::SecureToAnotherServer, false, 0, "검증 안 됨", false},
        {"over plain HTTP, redirected to HTTPS", From::PlainToSecure, false, 0, "검증 안 됨", false},
        {"complete before the run", From::Secure, false, kInstaller.size(), "검증 안 됨", false},
        {"complete before the run, with its Sha256", From::Plain, true, kInstaller.size(), "건너뜀", true},
        {"continued over HTTPS from a part from before the run", From::Secure, false, 10, "검증 안 됨", false},
    };
    for (const ServedFolder* server : {&served, &secure, &otherSecure}) {
        server->Write("setup.sh", kInstaller);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture fresh;
        view.Reopen();
        view.OnViewThread([&] { view.failures.clear(); });
        std::filesystem::remove_all(DownloadFolder());
        if (c.kept > 0) {
            WriteLocal("setup.sh", kInstaller.substr(0, c.kept));
        }
        const std::string url = c.from == From::Plain    ? served.Url("/setup.sh")
                                : c.from == From::Secure ? SecureUrl(secure, "/setup.sh")
                                : c.from == From::SecureToAnotherServer
                                    ? SecureUrl(secure, "/setup.sh?redirect=" + SecureUrl(otherSecure, "/setup.sh"))
                                    : served.Url("/setup.sh?redirect=" + SecureUrl(secure, "/setup.sh"));
        const std::string digest = c.digest ? " Sha256=\"" + HexDigest(kInstaller) + "\"" : "";
        Open(Configuration(FileElement(url, R"(autoexecute="true" executable="true" waitexecute="true")" + digest)));
        ASSERT_TRUE(Run());
        const std::string installed = Local("installed.txt");
        EXPECT_EQ(ReadWholeFile(Local("setup.sh")), kInstaller);
        EXPECT_EQ(view.outcomes, std::vector<RunOutcome>{RunOutcome::Complete});
        EXPECT_EQ(RowStates(), Texts{c.state});
        EXPECT_EQ(FileExists(installed), c.starts);
        std::remove(installed.c_str());
        PressExecution();
        EXPECT_EQ(FileExists(installed), c.starts);

        const std::string notStarting = "Not starting [" + Local("setup.sh") + "]: it could not be verified";
        if (c.starts) {
            EXPECT_TRUE(view.MessageTexts().empty());
            EXPECT_TRUE(view.failures.empty());
            EXPECT_EQ(fresh.Text().find(notStarting), std::string::npos);
            continue;
        }
        EXPECT_EQ(view.MessageTexts(), (Texts{kNotVerified, kNotVerified}));
        const std::string why = "it could not be verified (no Sha256 is configured for it, and it did not "
                                "arrive whole over HTTPS from its own server in this run)";
        EXPECT_EQ(view.failures, (LauncherRecordingView::Told{{0, why}, {0, why}}));
        EXPECT_EQ(fresh.CountStartingWith("[ERROR][COstrelDlg::ExecuteDownloadedFiles]"), 2);
        EXPECT_NE(fresh.Text().find(notStarting +
                                    "; the service must add Sha256=\"<its SHA-256>\" to the File element "
                                    "of [" +
                                    url + "], or serve it over HTTPS.\n"),
                  std::string::npos);
    }
}

// Other bytes of the same size in the file at `path`, with the times the file had.
void ChangeKeepingStamp(const std::string& path) {
    struct stat checked {};
    ASSERT_EQ(::stat(path.c_str(), &checked), 0);
    std::string other = "#!/bin/sh\necho other >> installed.txt\n";
    other.resize(static_cast<std::size_t>(checked.st_size), '#');
    WriteWholeFile(path, other);
    const timespec times[2] = {checked.st_atim, checked.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// The bytes that start are the bytes checked against the Sha256, whatever the file's size and time say;
// a file whose bytes changed since the run's check is kept aside.
TEST_F(LauncherHostileFilesTest, TheExecutionButtonChecksTheBytesThatStart) {
    served.Write("setup.sh", kInstaller);
    Open(Configuration(
        File("setup.sh", R"(executable="true" waitexecute="true" Sha256=")" + HexDigest(kInstaller) + "\"")));
    ASSERT_TRUE(Run());
    ASSERT_EQ(RowStates(), Texts{"완료"});
    ChangeKeepingStamp(Local("setup.sh"));

    PressExecution();
    EXPECT_FALSE(FileExists(Local("installed.txt")));
    EXPECT_EQ(RowStates(), Texts{"검증 안 됨"});
    EXPECT_EQ(view.MessageTexts(), Texts{kNotVerified});
    EXPECT_EQ(view.failures,
              (LauncherRecordingView::Told{{0, "its bytes do not match its Sha256; kept as setup.sh.corrupt"}}));
    EXPECT_NE(log.Text().find("Not starting [" + Local("setup.sh") +
                              "]: right before its start its bytes do not match "
                              "SHA-256 [" +
                              HexDigest(kInstaller) + "].\n"),
              std::string::npos);
    EXPECT_FALSE(FileExists(Local("setup.sh")));
    EXPECT_TRUE(FileExists(Local("setup.sh.corrupt")));
}

// An installer changed on disk between the run's check and its start does not start: it is kept aside
// and the run is incomplete.
TEST_F(LauncherHostileFilesTest, AnInstallerChangedAfterTheRunsCheckMakesTheRunIncomplete) {
    struct Case {
        const char* what;
        std::function<void(const std::string& path)> change;
    } const cases[] = {
        {"changed in place, its stamp kept", ChangeKeepingStamp},
        {"swapped for another file",
         [](const std::string& path) {
             WriteWholeFile(path + ".new", "#!/bin/sh\necho swapped >> installed.txt\n");
             std::filesystem::rename(path + ".new", path);
         }},
    };
    served.Write("setup.sh", kInstaller);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        view.Reopen();
        std::filesystem::remove(Local("setup.sh.corrupt"));
        Open(Configuration(File("setup.sh", R"(executable="true" autoexecute="true" waitexecute="true" Sha256=")" +
                                                HexDigest(kInstaller) + "\"")));
        // The run shows itself complete once its check passed, before the start.
        view.OnViewThread([&] {
            view.onLabel = [&](int section, const std::string& text) {
                if (section == ST_TRANS_STATE && text == LoadStringId(146)) {
                    c.change(Local("setup.sh"));
                }
            };
        });
        ASSERT_TRUE(Run());
        EXPECT_EQ(view.outcomes, std::vector<RunOutcome>{RunOutcome::Incomplete});
        EXPECT_FALSE(FileExists(Local("installed.txt")));
        EXPECT_FALSE(FileExists(Local("setup.sh")));
        EXPECT_TRUE(FileExists(Local("setup.sh.corrupt")));
        view.OnViewThread([&] { view.onLabel = nullptr; });
    }
}

// Whatever is at a file's name in the download folder that is not a regular file, a link above all, is
// left as it is: no transfer, cut, mode or start reaches what a link points at, and the file fails.
TEST_F(LauncherHostileFilesTest, ALinkOrOtherNonRegularFileAtAFilesNameIsLeftAlone) {
    enum class Place { Link, DanglingLink, Fifo, Folder };
    struct Case {
        const char* what;
        Place place;
        std::size_t victimSize; // of the file outside the folder that the link points at
        int overwriteAnswer;    // to the question about the existing file
    } const cases[] = {
        {"a link to a smaller file, continued", Place::Link, kInstaller.size() - 9, 1},
        {"a link to a file of the same size", Place::Link, kInstaller.size(), 1},
        {"a link to a larger file", Place::Link, kInstaller.size() + 9, 1},
        {"a link to a file, overwritten", Place::Link, kInstaller.size() - 9, 2},
        {"a link to nothing yet", Place::DanglingLink, 0, 2},
        {"a FIFO", Place::Fifo, 0, 2},
        {"a folder", Place::Folder, 0, 2},
    };
    served.Write("setup.sh", kInstaller);
    const std::string victimPath = home.File(".bashrc");
    const std::string ran = home.File("victim-ran");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        view.Reopen();
        view.OnViewThread([&] { view.failures.clear(); });
        std::filesystem::remove_all(DownloadFolder());
        std::remove(victimPath.c_str());
        std::string victim;
        if (c.place == Place::Link) {
            // A script that would leave its mark if it ran; its size against the server's decides the walk.
            victim = "#!/bin/sh\ntouch " + ran + "\n#";
            victim.resize(c.victimSize, '#');
            WriteWholeFile(victimPath, victim);
            ::chmod(victimPath.c_str(), 0644);
        }
        std::filesystem::create_directories(DownloadFolder());
        const std::string local = Local("setup.sh");
        switch (c.place) {
        case Place::Link:
        case Place::DanglingLink:
            ASSERT_EQ(::symlink(victimPath.c_str(), local.c_str()), 0);
            break;
        case Place::Fifo:
            ASSERT_EQ(::mkfifo(local.c_str(), 0644), 0);
            break;
        case Place::Folder:
            ASSERT_EQ(::mkdir(local.c_str(), 0755), 0);
            break;
        }
        view.overwriteFallback = c.overwriteAnswer;
        Open(Configuration(
            File("setup.sh", R"(autoexecute="true" waitexecute="true" Sha256=")" + HexDigest(kInstaller) + "\"")));
        ASSERT_TRUE(Run());
        EXPECT_EQ(RowStates(), Texts{"실패"});
        EXPECT_EQ(view.failures,
                  (LauncherRecordingView::Told{{0, "it is a link or not a regular file; it was left alone"}}));
        EXPECT_EQ(view.outcomes, std::vector<RunOutcome>{RunOutcome::Incomplete});
        if (c.place == Place::Link) {
            EXPECT_EQ(ReadWholeFile(victimPath), victim);
            struct stat st {};
            EXPECT_EQ(::stat(victimPath.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u, 0644u);
        } else {
            EXPECT_FALSE(FileExists(victimPath)); // nothing made where a link points
        }
        struct stat st {};
        const bool there = ::lstat(local.c_str(), &st) == 0;
        const bool link = c.place == Place::Link || c.place == Place::DanglingLink;
        EXPECT_TRUE(there && (link                     ? S_ISLNK(st.st_mode)
                              : c.place == Place::Fifo ? S_ISFIFO(st.st_mode)
                                                       : S_ISDIR(st.st_mode)));
        EXPECT_FALSE(FileExists(ran));
    }
}

} // namespace
