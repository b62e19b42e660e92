#include "support/served_folder.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

struct Answer {
    long status = 0;
    CURLcode result = CURLE_OK;
    std::string headers;
    std::string body;

    bool HasHeader(const std::string& line) const { return headers.find(line + "\r\n") != std::string::npos; }
    // The value of the header `name` (as the server spells it); empty when absent.
    std::string Header(const std::string& name) const {
        const std::string key = "\r\n" + name + ": ";
        const std::size_t at = headers.find(key);
        return at == std::string::npos
                   ? std::string()
                   : headers.substr(at + key.size(), headers.find("\r\n", at + 2) - at - key.size());
    }
};

// A plain libcurl client, so that the server is checked against a client other than ours.
class Client {
public:
    Client() : easy_(curl_easy_init()) { curl_easy_setopt(easy_, CURLOPT_USERAGENT, "serve-test"); }
    ~Client() { curl_easy_cleanup(easy_); }

    // A body grows no longer than this: the transfer ends there with CURLE_WRITE_ERROR.
    std::size_t bodyLimit = SIZE_MAX;
    long timeoutMs = 0; // of the whole transfer; 0: none

    Answer Get(const std::string& url, const std::string& range = "", bool head = false,
               const std::string& ifRange = "") {
        Answer answer;
        curl_slist* headers = range.empty() ? nullptr : curl_slist_append(nullptr, ("Range: " + range).c_str());
        if (!ifRange.empty()) {
            headers = curl_slist_append(headers, ("If-Range: " + ifRange).c_str());
        }
        curl_easy_setopt(easy_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy_, CURLOPT_NOBODY, head ? 1L : 0L);
        curl_easy_setopt(easy_, CURLOPT_PATH_AS_IS, 1L);
        curl_easy_setopt(easy_, CURLOPT_TIMEOUT_MS, timeoutMs);
        curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &Append);
        curl_easy_setopt(easy_, CURLOPT_HEADERDATA, &answer.headers);
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &AppendBody);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
        body_ = &answer.body;
        answer.result = curl_easy_perform(easy_);
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &answer.status);
        curl_slist_free_all(headers);
        return answer;
    }

private:
    static std::size_t Append(char* data, std::size_t size, std::size_t count, void* text) {
        static_cast<std::string*>(text)->append(data, size * count);
        return size * count;
    }
    static std::size_t AppendBody(char* data, std::size_t size, std::size_t count, void* self) {
        auto& client = *static_cast<Client*>(self);
        const std::size_t room = client.bodyLimit - client.body_->size();
        client.body_->append(data, std::min(size * count, room));
        return size * count <= room ? size * count : 0;
    }
    CURL* easy_;
    std::string* body_ = nullptr;
};

class FileServerTest : public ::testing::Test {
protected:
    FileServerTest() {
        served.Write("data.bin", body);
        served.Write("empty.bin", "");
    }
    const std::string body = PatternBytes(10000);
    ServedFolder served;
    Client client;
};

TEST_F(FileServerTest, AnswersRangesWithTheirPart) {
    struct Case {
        const char* range;
        long status;
        const char* contentRange;
        std::size_t first, length;
    } const cases[] = {
        {"", 200, nullptr, 0, 10000},
        {"bytes=4000-", 206, "Content-Range: bytes 4000-9999/10000", 4000, 6000},
        {"bytes=0-99", 206, "Content-Range: bytes 0-99/10000", 0, 100},
        {"bytes=-100", 206, "Content-Range: bytes 9900-9999/10000", 9900, 100},
        {"bytes=9000-20000", 206, "Content-Range: bytes 9000-9999/10000", 9000, 1000},
        {"bytes=10000-", 416, "Content-Range: bytes */10000", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.range);
        const Answer answer = client.Get(served.Url("/data.bin"), c.range);
        EXPECT_EQ(answer.status, c.status);
        if (c.contentRange != nullptr) {
            EXPECT_TRUE(answer.HasHeader(c.contentRange)) << answer.headers;
        }
        if (c.status != 416) {
            EXPECT_TRUE(answer.HasHeader("Content-Length: " + std::to_string(c.length))) << answer.headers;
            EXPECT_EQ(answer.body, body.substr(c.first, c.length));
        }
    }
}

