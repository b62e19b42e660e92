#include "net/curl_transport.h"

#include "base/log.h"
#include "net/ca_bundle.h"
#include "net/http_downloader.h"
#include "net/internet_errors.h"
#include "net/stall_timeout.h"
#include "net/url_parser.h"

#include <openssl/ssl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

// Bytes libcurl takes from the socket at once. The body still reaches the downloader in pieces of
// readBufferSize; a large receive buffer only saves wake-ups.
constexpr std::size_t kReceiveBufferSize = 256 * 1024;
constexpr int kPollTimeoutMs = 1000;
constexpr long kConnectTimeoutSeconds = 60;
constexpr long kMaxRedirects = 10;
constexpr long kCachedConnections = 8;

CURLM* NewMultiHandle();

// Global initialisation, the process-wide share (host names and TLS sessions, which libcurl can share
// between threads under these locks) and the pool of multi handles.
class CurlRuntime {
public:
    CurlRuntime() {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        share_ = curl_share_init();
        if (share_ != nullptr) {
            curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &CurlRuntime::Lock);
            curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &CurlRuntime::Unlock);
            curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
            curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
            curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        }
    }

    ~CurlRuntime() {
        CloseIdle();
        if (share_ != nullptr) {
            curl_share_cleanup(share_);
        }
    }

    CURLSH* share() const { return share_; }

    CURLM* Borrow() {
        {
            std::lock_guard lock(poolLock_);
            if (!idle_.empty()) {
                CURLM* multi = idle_.back();
                idle_.pop_back();
                return multi;
            }
        }
        return NewMultiHandle();
    }

    void Return(CURLM* multi) {
        std::lock_guard lock(poolLock_);
        idle_.push_back(multi);
    }

    void CloseIdle() {
        std::vector<CURLM*> idle;
        {
            std::lock_guard lock(poolLock_);
            idle.swap(idle_);
        }
        for (CURLM* multi : idle) {
            curl_multi_cleanup(multi);
        }
    }

private:
    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
        static_cast<CurlRuntime*>(self)->shareLocks_[data].lock();
    }
    static void Unlock(CURL*, curl_lock_data data, void* self) {
        static_cast<CurlRuntime*>(self)->shareLocks_[data].unlock();
    }

    CURLSH* share_ = nullptr;
    std::mutex shareLocks_[CURL_LOCK_DATA_LAST];
    std::mutex poolLock_;
    std::vector<CURLM*> idle_;
};

// The request whose transfer the calling thread is driving: TLS callbacks run inside that drive.
thread_local HttpRequest* t_drivenRequest = nullptr;

CurlRuntime& Runtime() {
    static CurlRuntime runtime;
    return runtime;
}

std::string Trimmed(const char* begin, const char* end) {
    while (begin < end && (*begin == ' ' || *begin == '\t')) {
        ++begin;
    }
    while (end > begin && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\r' || end[-1] == '\n')) {
        --end;
    }
    return std::string(begin, end);
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// Accepts the first failure of a run of curl_easy_setopt calls.
class OptionSetter {
public:
    explicit OptionSetter(CURL* easy) : easy_(easy) {}

    template <class Value> OptionSetter& Set(CURLoption option, Value value) {
        if (result_ == CURLE_OK) {
            result_ = curl_easy_setopt(easy_, option, value);
        }
        return *this;
    }
    OptionSetter& Set(CURLoption option, const std::string& value) { return Set(option, value.c_str()); }

    CURLcode result() const { return result_; }

private:
    CURL* easy_;
    CURLcode result_ = CURLE_OK;
};

CURLM* NewMultiHandle() {
    Runtime();
    CURLM* multi = curl_multi_init();
    if (multi != nullptr) {
        curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, kCachedConnections);
    }
    return multi;
}

} // namespace

void ClosePooledMultiHandles() {
    Runtime().CloseIdle();
}

OwnConnections::~OwnConnections() {
    if (multi_ != nullptr) {
        curl_multi_cleanup(multi_);
    }
}

InternetSession::~InternetSession() {
    if (pooled_) {
        Runtime().Return(multi_);
    }
}

bool InternetSession::UseConnections(OwnConnections& own, bool shared) {
    if (shared) {
        multi_ = Runtime().Borrow();
        pooled_ = multi_ != nullptr;
    } else {
        if (own.multi_ == nullptr) {
            own.multi_ = NewMultiHandle();
        }
        multi_ = own.multi_;
    }
    return multi_ != nullptr;
}

void InternetSession::Wake() {
    curl_multi_wakeup(multi_);
}

HttpRequest::HttpRequest(const InternetSession& session, std::function<bool()> stillOpen)
    : multi_(session.multi_), stillOpen_(std::move(stillOpen)) {}

