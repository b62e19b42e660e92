#include "net/file_validator.h"
#include "net/http_downloader.h"
#include "net/internet_errors.h"
#include "support/log_capture.h"
#include "support/served_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// The server's file at a new version of the same size: other bytes, a later modification time.
void ReplaceWithSameSize(const ServedFolder& served, const std::string& name, const std::string& content) {
    served.Write(name, content);
    const timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
    ::utimensat(AT_FDCWD, served.folder().File(name).c_str(), later, 0);
}

class ResumeValidationTest : public ::testing::Test {
protected:
    ResumeValidationTest() { served.Write("data.bin", version1); }

    // Fetches data.bin into `name` from `offset` on; the result of the transfer.
    bool Fetch(const std::string& name, std::uint64_t offset, CHttpDownloader2& downloader) {
        downloader.url = served.Url("/data.bin");
        downloader.localFileName = local.File(name);
        downloader.startOffset = offset;
        return downloader.Download();
    }
    std::string LastIfRange() const { return served.server().Requests().back().Header("If-Range"); }

    const std::string version1 = PatternBytes(50000);
    const std::string version2 = std::string(50000, 'v');
    ServedFolder served;
    TempDir local;
    LogCapture log;
};

TEST_F(ResumeValidationTest, AContinuedFileAsksForItsOwnVersion) {
    CHttpDownloader2 downloader;
    ASSERT_TRUE(Fetch("part.bin", 0, downloader));
    const std::optional<std::string> stored = LoadFileValidator(local.File("part.bin"));
    ASSERT_TRUE(stored.has_value()); // kept with the file from the first answer on
    EXPECT_EQ(stored->front(), '"'); // the strong ETag, not the date

    // Cut off at 20 000 bytes, then continued while the server still has that version.
    ASSERT_EQ(::truncate(local.File("part.bin").c_str(), 20000), 0);
    ASSERT_TRUE(Fetch("part.bin", 20000, downloader));
    EXPECT_EQ(served.server().Requests().back().Header("Range"), "bytes=20000-");
    EXPECT_EQ(LastIfRange(), *stored);
    EXPECT_EQ(ReadWholeFile(local.File("part.bin")), version1);
}

TEST_F(ResumeValidationTest, ServerFileChangedMeansTheNewVersionWholeNotASplice) {
    CHttpDownloader2 downloader;
    ASSERT_TRUE(Fetch("part.bin", 0, downloader));
    ASSERT_EQ(::truncate(local.File("part.bin").c_str(), 20000), 0);
    const std::optional<std::string> before = LoadFileValidator(local.File("part.bin"));

    ReplaceWithSameSize(served, "data.bin", version2);
    ASSERT_TRUE(Fetch("part.bin", 20000, downloader));
    EXPECT_EQ(LastIfRange(), *before);
    EXPECT_EQ(ReadWholeFile(local.File("part.bin")), version2);
    EXPECT_NE(LoadFileValidator(local.File("part.bin")), before); // the new version's now
    EXPECT_NE(log.Text().find("The server's file changed since [" + local.File("part.bin") + "] was begun"),
              std::string::npos);
}

TEST_F(ResumeValidationTest, WithoutAStoredVersionResumeIsAsBeforeAndSaysSo) {
    // A part from elsewhere, and a file system that keeps no extended attributes.
    local.Write("elsewhere.bin", version1.substr(0, 30000));
    SetFileValidatorStoreFails(true);
    CHttpDownloader2 downloader;
    const bool fetched = Fetch("elsewhere.bin", 30000, downloader);
    SetFileValidatorStoreFails(false);
    ASSERT_TRUE(fetched);
    EXPECT_EQ(served.server().Requests().back().Header("Range"), "bytes=30000-");
    EXPECT_EQ(LastIfRange(), "");
    EXPECT_EQ(ReadWholeFile(local.File("elsewhere.bin")), version1);
    EXPECT_NE(log.Text().find("No version of the server's file is stored with [" + local.File("elsewhere.bin") +
                              "]: continuing it unvalidated."),
              std::string::npos);
    EXPECT_NE(log.Text().find("Cannot keep the server file's version with [" + local.File("elsewhere.bin") + "]"),
              std::string::npos);
    EXPECT_FALSE(LoadFileValidator(local.File("elsewhere.bin")).has_value());
}

TEST_F(ResumeValidationTest, HashedTransfersDigestTheWholeFile) {
    const auto expected = [](const std::string& bytes) {
        Sha256Digest digest;
        digest.Update(bytes.data(), bytes.size());
        return digest.Final();
    };
    CHttpDownloader2 downloader;
    local.Write("part.bin", version1.substr(0, 12345));
    downloader.localFileName = local.File("part.bin");
    ASSERT_TRUE(downloader.HashFile(12345));
    ASSERT_TRUE(Fetch("part.bin", 12345, downloader));
    EXPECT_EQ(downloader.FileDigest(), expected(version1));

    // The whole file instead of the rest: the digest starts again with it.
    served.Write("data.bin", version2);
    local.Write("other.bin", version1.substr(0, 12345));
    downloader.localFileName = local.File("other.bin");
    ASSERT_TRUE(downloader.HashFile(12345));
    downloader.url = served.Url("/data.bin?ignore_range=1");
    downloader.startOffset = 12345;
    ASSERT_TRUE(downloader.Download());
    EXPECT_EQ(downloader.FileDigest(), expected(version2));
}

TEST_F(ResumeValidationTest, FailuresSayWhy) {
    CHttpDownloader2 downloader;
    downloader.url = served.Url("/data.bin?status=503&retry_after=7");
    downloader.localFileName = local.File("failed.bin");
    EXPECT_FALSE(downloader.Download());
    EXPECT_EQ(downloader.lastFailure().status, 503u);
    EXPECT_EQ(downloader.lastFailure().retryAfter, "7");
    EXPECT_EQ(downloader.lastFailure().error, 0u);

    downloader.url = served.Url("/data.bin?reset_after=1000");
    EXPECT_FALSE(downloader.Download());
    EXPECT_EQ(downloader.lastFailure().status, 0u);
    EXPECT_EQ(downloader.lastFailure().error, ERROR_INTERNET_CONNECTION_ABORTED);

    downloader.url = served.Url("/data.bin");
    EXPECT_TRUE(downloader.Download());
    EXPECT_EQ(downloader.lastFailure().error, 0u);
    EXPECT_EQ(downloader.lastFailure().status, 0u);
}

} // namespace
