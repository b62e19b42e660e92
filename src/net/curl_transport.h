#pragma once

// The libcurl side of CHttpDownloader2: its sessions, connections and requests.

#include "net/internet_errors.h"

#include <curl/curl.h>
#include <openssl/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Multi handles hold the connection caches. A downloader keeps its own for its lifetime, or borrows one
// from the process-wide pool for one transfer (sharing a cache across threads is not supported by
// libcurl, borrowing keeps each cache on one thread at a time).
void ClosePooledMultiHandles();

// A downloader's own multi handle, made when a session first needs it.
class OwnConnections {
public:
    OwnConnections() = default;
    ~OwnConnections();
    OwnConnections(const OwnConnections&) = delete;
    OwnConnections& operator=(const OwnConnections&) = delete;

private:
    friend struct InternetSession;
    CURLM* multi_ = nullptr;
};

struct InternetSession {
    InternetSession() = default;
    ~InternetSession(); // a borrowed multi handle goes back to the pool
    InternetSession(const InternetSession&) = delete;
    InternetSession& operator=(const InternetSession&) = delete;

    // Takes a multi handle from the pool when `shared`, else `own`'s; false when none can be made.
    bool UseConnections(OwnConnections& own, bool shared);
    // Callable from any thread: a send or read of this session that waits for the network wakes up.
    void Wake();

    std::string userAgent;
    int accessType = 0;
    std::string proxyServer;

private:
    friend class HttpRequest;
    CURLM* multi_ = nullptr;
    bool pooled_ = false;
};

// Server credentials reach the request through DoHTTPAuthentication only: given here, libcurl would
// send them before any challenge, also when the caller asked to send them only when challenged.
struct InternetConnection {
    std::string serverName;
    std::uint16_t serverPort = 0;
};

// What HttpRequest::Open needs beyond the session and the connection.
struct RequestSettings {
    std::string verb; // empty: GET
    std::string objectPath;
    std::string httpVersion;
    std::string referrer;
    std::vector<std::string> acceptTypes;
    std::uint32_t flags = 0;
};

// One request on one easy handle. The calling thread drives the session's multi handle only while it
// sends or reads; between two reads nothing happens on the connection. `stillOpen` is asked whenever
// the wait for the network wakes up, so that closing the handles on another thread (which wakes the
// multi handle) makes the blocked send or read fail at once. A wait in which no byte arrives for the
// stall time (stall_timeout.h) once the connection stands fails with ERROR_INTERNET_TIMEOUT, and so do
// headers that are not complete within the stall time of the request being sent, however they trickle.
class HttpRequest {
public:
    HttpRequest(const InternetSession& session, std::function<bool()> stillOpen);
    ~HttpRequest();
    HttpRequest(const HttpRequest&) = delete;
    HttpRequest& operator=(const HttpRequest&) = delete;

    // False when the easy handle cannot be made or configured; `error` then holds the reason.
    bool Open(const InternetSession& session, const InternetConnection& connection, const RequestSettings& settings,
              std::uint32_t& error);

    enum class Credential { ServerUserName, ServerPassword, ProxyUserName, ProxyPassword };
    bool SetCredential(Credential which, const std::string& value);
    bool SetClientCertificate(const std::string& certificateFile, const std::string& privateKeyFile,
                              const std::string& privateKeyPassword);

    // Sends the request with `extraHeaders` ("Name: value\r\n" lines) and waits for the headers of the
    // final answer. Sending again restarts the same request.
    bool Send(const std::string& extraHeaders, std::uint32_t& error);
    std::uint32_t status() const { return status_; }
    CURL* easy() const { return easy_; }
    // The URL the final answer came from, after the redirects followed; empty when unknown.
    std::string AnsweredUrl() const;
    // The value of the final answer's header `name` (any letter case).
    bool FindHeader(const std::string& name, std::string& value) const;

    // Reads `size` bytes of the body into `buffer`, fewer only at its end (0 bytes once it is over).
    bool Read(char* buffer, std::uint32_t size, std::uint32_t& bytesRead, std::uint32_t& error);

private:
    static std::size_t OnHeaderLine(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnBodyData(char* data, std::size_t size, std::size_t count, void* self);
    static CURLcode OnSslContext(CURL* easy, void* context, void* self);
    static int OnConnected(void* self, char*, char*, int, int);
    static int OnCertificateRequest(SSL* ssl, X509** certificate, EVP_PKEY** key);

    // Drives the transfer until `ready` holds or the transfer ends; false when the handles were closed.
    bool Pump(const std::function<bool()>& ready);
    // Ends the transfer as timed out when the server has been silent for the stall time, or its headers
    // are overdue; otherwise the milliseconds the next wait may last.
    bool Stalled(int& waitMs);
    void Detach();
    bool Available() const { return pendingRead_ < pending_.size(); }
    std::uint32_t ResultCode() const { return InternetErrorFromCurl(result_, errorText_); }

    CURLM* multi_;
    std::function<bool()> stillOpen_;
    CURL* easy_ = nullptr;
    std::string baseHeaders_; // Accept and the cache bypass
    curl_slist* headerList_ = nullptr;
    bool attached_ = false;
    bool followRedirects_ = true;

    // The answer being received.
    std::uint32_t status_ = 0;
    std::vector<std::pair<std::string, std::string>> headers_;
    bool headersComplete_ = false;
    bool done_ = false;
    CURLcode result_ = CURLE_OK;
    char errorText_[CURL_ERROR_SIZE] = {};
    std::vector<char> pending_; // received, not yet read
    bool paused_ = false;       // libcurl holds further data until pending_ is read
    bool certificateRequested_ = false;
    std::size_t pendingRead_ = 0;
    // Silence counts only while a connection stands: connecting has its own time-out.
    bool connected_ = false;
    std::chrono::steady_clock::time_point lastByte_;
    std::chrono::steady_clock::time_point headersDeadline_; // from the request being sent on its connection
};