TEST_F(FileServerTest, FaultsChosenByTheQuery) {
    const Answer head = client.Get(served.Url("/data.bin"), "", true);
    EXPECT_TRUE(head.HasHeader("Content-Length: 10000"));
    EXPECT_EQ(head.body, "");

    const Answer whole = client.Get(served.Url("/data.bin?ignore_range=1"), "bytes=4000-");
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body, body);

    const Answer shifted = client.Get(served.Url("/data.bin?range_from=3000"), "bytes=4000-");
    EXPECT_EQ(shifted.status, 206);
    EXPECT_TRUE(shifted.HasHeader("Content-Range: bytes 3000-9999/10000"));
    EXPECT_EQ(shifted.body, body.substr(3000));

    const Answer unsized = client.Get(served.Url("/data.bin?no_length=1"));
    EXPECT_EQ(unsized.headers.find("Content-Length"), std::string::npos);
    EXPECT_EQ(unsized.body, body);

    const Answer empty = client.Get(served.Url("/empty.bin"));
    EXPECT_TRUE(empty.HasHeader("Content-Length: 0"));

    EXPECT_EQ(client.Get(served.Url("/data.bin?status=503")).status, 503);
    EXPECT_EQ(client.Get(served.Url("/data.bin?auth=401")).status, 401);
    EXPECT_EQ(client.Get(served.Url("/data.bin?auth=407")).status, 407);
    const Answer redirect = client.Get(served.Url("/data.bin?hops=2"));
    EXPECT_EQ(redirect.status, 302);
    EXPECT_TRUE(redirect.HasHeader("Location: /data.bin?hops=1"));

    const Answer cut = client.Get(served.Url("/data.bin?reset_after=3000"));
    EXPECT_EQ(cut.result, CURLE_PARTIAL_FILE);
    EXPECT_EQ(cut.body, body.substr(0, 3000));

    const auto started = std::chrono::steady_clock::now();
    const Answer slow = client.Get(served.Url("/data.bin?rate=40000"));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(200));
    EXPECT_EQ(slow.body, body);
}

TEST_F(FileServerTest, BodiesLongerThanTheirFile) {
    client.bodyLimit = 25000;
    const Answer endless = client.Get(served.Url("/data.bin?endless=1"));
    EXPECT_EQ(endless.result, CURLE_WRITE_ERROR);
    EXPECT_TRUE(endless.HasHeader("Transfer-Encoding: chunked")) << endless.headers;
    EXPECT_EQ(endless.body, (body + body + body).substr(0, 25000));
    const std::string rest = body.substr(4000);
    const Answer endlessRange = client.Get(served.Url("/data.bin?endless=1"), "bytes=4000-");
    EXPECT_EQ(endlessRange.status, 206);
    EXPECT_TRUE(endlessRange.HasHeader("Content-Range: bytes 4000-9999/10000")) << endlessRange.headers;
    EXPECT_EQ(endlessRange.body, (rest + rest + rest + rest + rest).substr(0, 25000));
    client.bodyLimit = SIZE_MAX;

    const Answer announced = client.Get(served.Url("/data.bin?announce=100000000"));
    EXPECT_TRUE(announced.HasHeader("Content-Length: 100000000")) << announced.headers;
    EXPECT_EQ(announced.result, CURLE_PARTIAL_FILE);
    EXPECT_EQ(announced.body, body);
    EXPECT_TRUE(client.Get(served.Url("/data.bin?announce=100000000"), "", true).HasHeader("Content-Length: 10000"));
}

TEST_F(FileServerTest, ForgedLengthsAndRangesGoOutAsGiven) {
    for (const bool head : {true, false}) {
        SCOPED_TRACE(head ? "HEAD" : "GET");
        const Answer huge = client.Get(served.Url("/data.bin?length=18446744073709551615"), "", head);
        EXPECT_TRUE(huge.HasHeader("Content-Length: 18446744073709551615")) << huge.headers;
        const Answer spaced = client.Get(served.Url("/data.bin?length=1%200"), "", head);
        EXPECT_TRUE(spaced.HasHeader("Content-Length: 1 0")) << spaced.headers;
    }
    // A connection that carried a forged length may be closed under the next request: a fresh one.
    Client fresh;
    const Answer ranged = fresh.Get(served.Url("/data.bin?content_range=bytes%204000-9998/10000"), "bytes=4000-");
    EXPECT_EQ(ranged.status, 206);
    EXPECT_TRUE(ranged.HasHeader("Content-Range: bytes 4000-9998/10000")) << ranged.headers;
    EXPECT_EQ(ranged.body, body.substr(4000));
}

