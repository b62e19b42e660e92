#include "net/http_downloader.h"
#include "net/internet_errors.h"
#include "res/string_table.h"
#include "support/log_capture.h"
#include "support/recording_downloader.h"
#include "support/served_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <optional>
#include <sys/resource.h>

namespace {

const std::string kBody = PatternBytes(10000);

std::string Prefixed(char fill, std::size_t count, const std::string& rest) {
    return std::string(count, fill) + rest;
}

// Reports where two byte strings first differ instead of printing them.
::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
    if (actual == expected) {
        return ::testing::AssertionSuccess();
    }
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) {
        ++at;
    }
    return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                         << ", first difference at byte " << at;
}

std::string SendFailure(std::uint32_t code) {
    return "CHttpDownloader::_Download, Failed in call to HttpSendRequest, Error:" + std::to_string(code);
}
std::string StatusFailure(int status) {
    return "CHttpDownloader::_Download, Failed to retrieve a HTTP OK or partial content status, Status Code:" +
           std::to_string(status);
}

struct Case {
    const char* name;
    std::string target{};
    std::uint64_t startOffset = 0;
    std::optional<std::string> localBefore{};
    bool headOnly = false;
    std::function<void(RecordingDownloader&)> setUp{};

    bool result = true;
    std::size_t requests = 1;
    const char* method = "GET";
    const char* range = "";
    std::string fileAfter{};
    std::vector<ProgressCall> progress{};
    std::vector<std::string> logLines{};     // messages that must be in the log, whole
    std::vector<std::string> logFragments{}; // texts that must be in the log somewhere
    std::vector<std::string> absentLines{};
    std::function<void(const RecordingDownloader&, const std::vector<RecordedRequest>&)> verify{};
};

// The second request asked for the first byte only, and its answer gave the length.
std::function<void(const RecordingDownloader&, const std::vector<RecordedRequest>&)>
ExpectProbedLength(std::uint64_t length) {
    return [length](const RecordingDownloader& d, const std::vector<RecordedRequest>& requests) {
        EXPECT_EQ(requests[1].method, "GET");
        EXPECT_EQ(requests[1].Header("Range"), "bytes=0-0");
        EXPECT_EQ(d.contentLength, length);
        EXPECT_EQ(d.lastFailure().lengthUnknown, false);
    };
}

std::function<void(const RecordingDownloader&, const std::vector<RecordedRequest>&)> ExpectCause(std::string cause) {
    return [cause](const RecordingDownloader& d, const auto&) {
        EXPECT_EQ(DescribeTransferFailure(d.lastFailure()), cause);
    };
}

// A server's fault, which another attempt or server may mend.
std::function<void(const RecordingDownloader&, const std::vector<RecordedRequest>&)>
ExpectServerFault(std::string cause) {
    return [cause](const RecordingDownloader& d, const auto&) {
        EXPECT_EQ(DescribeTransferFailure(d.lastFailure()), cause);
        EXPECT_FALSE(d.lastFailure().local);
    };
}

// The calls of the pieces alone, without the read that finds the end.
std::vector<ProgressCall> PiecesOnly(std::vector<ProgressCall> calls) {
    calls.pop_back();
    return calls;
}

// Should a body never be stopped, the transfer ends at this progress call instead of filling the disk.
constexpr int kRunawayGuard = 100;