HttpRequest::~HttpRequest() {
    Detach();
    if (easy_ != nullptr) {
        curl_easy_cleanup(easy_);
    }
    curl_slist_free_all(headerList_);
}

bool HttpRequest::Open(const InternetSession& session, const InternetConnection& connection,
                       const RequestSettings& settings, std::uint32_t& error) {
    easy_ = curl_easy_init();
    if (easy_ == nullptr) {
        error = ENOMEM;
        return false;
    }
    const bool secure = (settings.flags & INTERNET_FLAG_SECURE) != 0;
    followRedirects_ = (settings.flags & INTERNET_FLAG_NO_AUTO_REDIRECT) == 0;
    const std::string target = std::string(secure ? "https://" : "http://") +
                               FormatAuthority(connection.serverName, connection.serverPort) + settings.objectPath;

    OptionSetter options(easy_);
    options.Set(CURLOPT_SHARE, Runtime().share())
        .Set(CURLOPT_NOSIGNAL, 1L)
        .Set(CURLOPT_ERRORBUFFER, errorText_)
        .Set(CURLOPT_URL, target)
        .Set(CURLOPT_PROTOCOLS_STR, "http,https")
        // What was asked for over HTTPS never arrives unauthenticated.
        .Set(CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https")
        .Set(CURLOPT_FOLLOWLOCATION, followRedirects_ ? 1L : 0L)
        .Set(CURLOPT_MAXREDIRS, kMaxRedirects)
        .Set(CURLOPT_SSL_VERIFYPEER, 1L)
        .Set(CURLOPT_SSL_VERIFYHOST, (settings.flags & INTERNET_FLAG_IGNORE_CERT_CN_INVALID) != 0 ? 0L : 2L)
        .Set(CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds)
        .Set(CURLOPT_BUFFERSIZE, static_cast<long>(kReceiveBufferSize))
        .Set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L)
        .Set(CURLOPT_HTTPAUTH, static_cast<unsigned long>(CURLAUTH_BASIC))
        .Set(CURLOPT_PROXYAUTH, static_cast<unsigned long>(CURLAUTH_BASIC))
        .Set(CURLOPT_USERAGENT, session.userAgent)
        // HTTP/2 where a server offers it in the TLS handshake: one connection carries request after request.
        .Set(CURLOPT_HTTP_VERSION, settings.httpVersion == "HTTP/1.0" ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_2TLS)
        .Set(CURLOPT_HEADERFUNCTION, &HttpRequest::OnHeaderLine)
        .Set(CURLOPT_HEADERDATA, this)
        .Set(CURLOPT_WRITEFUNCTION, &HttpRequest::OnBodyData)
        .Set(CURLOPT_WRITEDATA, this)
        .Set(CURLOPT_PREREQFUNCTION, &HttpRequest::OnConnected)
        .Set(CURLOPT_PREREQDATA, this);
    if (session.accessType == 1) {
        options.Set(CURLOPT_PROXY, ""); // direct, whatever the environment says
    } else if (session.accessType == 2) {
        options.Set(CURLOPT_PROXY, session.proxyServer);
    }
    if (!settings.referrer.empty()) {
        options.Set(CURLOPT_REFERER, settings.referrer);
    }
    if (settings.verb == "HEAD") {
        options.Set(CURLOPT_NOBODY, 1L);
    } else if (!settings.verb.empty() && settings.verb != "GET") {
        options.Set(CURLOPT_CUSTOMREQUEST, settings.verb);
    }
    if (options.result() != CURLE_OK) {
        error = InternetErrorFromCurl(options.result(), nullptr);
        return false;
    }
    // Only to learn whether a server asked for a client certificate; without it nothing changes.
    curl_easy_setopt(easy_, CURLOPT_SSL_CTX_FUNCTION, &HttpRequest::OnSslContext);
    if (!UseCaBundle(easy_) && secure) {
        WriteLog("HttpRequest::Open, No certificate authorities to verify the server with: set SSL_CERT_FILE or "
                 "SSL_CERT_DIR, or install the system's CA certificates\n");
    }

    baseHeaders_.clear();
    if (!settings.acceptTypes.empty()) {
        baseHeaders_ = "Accept: ";
        for (std::size_t i = 0; i < settings.acceptTypes.size(); ++i) {
            baseHeaders_ += (i == 0 ? "" : ", ") + settings.acceptTypes[i];
        }
        baseHeaders_ += "\r\n";
    } else {
        baseHeaders_ = "Accept:\r\n"; // no Accept header at all
    }
    if ((settings.flags & (INTERNET_FLAG_RELOAD | INTERNET_FLAG_PRAGMA_NOCACHE)) != 0) {
        baseHeaders_ += "Pragma: no-cache\r\nCache-Control: no-cache\r\n";
    }
    return true;
}