TEST_F(FileServerTest, HeadersCanTrickle) {
    client.timeoutMs = 400;
    const Answer trickled = client.Get(served.Url("/data.bin?trickle_headers_ms=100"));
    EXPECT_EQ(trickled.result, CURLE_OPERATION_TIMEDOUT);
    EXPECT_EQ(trickled.headers.rfind("HTTP/1.1 100 Continue\r\n", 0), 0u) << trickled.headers;
    EXPECT_TRUE(trickled.HasHeader("HTTP/1.1 200 OK")) << trickled.headers;
    EXPECT_TRUE(trickled.HasHeader("X-Trickle-1: 1")) << trickled.headers;
    EXPECT_FALSE(trickled.HasHeader("X-Trickle-7: 7")) << trickled.headers;
    EXPECT_EQ(trickled.body, "");

    client.timeoutMs = 0; // a client that waits for all the lines gets the file
    const Answer whole = client.Get(served.Url("/data.bin?trickle_headers_ms=1"));
    EXPECT_EQ(whole.status, 200);
    EXPECT_TRUE(whole.HasHeader("X-Trickle-999: 999"));
    EXPECT_EQ(whole.body, body);
}

TEST_F(FileServerTest, IfRangeGetsThePartOnlyForTheSameVersion) {
    const Answer head = client.Get(served.Url("/data.bin"), "", true);
    const std::string etag = head.Header("ETag");
    const std::string date = head.Header("Last-Modified");
    ASSERT_EQ(etag.front(), '"') << head.headers;
    EXPECT_EQ(date.size(), 29u) << date; // "Wed, 21 Oct 2015 07:28:00 GMT"
    EXPECT_EQ(date.substr(26), "GMT");
    const Answer ranged = client.Get(served.Url("/data.bin"), "bytes=4000-");
    EXPECT_EQ(ranged.Header("ETag"), etag);
    EXPECT_EQ(ranged.Header("Last-Modified"), date);

    struct Case {
        const char* target;
        std::string ifRange;
        long status;
    } const cases[] = {
        {"/data.bin", etag, 206},
        {"/data.bin", date, 206},
        {"/data.bin", "\"another\"", 200},
        {"/data.bin", "W/" + etag, 200},
        {"/data.bin", "Thu, 01 Jan 1970 00:00:00 GMT", 200},
        {"/data.bin?weak_etag=1", "W/" + etag, 200}, // a weak tag names no exact bytes
        {"/data.bin?weak_etag=1", date, 206},
        {"/data.bin?no_validators=1", etag, 200},
        {"/data.bin?no_validators=1", date, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.target) + " If-Range: " + c.ifRange);
        const Answer answer = client.Get(served.Url(c.target), "bytes=4000-", false, c.ifRange);
        EXPECT_EQ(answer.status, c.status);
        EXPECT_EQ(answer.body, c.status == 206 ? body.substr(4000) : body);
    }
    EXPECT_EQ(client.Get(served.Url("/data.bin?weak_etag=1"), "", true).Header("ETag"), "W/" + etag);
    const Answer bare = client.Get(served.Url("/data.bin?no_validators=1"), "", true);
    EXPECT_EQ(bare.headers.find("ETag"), std::string::npos);
    EXPECT_EQ(bare.headers.find("Last-Modified"), std::string::npos);
}

TEST_F(FileServerTest, ValidatorsChangeWithTheFile) {
    const std::string path = served.folder().File("data.bin");
    const auto setModified = [&](time_t seconds, long nanoseconds) {
        const struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    };
    setModified(1445412480, 0);
    const Answer first = client.Get(served.Url("/data.bin"), "", true);
    EXPECT_EQ(first.Header("Last-Modified"), "Wed, 21 Oct 2015 07:28:00 GMT");

    setModified(1445412480, 500); // touched within the same second: only the ETag can tell
    const Answer touched = client.Get(served.Url("/data.bin"), "", true);
    EXPECT_NE(touched.Header("ETag"), first.Header("ETag"));
    EXPECT_EQ(touched.Header("Last-Modified"), first.Header("Last-Modified"));

    // Version 2 of the same size: a range asked for with version 1's tag brings the whole of version 2.
    const std::string second = PatternBytes(10001).substr(1);
    served.Write("data.bin", second);
    setModified(1445412490, 0);
    const Answer replaced = client.Get(served.Url("/data.bin"), "bytes=4000-", false, first.Header("ETag"));
    EXPECT_EQ(replaced.status, 200);
    EXPECT_EQ(replaced.body, second);
    EXPECT_EQ(replaced.Header("Last-Modified"), "Wed, 21 Oct 2015 07:28:10 GMT");
    EXPECT_EQ(client.Get(served.Url("/data.bin"), "bytes=4000-", false, replaced.Header("ETag")).body,
              second.substr(4000));
}