std::vector<Case> Cases() {
    const auto full = ExpectedProgress(10000, 1024, true, 10000);
    const auto fromOffset = ExpectedProgress(6000, 1024, true, 10000);
    static int marker = 0;
    return {
        {.name = "WholeBody",
         .target = "/data.bin",
         .setUp = [](RecordingDownloader& d) { d.SetProgressContext(&marker); },
         .fileAfter = kBody,
         .progress = full,
         .logLines = {"Got a Content-Length header value of 10000",
                      "CHttpDownloader::_Download, Sucessfully call to HttpSendRequest.",
                      "CHttpDownloader2::_Download, Sucessfully allocate read buffer"},
         .verify =
             [](const RecordingDownloader& d, const std::vector<RecordedRequest>& requests) {
                 EXPECT_EQ(d.contexts, std::vector<void*>(d.progress.size(), &marker));
                 EXPECT_EQ(d.contentLength, 10000u);
                 EXPECT_EQ(requests[0].Header("User-Agent"), "TirraLauncher20120615");
                 EXPECT_EQ(requests[0].Header("Accept"), "*/*");
                 EXPECT_EQ(requests[0].Header("Pragma"), "no-cache");
                 EXPECT_EQ(requests[0].Header("Cache-Control"), "no-cache");
             }},
        {.name = "OffsetZeroReplacesExistingFile",
         .target = "/data.bin",
         .localBefore = std::string(20000, 'x'),
         .fileAfter = kBody,
         .progress = full},
        {.name = "OffsetCutsLongerFileAndAppends",
         .target = "/data.bin",
         .startOffset = 4000,
         .localBefore = Prefixed('L', 4000, std::string(8000, 'Z')),
         .range = "bytes=4000-",
         .fileAfter = Prefixed('L', 4000, kBody.substr(4000)),
         .progress = fromOffset},
        {.name = "OffsetExtendsMissingFile",
         .target = "/data.bin",
         .startOffset = 4000,
         .range = "bytes=4000-",
         .fileAfter = Prefixed('\0', 4000, kBody.substr(4000)),
         .progress = fromOffset},
        {.name = "WholeBodyForRangeRestartsFile",
         .target = "/data.bin?ignore_range=1",
         .startOffset = 4000,
         .localBefore = std::string(4000, 'L'),
         .range = "bytes=4000-",
         .fileAfter = kBody,
         .progress = full,
         .logFragments = {"The server sent the whole file instead of the range from [4000]"},
         .verify = [](const RecordingDownloader& d, const auto&) { EXPECT_EQ(d.startOffset, 0u); }},
        // A HEAD without a length is asked again for the first byte: the length of a 206, a 416 or a 200.
        {.name = "HeadWithoutLengthFails",
         .target = "/data.bin?no_length=1&ignore_range=1",
         .headOnly = true,
         .setUp = [](RecordingDownloader& d) { d.contentLength = 77; },
         .result = false,
         .requests = 2,
         .method = "HEAD",
         .logLines = {"CHttpDownloader2::_Download, failed to get content length for request, continuing"},
         .verify =
             [](const RecordingDownloader& d, const auto&) {
                 EXPECT_EQ(d.contentLength, 0u);
                 EXPECT_TRUE(d.lastFailure().lengthUnknown);
                 EXPECT_EQ(DescribeTransferFailure(d.lastFailure()), "the server does not tell the file's size");
             }},
        {.name = "HeadWithoutLengthLearnsItFromARange",
         .target = "/data.bin?head_no_length=1",
         .headOnly = true,
         .requests = 2,
         .method = "HEAD",
         .verify = ExpectProbedLength(10000)},
        {.name = "HeadWithoutLengthOfAnEmptyFile",
         .target = "/empty.bin?head_no_length=1",
         .headOnly = true,
         .requests = 2,
         .method = "HEAD",
         .verify = ExpectProbedLength(0)},
        {.name = "HeadWithoutLengthWhereRangesAreIgnored",
         .target = "/data.bin?head_no_length=1&ignore_range=1",
         .headOnly = true,
         .requests = 2,
         .method = "HEAD",
         .verify = ExpectProbedLength(10000)},
        {.name = "HeadWithLengthLeavesTheFileAlone",
         .target = "/data.bin",
         .localBefore = "old",
         .headOnly = true,
         .method = "HEAD",
         .fileAfter = "old",
         .logLines = {"Got a Content-Length header value of 10000",
                      "CHttpDownloader2::_Download, Sucessfully get content length for request, continuing"},
         .verify = [](const RecordingDownloader& d, const auto&) { EXPECT_EQ(d.contentLength, 10000u); }},
        {.name = "BodyWithoutLength",
         .target = "/data.bin?no_length=1",
         .startOffset = 4000,
         .localBefore = std::string(4000, 'L'),
         .range = "bytes=4000-",
         .fileAfter = Prefixed('L', 4000, kBody.substr(4000)),
         .progress = ExpectedProgress(6000, 1024, false, 4000)},
        {.name = "EmptyBody", .target = "/empty.bin", .progress = {{0, 0, true, 0}}},
        // No answer makes the file larger than expected; one that breaks its own word keeps none of its bytes,
        // which at the expected size would pass for the whole file.
        {.name = "EndlessBodyStopsAtTheExpectedSize",
         .target = "/data.bin?endless=1",
         .setUp =
             [](RecordingDownloader& d) {
                 d.expectedSize = 10000;
                 d.abortAtCall = kRunawayGuard;
             },
         .result = false,
         .progress = PiecesOnly(ExpectedProgress(9216, 1024, false, 0)),
         .logFragments = {"The server sent more than the [10000] bytes of ["},
         .verify = ExpectServerFault("the server sent more than the 10000 bytes it announced")},
        {.name = "EndlessRangeStopsAtItsLastByte",
         .target = "/data.bin?endless=1",
         .startOffset = 4000,
         .localBefore = std::string(4000, 'L'),
         .setUp = [](RecordingDownloader& d) { d.abortAtCall = kRunawayGuard; },
         .result = false,
         .range = "bytes=4000-",
         .fileAfter = std::string(4000, 'L'),
         .progress = PiecesOnly(ExpectedProgress(5120, 1024, false, 4000)),
         .verify = ExpectServerFault("the server sent more than the 10000 bytes it announced")},
        {.name = "BodyWithoutLengthMayReachTheExpectedSize",
         .target = "/data.bin?no_length=1",
         .setUp = [](RecordingDownloader& d) { d.expectedSize = 10000; },
         .fileAfter = kBody,
         .progress = ExpectedProgress(10000, 1024, false, 0)},
        {.name = "LargerAnnouncedFileIsRefusedBeforeAByte",
         .target = "/data.bin?announce=100000000",
         .localBefore = "the player's bytes",
         .setUp = [](RecordingDownloader& d) { d.expectedSize = 10000; },
         .result = false,
         .fileAfter = "the player's bytes",
         .logFragments = {"The server announces [100000000] bytes of ["},
         .verify = ExpectServerFault("the server announced 100000000 bytes, more than the 10000 it announced before")},
        {.name = "LargerAnnouncedRangeIsRefusedBeforeAByte",
         .target = "/data.bin",
         .startOffset = 4000,
         .localBefore = std::string(4000, 'L'),
         .setUp = [](RecordingDownloader& d) { d.expectedSize = 9000; },
         .result = false,
         .range = "bytes=4000-",
         .fileAfter = std::string(4000, 'L'),
         .verify = ExpectServerFault("the server announced 10000 bytes, more than the 9000 it announced before")},
        {.name = "NotFound",
         .target = "/data.bin?status=404",
         .result = false,
         .logLines = {StatusFailure(404), "404 MB"}},
        {.name = "PartialContentFromWrongByteFails",
         .target = "/data.bin?range_from=3000",
         .startOffset = 4000,
         .localBefore = std::string(4000, 'L'),
         .result = false,
         .range = "bytes=4000-",
         .fileAfter = std::string(4000, 'L'),
         .logLines = {"206 MB"},
         .logFragments = {"Content-Range [bytes 3000-9999/10000] does not start at [4000]."},
         .verify = ExpectServerFault("the server sent a range that does not match the request")},
        {.name = "RedirectsFollowed",
         .target = "/data.bin?hops=3",
         .requests = 4,
         .fileAfter = kBody,
         .progress = full},
        {.name = "TenRedirectsAtMost",
         .target = "/data.bin?hops=11",
         .result = false,
         .requests = 11,
         .logLines = {SendFailure(ERROR_HTTP_REDIRECT_FAILED),
                      FormatStringId(111, CHttpDownloader2::FormatErrorText(ERROR_HTTP_REDIRECT_FAILED))}},
        {.name = "RedirectToOtherSchemeRefused",
         .target = "/data.bin?redirect=ftp://127.0.0.1:1/data.bin",
         .result = false,
         .logLines = {SendFailure(ERROR_HTTP_REDIRECT_FAILED)}},
        {.name = "RedirectNotFollowedWhenAsked",
         .target = "/data.bin?hops=1",
         .setUp = [](RecordingDownloader& d) { d.noAutoRedirect = 1; },
         .result = false,
         .logLines = {StatusFailure(302), "302 MB"}},
        {.name = "ConnectionLostMidBody",
         .target = "/data.bin?reset_after=5000",
         .result = false,
         .fileAfter = kBody.substr(0, 5000),
         .progress = {{1024, 1024, true, 10000},
                      {2048, 1024, true, 10000},
                      {3072, 1024, true, 10000},
                      {4096, 1024, true, 10000},
                      {5000, 904, true, 10000}},
         .logLines = {"CHttpDownloader::_Download, Failed in call to InternetReadFile, Error:12030",
                      FormatStringId(114, CHttpDownloader2::FormatErrorText(ERROR_INTERNET_CONNECTION_ABORTED),
                                     "ConnectionLostMidBody.bin")}},
        {.name = "AbortSeenBeforeTheLastByteFailsAndKeepsThePart",
         .target = "/data.bin",
         .setUp = [](RecordingDownloader& d) { d.abortAtCall = 3; },
         .result = false,
         .fileAfter = kBody.substr(0, 3072),
         .progress = {full.begin(), full.begin() + 3},
         .logLines = {"CHttpDownloader::_Download, Failed in call to InternetReadFile, Error:12017"}},
        {.name = "AbortSeenWithTheLastByteIsComplete",
         .target = "/data.bin",
         .setUp = [](RecordingDownloader& d) { d.abortAtCall = 10; },
         .fileAfter = kBody,
         .progress = {full.begin(), full.begin() + 10}},
        {.name = "AbortBeforeTheTransferLeavesTheFileAlone",
         .target = "/data.bin",
         .localBefore = "the player's bytes",
         .setUp = [](RecordingDownloader& d) { d.abortFlag.exchange(1); },
         .result = false,
         .requests = 0,
         .fileAfter = "the player's bytes",
         .logLines = {"CHttpDownloader2::_Download, Stop requested before the transfer, the local file is left alone"}},
        {.name = "FailedAnswerLeavesTheFileToReplaceAlone",
         .target = "/data.bin?status=503",
         .localBefore = "the player's bytes",
         .result = false,
         .fileAfter = "the player's bytes",
         .logLines = {StatusFailure(503)}},
        {.name = "AbortSeenWithDataEndsWithFalse",
         .target = "/data.bin",
         .setUp = [](RecordingDownloader& d) { d.abortInOnDownloadData = true; },
         .result = false,
         .fileAfter = kBody.substr(0, 1024), // the piece in hand is written before the flag is looked at
         .logLines = {"CHttpDownloader::_Download, Failed in call to OnDownloadData."}},
        {.name = "PlainDownloaderGivesUpOnCredentials",
         .target = "/data.bin?auth=401",
         .result = false,
         .absentLines = {StatusFailure(401), "401 MB"},
         .verify =
             [](const RecordingDownloader& d, const auto&) {
                 EXPECT_EQ(d.prompts, 1);
                 EXPECT_EQ(DescribeTransferFailure(d.lastFailure()), "the server asks for a password");
             }},
        {.name = "ResendingHookStopsAfterThreeResends",
         .target = "/data.bin?auth=401",
         .setUp = [](RecordingDownloader& d) { d.alwaysResend = true; },
         .result = false,
         .requests = 4,
         .logLines = {StatusFailure(401), "401 MB"},
         .verify = [](const RecordingDownloader& d, const auto&) { EXPECT_EQ(d.prompts, 3); }},
        {.name = "ResendingHookStopsAfterThreeResendsForProxy",
         .target = "/data.bin?auth=407",
         .setUp = [](RecordingDownloader& d) { d.alwaysResend = true; },
         .result = false,
         .requests = 4,
         .logLines = {StatusFailure(407), "407 MB"},
         .verify = ExpectCause("the proxy asks for a password")},
        // Credentials that were sent and answered with the same demand were refused: a different cause.
        {.name = "RefusedProxyPassword",
         .target = "/data.bin?auth=407&refuse_credentials=1",
         .setUp =
             [](RecordingDownloader& d) {
                 d.proxyUserName = "user";
                 d.proxyPassword = "wrong";
                 d.alwaysResend = true;
             },
         .result = false,
         .requests = 4,
         .verify = ExpectCause("the proxy refused the password")},
        {.name = "RefusedServerPassword",
         .target = "/data.bin?auth=401&refuse_credentials=1",
         .setUp =
             [](RecordingDownloader& d) {
                 d.httpUserName = "user";
                 d.httpPassword = "wrong";
                 d.alwaysResend = true;
             },
         .result = false,
         .requests = 4,
         .verify = ExpectCause("the server refused the password")},
        {.name = "ServerCredentialsAppliedAfter401",
         .target = "/data.bin?auth=401",
         .setUp =
             [](RecordingDownloader& d) {
                 d.httpUserName = "user";
                 d.httpPassword = "pass";
                 d.sendHttpCredentials = 0;
             },
         .requests = 2,
         .fileAfter = kBody,
         .progress = full,
         .logLines = {"CHttpDownloader::DoHTTPAuthentication, Sucesfully set HTTP server username details."},
         .verify =
             [](const RecordingDownloader& d, const std::vector<RecordedRequest>& requests) {
                 EXPECT_EQ(requests[0].Header("Authorization"), "");
                 EXPECT_EQ(requests[1].Header("Authorization"), "Basic dXNlcjpwYXNz");
                 EXPECT_EQ(d.prompts, 0);
             }},
        {.name = "ReadBufferSizeSetsThePieces",
         .target = "/data.bin",
         .setUp = [](RecordingDownloader& d) { d.readBufferSize = 4096; },
         .fileAfter = kBody,
         .progress = ExpectedProgress(10000, 4096, true, 10000)},
        {.name = "UnknownAccessTypeOpensNoSession",
         .target = "/data.bin",
         .setUp = [](RecordingDownloader& d) { d.accessType = 3; },
         .result = false,
         .requests = 0,
         .logLines = {"CHttpDownloader2::CreateSession, Failed in call to WinHttpOpen, Error:22"}},
        {.name = "LocalFileCannotBeOpened",
         .target = "/data.bin",
         .setUp = [](RecordingDownloader& d) { d.localFileName = "/nonexistent-folder/file.bin"; },
         .result = false,
         .requests = 0,
         .logLines = {"CHttpDownloader2::_Download, Failed to open the file to download into, Error:2", "경고"}},
    };
}