bool HttpRequest::SetCredential(Credential which, const std::string& value) {
    constexpr CURLoption kOptions[] = {CURLOPT_USERNAME, CURLOPT_PASSWORD, CURLOPT_PROXYUSERNAME,
                                       CURLOPT_PROXYPASSWORD};
    return curl_easy_setopt(easy_, kOptions[static_cast<int>(which)], value.c_str()) == CURLE_OK;
}

bool HttpRequest::SetClientCertificate(const std::string& certificateFile, const std::string& privateKeyFile,
                                       const std::string& privateKeyPassword) {
    OptionSetter options(easy_);
    options.Set(CURLOPT_SSLCERT, certificateFile).Set(CURLOPT_SSLKEY, privateKeyFile);
    if (!privateKeyPassword.empty()) {
        options.Set(CURLOPT_KEYPASSWD, privateKeyPassword);
    }
    return options.result() == CURLE_OK;
}

bool HttpRequest::Send(const std::string& extraHeaders, std::uint32_t& error) {
    Detach();
    status_ = 0;
    headers_.clear();
    headersComplete_ = false;
    done_ = false;
    result_ = CURLE_OK;
    paused_ = false;
    certificateRequested_ = false;
    connected_ = false;
    errorText_[0] = '\0';
    pending_.clear();
    pendingRead_ = 0;

    curl_slist_free_all(headerList_);
    headerList_ = nullptr;
    const std::string lines = baseHeaders_ + extraHeaders;
    for (std::size_t start = 0; start < lines.size();) {
        std::size_t end = lines.find('\n', start);
        if (end == std::string::npos) {
            end = lines.size();
        }
        const std::string line = Trimmed(lines.data() + start, lines.data() + end);
        if (!line.empty()) {
            curl_slist* grown = curl_slist_append(headerList_, line.c_str());
            if (grown == nullptr) {
                error = ENOMEM;
                return false;
            }
            headerList_ = grown;
        }
        start = end + 1;
    }
    if (curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList_) != CURLE_OK ||
        curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
        error = ERROR_INTERNET_INTERNAL_ERROR;
        return false;
    }
    attached_ = true;
    if (!Pump([this] { return headersComplete_; })) {
        error = ERROR_INTERNET_OPERATION_CANCELLED;
        return false;
    }
    // An answer that ended without final headers is one libcurl did not follow after all.
    if (!headersComplete_ && (result_ != CURLE_OK || status_ == 0)) {
        // The server may close the connection on a missing certificate before its alert is read.
        error = certificateRequested_ ? ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED
                : result_ != CURLE_OK ? ResultCode()
                                      : ERROR_HTTP_INVALID_SERVER_RESPONSE;
        return false;
    }
    return true;
}

std::string HttpRequest::AnsweredUrl() const {
    char* answered = nullptr;
    return curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &answered) == CURLE_OK && answered != nullptr
               ? std::string(answered)
               : std::string();
}

bool HttpRequest::FindHeader(const std::string& name, std::string& value) const {
    const auto it = std::find_if(headers_.begin(), headers_.end(),
                                 [&](const auto& header) { return EqualsIgnoringCase(header.first, name); });
    if (it == headers_.end()) {
        return false;
    }
    value = it->second;
    return true;
}

bool HttpRequest::Read(char* buffer, std::uint32_t size, std::uint32_t& bytesRead, std::uint32_t& error) {
    bytesRead = 0;
    if (!attached_) {
        error = ERROR_INTERNET_INTERNAL_ERROR;
        return false;
    }
    // Like a blocking socket read of a whole record: full pieces until the body ends.
    while (bytesRead < size) {
        if (!Available() && paused_) {
            paused_ = false;
            curl_easy_pause(easy_, CURLPAUSE_CONT); // hands over the held data at once
        }
        if (!Available() && !Pump([this] { return Available(); })) {
            error = ERROR_INTERNET_OPERATION_CANCELLED;
            return false;
        }
        if (!Available()) {
            break;
        }
        const auto n =
            static_cast<std::uint32_t>(std::min<std::size_t>(size - bytesRead, pending_.size() - pendingRead_));
        std::memcpy(buffer + bytesRead, pending_.data() + pendingRead_, n);
        pendingRead_ += n;
        bytesRead += n;
    }
    // A failure behind data already read shows at the next read.
    if (bytesRead == 0 && result_ != CURLE_OK) {
        error = ResultCode();
        return false;
    }
    return true;
}

