#pragma once

#include "net/download_file.h"
#include "net/rate_limit.h"
#include "net/sha256_digest.h"
#include "net/transfer_failure.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

// The three handles of a transfer, mapped onto libcurl (curl_transport.h):
//   internetHandle   - the session: a connection cache (this object's own, which outlives the transfer, or
//                      one of a shared pool) and the agent and proxy settings;
//   connectionHandle - the server, its port and the server credentials given when connecting;
//   requestHandle    - the request: one easy handle, added to the session's multi handle when sent.
struct InternetSession;
struct InternetConnection;
class HttpRequest;
class OwnConnections;

// The bytes a 206 answer's Content-Range names: "bytes first-last/complete", complete may be "*".
struct ContentRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::optional<std::uint64_t> complete;
};

// A client certificate for HTTPS: PEM files of the certificate and its private key.
struct ClientCertificate {
    std::string certificateFile;
    std::string privateKeyFile;
    std::string privateKeyPassword;
};

// Flags of GetOpenRequestFlags.
constexpr std::uint32_t INTERNET_FLAG_RELOAD = 0x80000000;
constexpr std::uint32_t INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
constexpr std::uint32_t INTERNET_FLAG_SECURE = 0x00800000;
constexpr std::uint32_t INTERNET_FLAG_KEEP_CONNECTION = 0x00400000;
constexpr std::uint32_t INTERNET_FLAG_NO_AUTO_REDIRECT = 0x00200000;
constexpr std::uint32_t INTERNET_FLAG_IGNORE_CERT_DATE_INVALID = 0x00002000;
constexpr std::uint32_t INTERNET_FLAG_IGNORE_CERT_CN_INVALID = 0x00001000;
constexpr std::uint32_t INTERNET_FLAG_PRAGMA_NOCACHE = 0x00000100;

// Fetches one URL over HTTP or HTTPS into one local file, continues a partial file from an offset
// (Range), or only learns the size of a resource (HEAD). A fixed sequence of virtual steps with hooks
// for credentials, status texts, errors, progress and received data. One object runs many transfers
// one after another; another thread may stop a running one with abortFlag and CloseHandles.
class CHttpDownloader2 {
public:
    CHttpDownloader2();
    virtual ~CHttpDownloader2();
    CHttpDownloader2(const CHttpDownloader2&) = delete;
    CHttpDownloader2& operator=(const CHttpDownloader2&) = delete;

    bool Download();
    bool _Download();
    // Callable from any thread: a send or read blocked on another thread fails at once.
    void CloseHandles();
    bool DeleteDownloadedFile();
    // False without a Content-Length, or with one that is no size a file can have (digits alone, at most
    // 2^63 - 1).
    bool QueryContentLength(std::uint64_t& length);
    static std::string FormatErrorText(std::uint32_t code);

    // Opt-in, before a transfer: the local file's SHA-256 as the transfer writes it, after its first
    // `existingBytes` (the part a continued transfer keeps), which are read now. False when the file has
    // fewer bytes.
    bool HashFile(std::uint64_t existingBytes);
    // The digest of the whole local file after a hashed transfer that succeeded.
    Sha256Bytes FileDigest();
    const TransferFailure& lastFailure() const { return lastFailure_; }
    // After a segment: how many of its bytes from startOffset on reached the file. Bytes of an answer that
    // broke its word are not counted.
    std::uint64_t segmentBytesWritten() const { return segmentVoid_ ? 0 : file.writtenSincePositioned(); }
    // After a HEAD: the version to name in If-Range when the server says it answers ranges of bytes.
    const std::optional<std::string>& rangeValidator() const { return rangeValidator_; }
    // After a transfer: the answer it wrote came over HTTPS with the server's certificate and name
    // checked, from the server of `url` itself (a redirect to another server does not count). False when
    // no answer was written.
    bool verifiedSecure() const { return verifiedSecure_; }

    // Opt-in, between transfers: take the session from a process-wide pool instead of this object's
    // own, so that downloaders made one after another reuse the connections of those before them.
    // Objects on different threads at the same time get different sessions.
    void UseSharedConnections(bool shared);
    // Closes the idle sessions of the pool and their connections.
    static void CloseSharedConnections();