class HttpDownloaderTest : public ::testing::Test {
protected:
    HttpDownloaderTest() {
        served.Write("data.bin", kBody);
        served.Write("empty.bin", "");
    }

    ServedFolder served;
    TempDir local;
};

TEST_F(HttpDownloaderTest, EdgeCases) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        served.server().ClearRequests();
        const std::string path = local.File(std::string(c.name) + ".bin");
        if (c.localBefore) {
            local.Write(std::string(c.name) + ".bin", *c.localBefore);
        }
        RecordingDownloader downloader;
        downloader.url = served.Url(c.target);
        downloader.localFileName = path;
        downloader.startOffset = c.startOffset;
        downloader.headOnly = c.headOnly ? 1 : 0;
        if (c.setUp) {
            c.setUp(downloader);
        }

        EXPECT_EQ(downloader.Download(), c.result);

        const auto requests = served.server().Requests();
        ASSERT_EQ(requests.size(), c.requests);
        if (!requests.empty()) {
            EXPECT_EQ(requests[0].method, c.method);
            EXPECT_EQ(requests[0].target, c.target);
            EXPECT_EQ(requests[0].Header("Range"), c.range);
        }
        EXPECT_TRUE(SameBytes(ReadWholeFile(path), c.fileAfter));
        EXPECT_EQ(downloader.progress, c.progress);
        for (const auto& line : c.logLines) {
            EXPECT_TRUE(log.Contains(line)) << line;
        }
        for (const auto& fragment : c.logFragments) {
            EXPECT_NE(log.Text().find(fragment), std::string::npos) << fragment;
        }
        for (const auto& line : c.absentLines) {
            EXPECT_FALSE(log.Contains(line)) << line;
        }
        if (c.verify) {
            c.verify(downloader, requests);
        }
    }
}