TEST_F(FileServerTest, FailsTheFirstRequestsOfEachTarget) {
    const auto statuses = [&](const std::string& target, int count) {
        std::vector<long> seen;
        for (int i = 0; i < count; ++i) {
            seen.push_back(client.Get(served.Url(target)).status);
        }
        return seen;
    };
    EXPECT_EQ(statuses("/data.bin?fail_first=2", 4), (std::vector<long>{503, 503, 200, 200}));
    // Counted per target: another query is another target.
    EXPECT_EQ(statuses("/data.bin?fail_first=2&n=1", 3), (std::vector<long>{503, 503, 200}));
    EXPECT_EQ(statuses("/data.bin?fail_first=1&status=429", 2), (std::vector<long>{429, 200}));
    EXPECT_EQ(statuses("/data.bin?fail_first=0", 1), (std::vector<long>{200}));
    // A size survey's HEAD leaves the failures of the download's GET where they were.
    EXPECT_EQ(client.Get(served.Url("/data.bin?fail_first=1&m=1"), "", true).status, 503);
    EXPECT_EQ(client.Get(served.Url("/data.bin?fail_first=1&m=1"), "", true).status, 200);
    EXPECT_EQ(statuses("/data.bin?fail_first=1&m=1", 2), (std::vector<long>{503, 200}));
    EXPECT_EQ(statuses("/data.bin?status=502", 2), (std::vector<long>{502, 502}));
    EXPECT_EQ(client.Get(served.Url("/data.bin?fail_first=2")).body, body);
}

TEST_F(FileServerTest, RetryAfterOnStatusAnswersAsGiven) {
    EXPECT_EQ(client.Get(served.Url("/data.bin?status=503&retry_after=7")).Header("Retry-After"), "7");
    EXPECT_EQ(client.Get(served.Url("/data.bin?status=429&retry_after=Wed,%2021%20Oct%202015%2007:28:00%20GMT"))
                  .Header("Retry-After"),
              "Wed, 21 Oct 2015 07:28:00 GMT");
    const std::string target = "/data.bin?fail_first=1&retry_after=2";
    const Answer failed = client.Get(served.Url(target));
    EXPECT_EQ(failed.status, 503);
    EXPECT_EQ(failed.Header("Retry-After"), "2");
    const Answer later = client.Get(served.Url(target));
    EXPECT_EQ(later.status, 200);
    EXPECT_EQ(later.Header("Retry-After"), "");
    EXPECT_EQ(client.Get(served.Url("/data.bin")).Header("Retry-After"), "");
}

TEST_F(FileServerTest, RecordsEveryRequestOnItsConnection) {
    EXPECT_EQ(client.Get(served.Url("/missing.xml?status=end")).status, 404);
    EXPECT_EQ(client.Get(served.Url("/../data.bin")).status, 404);
    EXPECT_EQ(client.Get(served.Url("/data.bin"), "bytes=1-").status, 206);
    const auto requests = served.server().Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/missing.xml?status=end");
    EXPECT_EQ(requests[2].Header("range"), "bytes=1-");
    EXPECT_EQ(served.server().ConnectionCount(), 1u); // one client, kept alive
}

TEST(FileServerRequestLog, AppendsOneLinePerRequestAsItArrives) {
    TempDir logFolder;
    FileServerOptions options;
    options.requestLogFile = logFolder.File("requests.log");
    WriteWholeFile(options.requestLogFile, "earlier\n");
    ServedFolder served(options);
    served.Write("data.bin", "0123456789");
    Client client;
    client.Get(served.Url("/data.bin"), "bytes=4-");
    EXPECT_EQ(ReadWholeFile(options.requestLogFile), "earlier\nGET\t/data.bin\tbytes=4-\tserve-test\n");
    client.Get(served.Url("/data.bin?status=end"), "", true);
    EXPECT_EQ(ReadWholeFile(options.requestLogFile),
              "earlier\nGET\t/data.bin\tbytes=4-\tserve-test\nHEAD\t/data.bin?status=end\t\tserve-test\n");
}

TEST_F(FileServerTest, StopsPromptlyWhileAnAnswerStalls) {
    served.Write("stalled.bin", body);
    auto stalled = std::async(std::launch::async, [&] {
        Client other;
        return other.Get(served.Url("/stalled.bin?stall_ms=60000"));
    });
    while (served.server().Requests().empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const auto started = std::chrono::steady_clock::now();
    served.server().Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_NE(stalled.get().result, CURLE_OK);
}

} // namespace
