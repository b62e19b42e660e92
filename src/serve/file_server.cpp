#include "serve/file_server.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr std::size_t kChunkSize = 256 * 1024;
constexpr std::size_t kWorkerThreads = 32;
constexpr std::size_t kRequestsPerConnection = 1000000;
constexpr time_t kKeepAliveSeconds = 5;
constexpr std::size_t kTrickledHeaderLines = 1000;

using Clock = std::chrono::steady_clock;

std::uint64_t NumberParam(const httplib::Request& request, const char* name) {
    if (!request.has_param(name)) {
        return 0;
    }
    return std::strtoull(request.get_param_value(name).c_str(), nullptr, 10);
}

bool HasUnsafeSegment(const std::string& path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (path.compare(start, end - start, "..") == 0) {
            return true;
        }
        start = end + 1;
    }
    return path.find('\\') != std::string::npos;
}

// One "bytes=first-last" range (last or first may be left out) of a file of `size` bytes.
enum class RangeResult { None, Satisfiable, Unsatisfiable };
RangeResult ParseByteRange(const std::string& header, std::uint64_t size, std::uint64_t& first, std::uint64_t& last) {
    if (header.rfind("bytes=", 0) != 0 || header.find(',') != std::string::npos) {
        return RangeResult::None;
    }
    const std::string bounds = header.substr(6);
    const std::size_t dash = bounds.find('-');
    if (dash == std::string::npos) {
        return RangeResult::None;
    }
    const std::string from = bounds.substr(0, dash);
    const std::string to = bounds.substr(dash + 1);
    auto digits = [](const std::string& s) {
        return !s.empty() &&
               std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
    };
    if (from.empty()) {
        if (!digits(to)) {
            return RangeResult::None;
        }
        const std::uint64_t suffix = std::stoull(to);
        if (suffix == 0 || size == 0) {
            return RangeResult::Unsatisfiable;
        }
        first = size - std::min(suffix, size);
        last = size - 1;
        return RangeResult::Satisfiable;
    }
    if (!digits(from) || (!to.empty() && !digits(to))) {
        return RangeResult::None;
    }
    first = std::stoull(from);
    last = to.empty() ? size - 1 : std::min<std::uint64_t>(std::stoull(to), size - 1);
    if (first >= size || last < first) {
        return RangeResult::Unsatisfiable;
    }
    return RangeResult::Satisfiable;
}

// An HTTP date (IMF-fixdate), spelled out here because strftime would follow the process's locale.
std::string HttpDate(time_t seconds) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    struct tm utc {};
    ::gmtime_r(&seconds, &utc);
    char text[32];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[utc.tm_wday], utc.tm_mday,
                  kMonths[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

// The validators of one version of a file: the ETag changes with its size or its modification time to
// the nanosecond, so that a test can replace a file between two requests and see the difference.
struct Validators {
    std::string etag;
    std::string lastModified;
};

Validators ValidatorsOf(const struct stat& info, bool weak) {
    const auto nanoseconds = static_cast<std::uint64_t>(info.st_mtim.tv_sec) * 1000000000u +
                             static_cast<std::uint64_t>(info.st_mtim.tv_nsec);
    char etag[64];
    std::snprintf(etag, sizeof etag, "%s\"%llx-%llx\"", weak ? "W/" : "", static_cast<unsigned long long>(info.st_size),
                  static_cast<unsigned long long>(nanoseconds));
    return {etag, HttpDate(info.st_mtim.tv_sec)};
}

// If-Range compares strongly: a weak ETag stands for no exact bytes, so it never matches.
bool IfRangeMatches(const std::string& value, const Validators& validators) {
    return (value == validators.etag && validators.etag.rfind("W/", 0) != 0) || value == validators.lastModified;
}

// The open file behind one answer's body, and the chunk being sent.
struct BodySource {
    int fd = -1;
    std::vector<char> chunk;
    ~BodySource() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

} // namespace

std::string RecordedRequest::Header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (key.size() == name.size() && std::equal(key.begin(), key.end(), name.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
            })) {
            return value;
        }
    }
    return {};
}

struct FileServer::Impl {
    FileServerOptions options;
    std::unique_ptr<httplib::Server> server;
    std::thread listener;
    int port = 0;
    int requestLog = -1;

    mutable std::mutex lock;
    std::vector<RecordedRequest> requests;
    // fail_first answers given, per method and target: a size survey's HEAD requests must not use up the
    // failures meant for the download.
    std::map<std::pair<std::string, std::string>, std::uint64_t> failedSoFar;
    std::condition_variable stopSignal;
    bool stopping = false;

    void CloseRequestLog() {
        if (requestLog >= 0) {
            ::close(requestLog);
            requestLog = -1;
        }
    }