// Lengths and ranges are read whole and checked against each other, the request and what a file system
// holds (2^63 - 1 bytes); an answer that fails leaves the player's file as it was.
TEST_F(HttpDownloaderTest, SizesNoFileCanHaveAreRefused) {
    struct Forged {
        std::string query;
        bool headOnly;
        std::uint64_t startOffset;
        std::string cause; // empty: the transfer succeeds
    };
    const std::string badLength = "the server announced an invalid size";
    const std::string badRange = "the server sent a range that does not match the request";
    const Forged cases[] = {
        {"length=18446744073709551615", true, 0, badLength},
        {"length=18446744073709551615", false, 0, badLength},
        {"length=9223372036854775808", true, 0, badLength},
        {"length=9223372036854775807", true, 0, ""},
        {"length=%2B10000", false, 0, badLength},
        {"length=10000x", false, 0, badLength},
        {"length=1%200000", false, 0, badLength},
        {"content_range=bytes%204000-9998/10000", false, 4000, badRange},
        {"content_range=bytes%204000-9999/9999", false, 4000, badRange},
        {"content_range=bytes%204000-3999/10000", false, 4000, badRange},
        {"content_range=bytes%204000-9999/x", false, 4000, badRange},
        {"content_range=bytes%204000-9999/10000x", false, 4000, badRange},
        {"content_range=bytes%204000-9999/18446744073709551616", false, 4000, badRange},
        {"content_range=bytes%204000-9999", false, 4000, badRange},
        {"content_range=bytes%20%2B4000-9999/10000", false, 4000, badRange},
        {"content_range=bytes%204000-9999/*", false, 4000, ""},
    };
    for (const Forged& c : cases) {
        SCOPED_TRACE(c.query + (c.headOnly ? " HEAD" : " GET"));
        const std::string before = c.startOffset > 0 ? std::string(c.startOffset, 'L') : "the player's bytes";
        local.Write("forged.bin", before);
        const std::string path = local.File("forged.bin");
        RecordingDownloader downloader;
        downloader.url = served.Url("/data.bin?" + c.query);
        downloader.localFileName = path;
        downloader.headOnly = c.headOnly ? 1 : 0;
        downloader.startOffset = c.startOffset;
        downloader.abortAtCall = kRunawayGuard;

        EXPECT_EQ(downloader.Download(), c.cause.empty());
        if (!c.cause.empty()) {
            EXPECT_EQ(DescribeTransferFailure(downloader.lastFailure()), c.cause);
            EXPECT_FALSE(downloader.lastFailure().local);
            EXPECT_TRUE(SameBytes(ReadWholeFile(path), before));
        } else if (c.headOnly) {
            EXPECT_EQ(downloader.contentLength, 9223372036854775807u);
        } else {
            EXPECT_TRUE(SameBytes(ReadWholeFile(path), before + kBody.substr(c.startOffset)));
        }
    }
}

