#include "launcher_fixture.h"
#include "support/example_config.h"
#include "support/test_certificates.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>

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
        const std::string why = "not started: it could not be verified (no Sha256 is configured for it, and it did not "
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

} // namespace