    bool secure() const { return !options.certificateFile.empty() && !options.privateKeyFile.empty(); }

    // Waits until `deadline`; false when the server stops first.
    bool WaitUntil(Clock::time_point deadline) {
        std::unique_lock guard(lock);
        return !stopSignal.wait_until(guard, deadline, [this] { return stopping; });
    }

    void Record(const httplib::Request& request) {
        RecordedRequest record{request.method, request.target, {}, request.remote_port};
        for (const auto& [key, value] : request.headers) {
            if (key != "REMOTE_ADDR" && key != "REMOTE_PORT" && key != "LOCAL_ADDR" && key != "LOCAL_PORT") {
                record.headers.emplace_back(key, value);
            }
        }
        std::lock_guard guard(lock);
        if (requestLog >= 0) {
            const std::string line = record.method + '\t' + record.target + '\t' + record.Header("Range") + '\t' +
                                     record.Header("User-Agent") + '\n';
            // One unbuffered write per line: the line is in the file as soon as the request is.
            [[maybe_unused]] const ssize_t written = ::write(requestLog, line.data(), line.size());
        }
        requests.push_back(std::move(record));
    }

    void Handle(const httplib::Request& request, httplib::Response& response) {
        // The library would slice the body by the request's ranges itself, whatever status is chosen here.
        const_cast<httplib::Request&>(request).ranges.clear();

        if (const std::uint64_t delay = NumberParam(request, "delay_ms"); delay > 0) {
            if (!WaitUntil(Clock::now() + std::chrono::milliseconds(delay))) {
                return;
            }
        }
        if (const std::uint64_t auth = NumberParam(request, "auth"); auth == 401 || auth == 407) {
            const bool proxy = auth == 407;
            // refuse_credentials: every password is wrong, as with a mistyped one.
            if (!request.has_header(proxy ? "Proxy-Authorization" : "Authorization") ||
                NumberParam(request, "refuse_credentials") != 0) {
                response.status = static_cast<int>(auth);
                response.set_header(proxy ? "Proxy-Authenticate" : "WWW-Authenticate", "Basic realm=\"ostrel\"");
                response.set_content(proxy ? "proxy credentials required\n" : "credentials required\n", "text/plain");
                return;
            }
        }
        if (const std::uint64_t hops = NumberParam(request, "hops"); hops > 0) {
            std::string target = request.target;
            const std::string from = "hops=" + request.get_param_value("hops");
            if (const std::size_t at = target.find(from); at != std::string::npos) {
                target.replace(at, from.size(), "hops=" + std::to_string(hops - 1));
                response.set_redirect(target, 302);
                return;
            }
        }
        if (request.has_param("redirect")) {
            response.set_redirect(request.get_param_value("redirect"), 302);
            return;
        }
        if (const std::uint64_t status = FaultStatus(request); status != 0) {
            response.status = static_cast<int>(status);
            if (request.has_param("retry_after")) {
                response.set_header("Retry-After", request.get_param_value("retry_after"));
            }
            response.set_content("status " + std::to_string(status) + "\n", "text/plain");
            return;
        }
        ServeFile(request, response);
    }

    // The status this request is to fail with; 0 to serve it.
    std::uint64_t FaultStatus(const httplib::Request& request) {
        const std::uint64_t status = NumberParam(request, "status");
        const bool given = status != 0 && status != 200;
        if (!request.has_param("fail_first")) {
            return given ? status : 0;
        }
        std::lock_guard guard(lock);
        std::uint64_t& failed = failedSoFar[{request.method, request.target}];
        if (failed >= NumberParam(request, "fail_first")) {
            return 0;
        }
        ++failed;
        return given ? status : 503;
    }