TEST_F(HttpDownloaderTest, UrlWithoutSchemeKeepsThePrefix) {
    LogCapture log;
    RecordingDownloader downloader;
    const std::string bare = "127.0.0.1:" + std::to_string(served.server().port()) + "/data.bin";
    downloader.url = bare;
    downloader.localFileName = local.File("bare.bin");
    EXPECT_TRUE(downloader.Download());
    EXPECT_EQ(downloader.url, "http://" + bare);
    EXPECT_TRUE(log.Contains("CHttpDownloader2::_Download, Sucessfully parse the URL: http://" + bare));
    EXPECT_TRUE(SameBytes(ReadWholeFile(local.File("bare.bin")), kBody));

    // Parsed once with its scheme, it is not touched again.
    EXPECT_TRUE(downloader.Download());
    EXPECT_EQ(downloader.url, "http://" + bare);
    EXPECT_EQ(log.CountStartingWith("CHttpDownloader2::_Download, Sucessfully parse the URL"), 1);
}

TEST_F(HttpDownloaderTest, UnparsableUrlFailsWithoutRequest) {
    LogCapture log;
    RecordingDownloader downloader;
    downloader.url = "";
    downloader.localFileName = local.File("none.bin");
    EXPECT_FALSE(downloader.Download());
    EXPECT_TRUE(log.Contains("CHttpDownloader2::_Download, Failed to parse the URL: http://"));
    EXPECT_TRUE(served.server().Requests().empty());
    EXPECT_FALSE(FileExists(local.File("none.bin")));
}

