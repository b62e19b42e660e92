#include "net/file_validator.h"
#include "net/http_downloader.h"
#include "net/internet_errors.h"
#include "support/log_capture.h"
#include "support/served_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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

// Servers that honour Range but not If-Range answer a continued part of an old version with a 206 of the
// new one: appended, it would make a file of two versions.
TEST_F(ResumeValidationTest, AContinuedPartIsAppendedOnlyToItsOwnVersion) {
    struct Row {
        const char* name;
        const char* query;
        bool serverChanged;
        std::size_t requests; // 1: continued; 2: the range was dropped and the whole file fetched
        bool validatorAfter;  // the file carries a validator afterwards
    } rows[] = {
        {"another version's range is dropped", "?ignore_if_range=1", true, 2, true},
        {"a range without a validator is dropped", "?ignore_if_range=1&no_validators=1", true, 2, false},
        {"the same version's range is appended", "?ignore_if_range=1", false, 1, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        served.Write("data.bin", version1);
        CHttpDownloader2 downloader;
        ASSERT_TRUE(Fetch("part.bin", 0, downloader));
        ASSERT_EQ(::truncate(local.File("part.bin").c_str(), 20000), 0);
        if (row.serverChanged) {
            ReplaceWithSameSize(served, "data.bin", version2);
        }
        served.server().ClearRequests();
        downloader.url = served.Url(std::string("/data.bin") + row.query);
        downloader.startOffset = 20000;
        ASSERT_TRUE(downloader.Download());

        const auto requests = served.server().Requests();
        ASSERT_EQ(requests.size(), row.requests);
        EXPECT_NE(requests[0].Header("If-Range"), "");
        if (row.requests == 2) {
            EXPECT_EQ(requests[1].Header("Range"), ""); // a plain request for the whole file
            EXPECT_EQ(requests[1].Header("If-Range"), "");
            EXPECT_EQ(downloader.startOffset, 0u);
        }
        EXPECT_EQ(ReadWholeFile(local.File("part.bin")), row.serverChanged ? version2 : version1);
        EXPECT_EQ(LoadFileValidator(local.File("part.bin")).has_value(), row.validatorAfter);
    }
}

// A validator vouches only for the server that gave it, and only for bytes that all came from its version.
TEST_F(ResumeValidationTest, AValidatorGoesOnlyToItsOwnServerAndVouchesOnlyForItsOwnBytes) {
    const std::string part = local.File("mirrored.bin");
    local.Write("mirrored.bin", version1.substr(0, 20000));
    ASSERT_TRUE(StoreFileValidator(part, "\"mirror-etag\"", "mirror.example:8080"));

    CHttpDownloader2 validated;
    ASSERT_TRUE(Fetch("mirrored.bin", 20000, validated));
    auto requests = served.server().Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Header("If-Range"), ""); // never the mirror's value
    EXPECT_EQ(requests[0].Header("Range"), "");    // its version is unknown here: the whole file
    EXPECT_EQ(ReadWholeFile(part), version1);
    EXPECT_NE(log.Text().find("The part of [" + part + "] on disk came from [mirror.example:8080]"), std::string::npos);

    // Continued without a validator on purpose (a digest decides): the range's validator is not kept, as
    // the bytes before it may be of any version.
    local.Write("mirrored.bin", version1.substr(0, 20000));
    ASSERT_TRUE(StoreFileValidator(part, "\"mirror-etag\"", "mirror.example:8080"));
    served.server().ClearRequests();
    CHttpDownloader2 unvalidated;
    unvalidated.validateResume = false;
    ASSERT_TRUE(Fetch("mirrored.bin", 20000, unvalidated));
    requests = served.server().Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Header("Range"), "bytes=20000-");
    EXPECT_EQ(requests[0].Header("If-Range"), "");
    EXPECT_EQ(ReadWholeFile(part), version1);
    EXPECT_FALSE(LoadFileValidator(part).has_value());

    // The same for a part that never had one.
    local.Write("plain.bin", version1.substr(0, 20000));
    CHttpDownloader2 plain;
    ASSERT_TRUE(Fetch("plain.bin", 20000, plain));
    EXPECT_EQ(ReadWholeFile(local.File("plain.bin")), version1);
    EXPECT_FALSE(LoadFileValidator(local.File("plain.bin")).has_value());
}

TEST_F(ResumeValidationTest, AStopEndsTheHashingOfAHugePrefix) {
    const std::string huge = local.File("huge.bin");
    const int fd = ::open(huge.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    constexpr std::uint64_t kSize = 8ULL << 30; // sparse: no disk
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kSize)), 0);
    ::close(fd);

    CHttpDownloader2 downloader;
    downloader.localFileName = huge;
    std::thread stopper([&downloader] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        downloader.abortFlag = 1;
    });
    const auto start = std::chrono::steady_clock::now();
    const bool hashed = downloader.HashFile(kSize);
    const auto took = std::chrono::steady_clock::now() - start;
    stopper.join();
    EXPECT_FALSE(hashed);
    EXPECT_LT(took, std::chrono::seconds(1));
}

TEST_F(ResumeValidationTest, WithoutAStoredVersionResumeIsAsBeforeAndSaysSo) {
    // A part from elsewhere, and a file system that keeps no extended attributes.
    local.Write("elsewhere.bin", version1.substr(0, 30000));
    SetFileValidatorStoreFails(true);
    CHttpDownloader2 downloader;
    const bool continued = Fetch("elsewhere.bin", 30000, downloader);
    EXPECT_EQ(served.server().Requests().back().Header("Range"), "bytes=30000-");
    EXPECT_EQ(LastIfRange(), "");
    const bool fetchedWhole = Fetch("whole.bin", 0, downloader);
    SetFileValidatorStoreFails(false);
    ASSERT_TRUE(continued);
    ASSERT_TRUE(fetchedWhole);
    EXPECT_EQ(ReadWholeFile(local.File("elsewhere.bin")), version1);
    EXPECT_NE(log.Text().find("No version of the server's file is stored with [" + local.File("elsewhere.bin") +
                              "]: continuing it unvalidated."),
              std::string::npos);
    EXPECT_NE(log.Text().find("Cannot keep the server file's version with [" + local.File("whole.bin") + "]"),
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