    // The answer to trickle_headers_ms: an interim 100 whose body, to the library, is the final answer
    // written by hand, one header line at a time.
    void TrickleHeaders(std::chrono::milliseconds interval, const std::string& body, httplib::Response& response) {
        auto pieces = std::make_shared<std::vector<std::string>>();
        pieces->push_back("HTTP/1.1 200 OK\r\n");
        for (std::size_t line = 0; line < kTrickledHeaderLines; ++line) {
            pieces->push_back("X-Trickle-" + std::to_string(line) + ": " + std::to_string(line) + "\r\n");
        }
        pieces->push_back("Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
        std::size_t length = 0;
        for (const std::string& piece : *pieces) {
            length += piece.size();
        }
        auto next = std::make_shared<std::size_t>(0);
        response.status = 100;
        response.set_content_provider(
            length, "application/octet-stream",
            [this, pieces, next, interval](std::size_t, std::size_t, httplib::DataSink& sink) {
                if (*next > 0 && !WaitUntil(Clock::now() + interval)) {
                    return false;
                }
                const std::string& piece = (*pieces)[(*next)++];
                return sink.write(piece.data(), piece.size());
            });
    }

    void ServeFile(const httplib::Request& request, httplib::Response& response) {
        const std::string path = options.root + request.path;
        struct stat info {};
        auto source = std::make_shared<BodySource>();
        if (HasUnsafeSegment(request.path) || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
            (source->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC)) < 0) {
            response.status = 404;
            response.set_content("not found\n", "text/plain");
            return;
        }
        const auto size = static_cast<std::uint64_t>(info.st_size);
        if (const std::uint64_t interval = NumberParam(request, "trickle_headers_ms"); interval > 0) {
            std::string body(size, '\0');
            if (::pread(source->fd, body.data(), body.size(), 0) != static_cast<ssize_t>(body.size())) {
                body.clear();
            }
            TrickleHeaders(std::chrono::milliseconds(interval), body, response);
            return;
        }
        // head_no_length: a HEAD is answered without Content-Length, a GET with it (as some servers do for
        // an empty file).
        const bool noLength = NumberParam(request, "no_length") != 0 ||
                              (request.method == "HEAD" && NumberParam(request, "head_no_length") != 0);
        std::uint64_t first = 0;
        std::uint64_t last = size == 0 ? 0 : size - 1;
        response.status = 200;
        const Validators validators = ValidatorsOf(info, NumberParam(request, "weak_etag") != 0);
        const bool sendValidators = NumberParam(request, "no_validators") == 0;
        if (sendValidators) {
            response.set_header("ETag", validators.etag);
            response.set_header("Last-Modified", validators.lastModified);
        }
        // A range of another version of the file than the client holds would be spliced into it.
        // ignore_if_range: ranges are honoured whatever version the client holds, as some servers do.
        const bool sameVersion = !request.has_header("If-Range") || NumberParam(request, "ignore_if_range") != 0 ||
                                 (sendValidators && IfRangeMatches(request.get_header_value("If-Range"), validators));
        if (NumberParam(request, "ignore_range") == 0 && sameVersion && request.has_header("Range")) {
            switch (ParseByteRange(request.get_header_value("Range"), size, first, last)) {
            case RangeResult::Unsatisfiable:
                response.status = 416;
                response.set_header("Content-Range", "bytes */" + std::to_string(size));
                response.set_content("range not satisfiable\n", "text/plain");
                return;
            case RangeResult::Satisfiable:
                if (request.has_param("range_from")) {
                    first = std::min(NumberParam(request, "range_from"), last);
                }
                response.status = 206;
                response.set_header("Content-Range", request.has_param("content_range")
                                                         ? request.get_param_value("content_range")
                                                         : "bytes " + std::to_string(first) + "-" +
                                                               std::to_string(last) + "/" + std::to_string(size));
                break;
            case RangeResult::None:
                break;
            }
        }
        const std::uint64_t length = size == 0 ? 0 : last - first + 1;

        struct Plan {
            std::uint64_t first, length, stallMs, stallAfter, resetAfter, rate;
            bool endless;
        };
        const Plan plan{first,
                        length,
                        NumberParam(request, "stall_ms"),
                        NumberParam(request, "stall_after"),
                        request.has_param("reset_after") ? NumberParam(request, "reset_after") : UINT64_MAX,
                        request.has_param("rate") ? NumberParam(request, "rate") : options.rateBytesPerSecond,
                        NumberParam(request, "endless") != 0 && length > 0};
        auto started = std::make_shared<Clock::time_point>();

        // Writes the body from `offset` on, one chunk per call; false ends the connection.
        auto writeChunk = [this, source, plan, started](std::uint64_t offset, httplib::DataSink& sink) {
            if (offset == plan.stallAfter && plan.stallMs > 0 &&
                !WaitUntil(Clock::now() + std::chrono::milliseconds(plan.stallMs))) {
                return false;
            }
            if (offset == 0) {
                *started = Clock::now();
            }
            if (offset >= plan.resetAfter) {
                return false;
            }
            const std::uint64_t at = plan.endless ? offset % plan.length : offset; // endless: over and over
            std::uint64_t want = std::min<std::uint64_t>({kChunkSize, plan.length - at, plan.resetAfter - offset});
            if (offset < plan.stallAfter) {
                want = std::min(want, plan.stallAfter - offset); // the pause falls exactly there
            }
            if (plan.rate > 0) {
                want = std::min<std::uint64_t>(want, std::max<std::uint64_t>(plan.rate / 10, 1));
                const auto due = *started + std::chrono::microseconds(offset * 1000000 / plan.rate);
                if (!WaitUntil(due)) {
                    return false;
                }
            }
            source->chunk.resize(want);
            const ssize_t got = ::pread(source->fd, source->chunk.data(), want, static_cast<off_t>(plan.first + at));
            if (got <= 0) {
                return false;
            }
            return sink.write(source->chunk.data(), static_cast<std::size_t>(got));
        };

        auto writeBody = [plan, writeChunk](std::size_t offset, httplib::DataSink& sink) {
            if (!plan.endless && offset >= plan.length) {
                sink.done();
                return true;
            }
            return writeChunk(offset, sink);
        };
        // length and announce: the length is the query's, the body the file's, and its end the connection's.
        const char* const forged = request.has_param("length")                                ? "length"
                                   : request.method == "GET" && request.has_param("announce") ? "announce"
                                                                                              : nullptr;
        if (forged != nullptr) {
            response.set_header("Content-Length", request.get_param_value(forged));
            response.set_content_provider("application/octet-stream",
                                          [plan, writeChunk](std::size_t offset, httplib::DataSink& sink) {
                                              return (plan.endless || offset < plan.length) && writeChunk(offset, sink);
                                          });
        } else if (noLength || plan.endless) {
            response.set_chunked_content_provider("application/octet-stream", writeBody);
        } else if (length == 0) {
            response.set_content(std::string(), "application/octet-stream");
        } else {
            response.set_content_provider(static_cast<std::size_t>(length), "application/octet-stream",
                                          [writeChunk](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                              return writeChunk(offset, sink);
                                          });
        }
    }
};