TEST_F(HttpDownloaderTest, VerbStaysHeadForLaterTransfers) {
    RecordingDownloader downloader;
    downloader.url = served.Url("/data.bin");
    downloader.localFileName = local.File("head.bin");
    downloader.headOnly = 1;
    EXPECT_TRUE(downloader.Download());
    downloader.headOnly = 0;
    EXPECT_TRUE(downloader.Download()); // a HEAD answer has no body: nothing is written
    EXPECT_EQ(downloader.verb, "HEAD");
    const auto requests = served.server().Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].method, "HEAD");
    EXPECT_EQ(ReadWholeFile(local.File("head.bin")), "");
    EXPECT_EQ(downloader.progress, (std::vector<ProgressCall>{{0, 0, true, 10000}}));
}

TEST_F(HttpDownloaderTest, RateLimitHoldsTheAverage) {
    RecordingDownloader downloader;
    downloader.url = served.Url("/data.bin");
    downloader.localFileName = local.File("slow.bin");
    downloader.maxBytesPerMs = 40.0; // 10 000 bytes take at least 250 ms
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(downloader.Download());
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_GE(elapsed, std::chrono::milliseconds(240));
    EXPECT_LT(elapsed, std::chrono::milliseconds(2000));
    EXPECT_TRUE(SameBytes(ReadWholeFile(local.File("slow.bin")), kBody));
}