    virtual bool CreateSession();
    virtual bool CreateConnection();
    virtual bool CreateRequest();
    virtual bool DoHTTPAuthentication();
    virtual bool DoProxyAuthentication();
    virtual bool SetClientCertificate();
    virtual void ReservedHook(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t);
    virtual void ReportError(int stringId, std::uint32_t code);
    virtual void ReportErrorCode(int stringId, std::uint32_t number);
    virtual std::uint32_t GetOpenRequestFlags();
    virtual std::string BuildRequestHeaders();
    virtual bool PromptForCredentials(std::uint32_t* code);
    virtual void SetStatus(const std::string& text);
    virtual void SetStatusFormat(int stringId, const std::string& insert);
    virtual void SetStatusId(int stringId);
    virtual bool IsAbortRequested();
    virtual std::int32_t ClearAbortRequest();
    virtual void OnContentLength(std::uint64_t length);
    virtual void OnProgress(std::uint64_t transferred, std::uint32_t bytesRead, bool lengthKnown,
                            std::uint64_t expectedFileSize, void* context);
    virtual bool OnDownloadData(const char* data, std::uint32_t size);
    virtual void SetProgressContext(void* context);
    // The server answered a range request with the whole file, which is now written from byte 0;
    // progress counts from 0 again.
    virtual void OnRangeIgnored();