FileServer::FileServer(FileServerOptions options) : impl_(std::make_unique<Impl>()) {
    impl_->options = std::move(options);
}

FileServer::~FileServer() {
    Stop();
}

bool FileServer::Start() {
    Impl& impl = *impl_;
    if (impl.secure()) {
        impl.server = std::make_unique<httplib::SSLServer>(
            impl.options.certificateFile.c_str(), impl.options.privateKeyFile.c_str(),
            impl.options.clientCaFile.empty() ? nullptr : impl.options.clientCaFile.c_str());
    } else {
        impl.server = std::make_unique<httplib::Server>();
    }
    if (!impl.server->is_valid()) {
        impl.server.reset();
        return false;
    }
    if (!impl.options.requestLogFile.empty()) {
        impl.requestLog = ::open(impl.options.requestLogFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (impl.requestLog < 0) {
            impl.server.reset();
            return false;
        }
    }
    impl.server->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    impl.server->set_keep_alive_max_count(kRequestsPerConnection);
    impl.server->set_keep_alive_timeout(kKeepAliveSeconds);
    impl.server->set_tcp_nodelay(true);
    impl.server->set_pre_routing_handler([&impl](const httplib::Request& request, httplib::Response&) {
        impl.Record(request);
        return httplib::Server::HandlerResponse::Unhandled;
    });
    impl.server->Get(".*", [&impl](const httplib::Request& request, httplib::Response& response) {
        impl.Handle(request, response);
    });

    if (impl.options.port == 0) {
        impl.port = impl.server->bind_to_any_port("127.0.0.1");
    } else if (impl.server->bind_to_port("127.0.0.1", impl.options.port)) {
        impl.port = impl.options.port;
    }
    if (impl.port <= 0) {
        impl.server.reset();
        impl.port = 0;
        impl.CloseRequestLog();
        return false;
    }
    impl.listener = std::thread([&impl] { impl.server->listen_after_bind(); });
    // A stop before the listener runs would not reach it.
    while (!impl.server->is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void FileServer::Stop() {
    Impl& impl = *impl_;
    if (!impl.server) {
        return;
    }
    {
        std::lock_guard guard(impl.lock);
        impl.stopping = true;
    }
    impl.stopSignal.notify_all();
    impl.server->stop();
    if (impl.listener.joinable()) {
        impl.listener.join();
    }
    impl.server.reset();
    impl.CloseRequestLog();
}

int FileServer::port() const {
    return impl_->port;
}

std::string FileServer::Url(const std::string& target) const {
    return std::string(impl_->secure() ? "https" : "http") + "://127.0.0.1:" + std::to_string(impl_->port) + target;
}

std::vector<RecordedRequest> FileServer::Requests() const {
    std::lock_guard guard(impl_->lock);
    return impl_->requests;
}

void FileServer::ClearRequests() {
    std::lock_guard guard(impl_->lock);
    impl_->requests.clear();
}

std::size_t FileServer::ConnectionCount() const {
    std::lock_guard guard(impl_->lock);
    std::set<int> ports;
    for (const auto& request : impl_->requests) {
        ports.insert(request.remotePort);
    }
    return ports.size();
}