TEST_F(HttpDownloaderTest, WriteFailureIsReportedEvenWhenBuffered) {
    LogCapture log;
    RecordingDownloader downloader;
    downloader.url = served.Url("/data.bin");
    downloader.localFileName = local.File("limited.bin");
    // The file may not grow past 6000 bytes; the buffered writes reach the disk only at the end.
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = previous;
    limited.rlim_cur = 6000;
    setrlimit(RLIMIT_FSIZE, &limited);
    const bool result = downloader.Download();
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(result);
    EXPECT_TRUE(
        log.Contains("CHttpDownloader::OnDownloadData, An exception occured while writing to the download file"));
    // The broken-off text names the file: "File too large (limited.bin 다운로드)".
    EXPECT_TRUE(log.Contains(FormatStringId(114, CHttpDownloader2::FormatErrorText(EFBIG), "limited.bin")));
    EXPECT_TRUE(log.Contains("CHttpDownloader::_Download, Failed in call to OnDownloadData."));
}

TEST(HttpDownloaderReports, TextsComeFromTheStringTable) {
    LogCapture log;
    CHttpDownloader2 downloader;
    downloader.ReportErrorCode(110, 14); // "%1% of %2 completed": no insert is read as a format
    downloader.ReportError(114, ENOSPC);
    downloader.SetStatusFormat(111, "12");
    downloader.SetStatusId(132);
    downloader.SetStatusId(9999); // missing: no status at all
    EXPECT_EQ(log.Messages(),
              (std::vector<std::string>{"14% of ? completed", FormatStringId(114, std::strerror(ENOSPC)), "",
                                        "CHttpDownloader2::SetStatus, 12 Bytes", "",
                                        "CHttpDownloader2::SetStatus, 알림", ""}));
}

TEST(HttpDownloaderReports, DeleteDownloadedFileLogsBothOutcomes) {
    LogCapture log;
    TempDir dir;
    dir.Write("partial.bin", "abc");
    CHttpDownloader2 downloader;
    downloader.localFileName = dir.File("partial.bin");
    EXPECT_TRUE(downloader.DeleteDownloadedFile());
    EXPECT_FALSE(FileExists(dir.File("partial.bin")));
    EXPECT_FALSE(downloader.DeleteDownloadedFile());
    const std::string announce =
        "[CHttpDownloader2::DeleteDownloadedFile][265] File [" + dir.File("partial.bin") + "] is to be deleted.";
    EXPECT_EQ(log.CountStartingWith(announce), 2);
    EXPECT_TRUE(log.Contains("CHttpDownloader2::DeleteDownloadedFile, Sucessfully delete failed downloaded file"));
    EXPECT_TRUE(
        log.Contains("CHttpDownloader2::DeleteDownloadedFile, Failed to delete failed downloaded file, Error:2"));
}

TEST(HttpDownloaderFlags, RequestFlagsFollowTheSettings) {
    CHttpDownloader2 downloader;
    EXPECT_EQ(downloader.GetOpenRequestFlags(), 0x84400100u);
    downloader.serviceType = 4107; // HTTPS: secure, and no certificate check switched off
    EXPECT_EQ(downloader.GetOpenRequestFlags(), 0x84C00100u);
    downloader.noAutoRedirect = 1;
    EXPECT_EQ(downloader.GetOpenRequestFlags(), 0x84E00100u);
    EXPECT_EQ(downloader.BuildRequestHeaders(), "");
    downloader.startOffset = 5000000000;
    EXPECT_EQ(downloader.BuildRequestHeaders(), "Range: bytes=5000000000-\r\n");
}

} // namespace