    std::string url;
    std::string localFileName;
    std::string proxyServer;
    std::string proxyUserName;
    std::string proxyPassword;
    std::string httpUserName;
    std::string httpPassword;
    std::string userAgent = "TirraLauncher20120615";
    std::string referrer;
    std::string verb;
    std::string httpVersion;
    int accessType = 0;
    int promptProxyCredentials = 1;
    int promptHttpCredentials = 1;
    // A cap on the receive rate (0: none); another thread may change it during a transfer.
    std::atomic<double> maxBytesPerMs{0.0};
    std::uint64_t startOffset = 0; // reads 0 after a transfer whose server ignored the range
    // The most the local file may hold when whole (the size a survey found, a bound on a document); unset:
    // no bound but the answer's own. An answer that announces a larger file is refused before a byte is
    // written, and a body without a length is read no further.
    std::optional<std::uint64_t> expectedSize;
    // A continued file asks for the rest of the version it has (If-Range); off when another server
    // continues it and something else (a digest) decides whether the result is whole.
    bool validateResume = true;
    // Opt-in, before a transfer: bytes startOffset to `last` of the file alone, written in place around what
    // others write of it, and only of the version `validator` names (If-Range). A whole body or a part of
    // another version fails the transfer before a byte of it is written.
    struct Segment {
        std::uint64_t last = 0;
        std::string validator;
    };
    std::optional<Segment> segment;
    int noAutoRedirect = 0;
    int readBufferSize = 1024;
    int sendProxyCredentials = 1;
    int sendHttpCredentials = 1;
    std::string acceptTypes = "*/*";
    int headOnly = 0;
    std::uint64_t contentLength = 0;
    int certificateViaHook = 1;
    std::uint32_t serviceType = 0;
    std::string serverName;
    std::string objectPath;
    std::uint16_t serverPort = 0;
    std::atomic<std::int32_t> abortFlag{0};
    void* progressContext = nullptr;
    std::unique_ptr<ClientCertificate> clientCertificate;

protected:
    // The request handle as it is now (null once closed).
    HttpRequest* CurrentRequest() const { return requestHandle.load(); }

private:
    // Closes what an earlier request left and makes this thread the transfer's.
    void BeginTransport();
    // Opens and sends the request, with credentials and a client certificate as the server asks; true
    // with an answer of 200 or 206 (or 416 to a length probe).
    bool SendRequest();
    // What a request has sent so far in answer to the server's demands.
    struct SendRounds {
        bool proxyCredentials = false;
        bool httpCredentials = false;
        bool certificate = false;
        int hookResends = 0;
    };
    // Sends the request again while the server asks for a client certificate or credentials that can be
    // given; true with an answer SendRequest accepts.
    bool SendUntilAnswered(SendRounds& rounds);
    // Meets a 401 or 407 with credentials not sent yet or from PromptForCredentials: true to send again,
    // false when the transfer fails on it.
    bool MeetChallenge(std::uint32_t status, SendRounds& rounds);
    // A continued part was answered with a range of another version than the one it was sent for.
    bool AnswerIsOfAnotherVersion();
    // A segment was answered with a whole body or a part of another version.
    bool FailRangeRefused();
    void NoteRangeValidator();
    // Drops the answer and asks for the whole file from its first byte, unvalidated.
    void StartOverFromFirstByte();
    bool AcceptContentLength(std::uint64_t length);
    // A HEAD without a length: the length from the answer to a request of the first byte.
    bool ProbeContentLength();
    bool ApplyClientCertificate();
    // Sets one credential on the request; a failure is logged with `failureFormat` and reported.
    bool ApplyCredential(bool proxy, bool password, const std::string& value, const char* failureFormat);
    bool FailOnStatus(std::uint32_t status);
    bool AnswerIsVerifiedSecure();
    // Reports why the transfer fails and keeps the code for lastFailure().
    void ReportFailure(int stringId, std::uint32_t code);
    // The same for a failure of the local file, which no retry or other server can mend.
    void ReportLocalFailure(int stringId);
    // Logs `logFormat` with the code for its "%d" (if it has one), reports the failure and answers false.
    bool Fail(const char* logFormat, int stringId, std::uint32_t code);
    // The same for the local file, with its error.
    bool FailLocal(const char* logFormat, int stringId);
    // A buffer of readBufferSize bytes; null, the failure reported, when there is no memory for it.
    std::unique_ptr<char[]> AllocateReadBuffer();
    // A continued file asks for the rest of the version its bytes came from; an answer that writes the
    // file leaves its own version with it.
    void LoadResumeValidator();
    void StoreResumeValidator(std::uint32_t status);
    // The answer's Content-Length, `known` false without one; false (the answer refused) for one that is
    // no size a file can have.
    bool ReadContentLength(std::uint64_t& length, bool& known);
    // For a 206, `range` is the part it brings, checked against the request and the answer's `length`.
    bool RestartOrCheckRange(std::uint32_t status, std::optional<std::uint64_t> length,
                             std::optional<ContentRange>& range);
    // Refuses an answer that announces a larger file than expectedSize; `bodyLimit` is the most it may
    // bring: its range, its length, or what expectedSize leaves.
    bool BoundBody(std::optional<std::uint64_t> length, const std::optional<ContentRange>& range,
                   std::optional<std::uint64_t>& bodyLimit);
    // The body ran past the `announced` size of the file: it fails, and its bytes go.
    bool DropLongerBody(std::uint64_t announced);
    // Cuts or extends the file to startOffset and places the writes there.
    bool PositionFile();
    bool TransferBody(std::uint64_t answerLength, bool lengthKnown, std::optional<std::uint64_t> bodyLimit);
    bool DrainAnswer();
    bool ReadPiece(char* buffer, std::uint32_t size, std::uint32_t& bytesRead, std::uint32_t& error);
    bool FlushDownloadedData();
    // Holds the reads to maxBytesPerMs, counted from the last change of the limit.
    void ApplyRateLimit(std::uint64_t transferred);
    void ReleaseTransport();

    // Changed under handleLock only; read without it, as each send and read looks at them afresh.
    std::atomic<InternetSession*> internetHandle{nullptr};
    std::atomic<InternetConnection*> connectionHandle{nullptr};
    std::atomic<HttpRequest*> requestHandle{nullptr};
    std::mutex handleLock;
    DownloadFile file;

    bool useSharedConnections_ = false;
    std::unique_ptr<OwnConnections> ownConnections_; // kept for the object's lifetime so its connections stay open
    std::unique_ptr<InternetSession> session_;
    std::unique_ptr<InternetConnection> connection_;
    std::unique_ptr<HttpRequest> request_;
    std::thread::id transferThread_;
    std::condition_variable handlesClosed_;
    TransferFailure lastFailure_;
    bool verifiedSecure_ = false;
    std::optional<std::string> resumeValidator_; // sent with If-Range
    bool lengthProbe_ = false;                   // the request asks for byte 0 only, to learn the length
    bool segmentVoid_ = false;                   // the segment's answer broke its word
    std::optional<std::string> rangeValidator_;
    RateWindow rateWindow_;
    std::unique_ptr<Sha256Digest> digest_;
};