std::size_t HttpRequest::OnHeaderLine(char* data, std::size_t size, std::size_t count, void* self) {
    auto& request = *static_cast<HttpRequest*>(self);
    const std::size_t length = size * count;
    const char* end = data + length;
    request.lastByte_ = std::chrono::steady_clock::now();
    if (length >= 5 && std::memcmp(data, "HTTP/", 5) == 0) {
        const char* space = static_cast<const char*>(std::memchr(data, ' ', length));
        request.status_ = space != nullptr ? static_cast<std::uint32_t>(std::strtoul(space + 1, nullptr, 10)) : 0;
        request.headers_.clear();
        request.headersComplete_ = false;
        return length;
    }
    if (request.headersComplete_) {
        return length; // trailers
    }
    const std::string line = Trimmed(data, end);
    if (line.empty()) {
        std::string location;
        const bool interim = request.status_ < 200;
        const bool redirected = request.followRedirects_ && request.status_ >= 300 && request.status_ < 400 &&
                                request.FindHeader("Location", location);
        request.headersComplete_ = !interim && !redirected;
        request.connected_ = !redirected; // the next hop connects anew
        return length;
    }
    if (const std::size_t colon = line.find(':'); colon != std::string::npos) {
        request.headers_.emplace_back(Trimmed(line.data(), line.data() + colon),
                                      Trimmed(line.data() + colon + 1, line.data() + line.size()));
    }
    return length;
}

std::size_t HttpRequest::OnBodyData(char* data, std::size_t size, std::size_t count, void* self) {
    auto& request = *static_cast<HttpRequest*>(self);
    const std::size_t length = size * count;
    request.lastByte_ = std::chrono::steady_clock::now();
    if (!request.Available()) {
        request.pending_.clear();
        request.pendingRead_ = 0;
    } else if (request.pending_.size() - request.pendingRead_ >= kReceiveBufferSize) {
        // While the socket stays readable libcurl keeps receiving; hold it until the reader catches up.
        request.paused_ = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    request.pending_.insert(request.pending_.end(), data, data + length);
    request.headersComplete_ = true;
    return length;
}

bool HttpRequest::Pump(const std::function<bool()>& ready) {
    // Each wait starts afresh: time the reader spent elsewhere is not the server's silence.
    lastByte_ = std::chrono::steady_clock::now();
    while (!ready() && !done_) {
        int running = 0;
        t_drivenRequest = this;
        const CURLMcode performed = curl_multi_perform(multi_, &running);
        t_drivenRequest = nullptr;
        if (performed != CURLM_OK) {
            done_ = true;
            result_ = CURLE_FAILED_INIT;
            break;
        }
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy_) {
                done_ = true;
                result_ = message->data.result;
            }
        }
        int waitMs = kPollTimeoutMs;
        if (ready() || done_ || Stalled(waitMs)) {
            break;
        }
        curl_multi_poll(multi_, nullptr, 0, waitMs, nullptr);
        if (!stillOpen_()) {
            return false;
        }
    }
    return true;
}

bool HttpRequest::Stalled(int& waitMs) {
    if (!connected_) {
        return false;
    }
    // Every byte restarts the stall time, so headers sent a line at a time would hold the request for ever:
    // they have the same time in all.
    const bool headersDue = !headersComplete_ && headersDeadline_ < lastByte_ + StallTimeout();
    const auto due = headersDue ? headersDeadline_ : lastByte_ + StallTimeout();
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
    if (left.count() > 0) {
        waitMs = static_cast<int>(std::min<std::chrono::milliseconds::rep>(waitMs, left.count()));
        return false;
    }
    done_ = true;
    result_ = CURLE_OPERATION_TIMEDOUT;
    std::snprintf(errorText_, sizeof errorText_,
                  headersDue ? "No complete headers within %lld ms" : "No data received for %lld ms",
                  static_cast<long long>(StallTimeout().count()));
    return true;
}

int HttpRequest::OnConnected(void* self, char*, char*, int, int) {
    auto& request = *static_cast<HttpRequest*>(self);
    request.connected_ = true;
    request.lastByte_ = std::chrono::steady_clock::now();
    request.headersDeadline_ = request.lastByte_ + StallTimeout();
    return CURL_PREREQFUNC_OK;
}

CURLcode HttpRequest::OnSslContext(CURL*, void* context, void*) {
    SSL_CTX_set_client_cert_cb(static_cast<SSL_CTX*>(context), &HttpRequest::OnCertificateRequest);
    return CURLE_OK;
}

int HttpRequest::OnCertificateRequest(SSL*, X509**, EVP_PKEY**) {
    if (t_drivenRequest != nullptr) {
        t_drivenRequest->certificateRequested_ = true;
    }
    return 0; // none to give
}

void HttpRequest::Detach() {
    if (attached_) {
        curl_multi_remove_handle(multi_, easy_);
        attached_ = false;
    }
}
