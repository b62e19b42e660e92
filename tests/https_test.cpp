#include "net/ca_bundle.h"
#include "net/curl_transport.h"
#include "net/http_downloader.h"
#include "net/internet_errors.h"
#include "res/string_table.h"
#include "support/log_capture.h"
#include "support/scoped_env.h"
#include "support/served_folder.h"
#include "support/test_certificates.h"

#include <gtest/gtest.h>

namespace {

// A downloader that trusts the test authority besides the system's, and counts certificate requests.
class TrustingDownloader : public CHttpDownloader2 {
public:
    explicit TrustingDownloader(std::string authorityFile) : authorityFile_(std::move(authorityFile)) {}

    int certificateRequests = 0;

    bool CreateRequest() override {
        if (!CHttpDownloader2::CreateRequest()) {
            return false;
        }
        return curl_easy_setopt(CurrentRequest()->easy(), CURLOPT_CAINFO, authorityFile_.c_str()) == CURLE_OK;
    }
    bool SetClientCertificate() override {
        ++certificateRequests;
        return CHttpDownloader2::SetClientCertificate();
    }

private:
    std::string authorityFile_;
};

class HttpsTest : public ::testing::Test {
protected:
    static FileServerOptions Tls(const TestCertificates& files, bool demandClientCertificate) {
        FileServerOptions options;
        options.certificateFile = files.serverCertificateFile;
        options.privateKeyFile = files.serverKeyFile;
        if (demandClientCertificate) {
            options.clientCaFile = files.authorityFile;
        }
        return options;
    }

    std::string UrlFor(const ServedFolder& served, const std::string& host) const {
        return "https://" + host + ":" + std::to_string(served.server().port()) + "/data.bin";
    }

    TempDir keys;
    TestCertificates files = MakeTestCertificates(keys.path(), "localhost");
    TempDir local;
    LogCapture log;
};

TEST_F(HttpsTest, TrustedServerWithItsOwnNameIsFetched) {
    ServedFolder served(Tls(files, false));
    served.Write("data.bin", PatternBytes(5000));
    TrustingDownloader downloader(files.authorityFile);
    downloader.url = UrlFor(served, "localhost");
    downloader.localFileName = local.File("ok.bin");
    EXPECT_TRUE(downloader.Download());
    EXPECT_EQ(downloader.serviceType, 4107u);
    EXPECT_TRUE(ReadWholeFile(local.File("ok.bin")) == PatternBytes(5000));
}

TEST_F(HttpsTest, UnverifiedServersAreRefusedAsSendFailures) {
    ServedFolder served(Tls(files, false));
    served.Write("data.bin", PatternBytes(5000));
    const std::string refused = "CHttpDownloader::_Download, Failed in call to HttpSendRequest, Error:" +
                                std::to_string(ERROR_INTERNET_INVALID_CA);

    CHttpDownloader2 untrusting; // the authority is not among the system's
    untrusting.url = UrlFor(served, "localhost");
    untrusting.localFileName = local.File("untrusted.bin");
    EXPECT_FALSE(untrusting.Download());

    TrustingDownloader wrongName(files.authorityFile); // the certificate names localhost only
    wrongName.url = UrlFor(served, "127.0.0.1");
    wrongName.localFileName = local.File("wrong-name.bin");
    EXPECT_FALSE(wrongName.Download());

    EXPECT_EQ(log.CountStartingWith(refused), 2);
    EXPECT_TRUE(log.Contains(FormatStringId(111, CHttpDownloader2::FormatErrorText(ERROR_INTERNET_INVALID_CA))));
    EXPECT_TRUE(served.server().Requests().empty());
}

TEST_F(HttpsTest, AuthorityFileFromTheEnvironmentIsTrusted) {
    ServedFolder served(Tls(files, false));
    served.Write("data.bin", PatternBytes(5000));
    ScopedEnv authority("SSL_CERT_FILE", files.authorityFile);
    CHttpDownloader2 downloader;
    downloader.url = UrlFor(served, "localhost");
    downloader.localFileName = local.File("private.bin");
    EXPECT_TRUE(downloader.Download());
    EXPECT_TRUE(ReadWholeFile(local.File("private.bin")) == PatternBytes(5000));
}

TEST_F(HttpsTest, WithoutAnyAuthorityTheTransferFailsAndSaysWhy) {
    ServedFolder served(Tls(files, false));
    served.Write("data.bin", PatternBytes(5000));
    ScopedEnv noFile("SSL_CERT_FILE", "");
    ScopedEnv noFolder("SSL_CERT_DIR", "");
    TempDir bareSystem;
    SetCaBundleRoot(bareSystem.path());
    CHttpDownloader2 downloader;
    downloader.url = UrlFor(served, "localhost");
    downloader.localFileName = local.File("none.bin");
    const bool fetched = downloader.Download();
    SetCaBundleRoot("");
    EXPECT_FALSE(fetched);
    EXPECT_EQ(log.CountStartingWith("HttpRequest::Open, No certificate authorities to verify the server with"), 1);
    EXPECT_EQ(log.CountStartingWith("CHttpDownloader::_Download, Failed in call to HttpSendRequest, Error:" +
                                    std::to_string(ERROR_INTERNET_INVALID_CA)),
              1);
    EXPECT_TRUE(served.server().Requests().empty());
}

TEST_F(HttpsTest, DemandedClientCertificateIsAppliedOnceThenSentAgain) {
    ServedFolder served(Tls(files, true));
    served.Write("data.bin", PatternBytes(5000));

    TrustingDownloader without(files.authorityFile);
    without.url = UrlFor(served, "localhost");
    without.localFileName = local.File("without.bin");
    EXPECT_FALSE(without.Download());
    EXPECT_EQ(without.certificateRequests, 1);
    EXPECT_EQ(log.CountStartingWith("CHttpDownloader::_Download, Failed in call to HttpSendRequest, Error:" +
                                    std::to_string(ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED)),
              1);

    TrustingDownloader with(files.authorityFile);
    with.clientCertificate =
        std::make_unique<ClientCertificate>(ClientCertificate{files.clientCertificateFile, files.clientKeyFile, ""});
    with.url = UrlFor(served, "localhost");
    with.localFileName = local.File("with.bin");
    EXPECT_TRUE(with.Download());
    EXPECT_EQ(with.certificateRequests, 1);
    EXPECT_TRUE(ReadWholeFile(local.File("with.bin")) == PatternBytes(5000));
}

TEST_F(HttpsTest, RedirectsStayOnHttps) {
    ServedFolder secure(Tls(files, false));
    ServedFolder plain;
    secure.Write("data.bin", PatternBytes(5000));
    plain.Write("data.bin", PatternBytes(5000));
    const std::string base = "https://localhost:" + std::to_string(secure.server().port());

    TrustingDownloader toHttps(files.authorityFile);
    toHttps.url = base + "/data.bin?hops=2";
    toHttps.localFileName = local.File("hops.bin");
    EXPECT_TRUE(toHttps.Download());

    TrustingDownloader toHttp(files.authorityFile);
    toHttp.url = base + "/data.bin?redirect=" + plain.Url("/data.bin");
    toHttp.localFileName = local.File("downgraded.bin");
    EXPECT_FALSE(toHttp.Download());
    EXPECT_TRUE(log.Contains("CHttpDownloader::_Download, Failed in call to HttpSendRequest, Error:" +
                             std::to_string(ERROR_HTTP_REDIRECT_FAILED)));
    EXPECT_TRUE(plain.server().Requests().empty());
    EXPECT_EQ(ReadWholeFile(local.File("downgraded.bin")), "");
}

} // namespace
