#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// One request as the server received it.
struct RecordedRequest {
    std::string method;
    std::string target; // path and query as sent
    std::vector<std::pair<std::string, std::string>> headers;
    int remotePort = 0;

    // The value of header `name` (any letter case); empty when absent.
    std::string Header(const std::string& name) const;
};

struct FileServerOptions {
    std::string root;                     // the folder that is served
    int port = 0;                         // 0: an ephemeral port
    std::uint64_t rateBytesPerSecond = 0; // body rate of every answer; 0: unlimited
    // HTTPS when both are set (PEM files); clientCaFile additionally demands client certificates.
    std::string certificateFile;
    std::string privateKeyFile;
    std::string clientCaFile;
    // When set, one line per request is appended to this file as it arrives, so that another process
    // can follow the traffic: method, target, Range and User-Agent headers, separated by tabs.
    std::string requestLogFile;
};

// A local HTTP/1.1 file server on 127.0.0.1 for tests, benchmarks and the demo. It answers GET and
// HEAD with Content-Length, a single Range with 206 and Content-Range, keeps connections alive, streams
// large files, and records every request. Every answer with a file carries a strong ETag made of the
// file's size and modification time (in nanoseconds), so touching or replacing the file changes it, and
// a Last-Modified date; a Range with If-Range gets its part only when the If-Range value equals one of
// them exactly (a weak ETag never does), else the whole file with 200. Faults are chosen per request by
// the query:
//   status=N        answer status N with a short text body (a value that is no number, such as the end
//                   report's status=end, is no fault)
//   fail_first=K    the first K requests of this exact target (path and query) answer the status of
//                   status=N, 503 without it; later ones are served as usual. GET and HEAD are counted
//                   apart, so that a size survey does not use up the failures meant for the download
//   retry_after=V   a Retry-After: V header on those status answers, V as given (seconds or a date)
//   no_validators=1 no ETag and no Last-Modified (so no If-Range matches)
//   weak_etag=1     the ETag is weak: W/"..."
//   no_length=1     no Content-Length (the body is chunked)
//   ignore_range=1  200 with the whole body even for a Range request
//   ignore_if_range=1  a Range is answered with its part whatever If-Range says
//   head_no_length=1   a HEAD is answered without Content-Length; a GET as usual
//   range_from=N    answer a Range request with the part from byte N on, whatever was asked
//   delay_ms=N      send nothing for N ms (the client waits for the answer)
//   stall_ms=N      send the headers, then nothing for N ms before the body (or, with stall_after=B,
//                   before body byte B)
//   reset_after=N   close the connection after N bytes of the body
//   trickle_headers_ms=N  an interim 100 answer, then the final one's headers one line every N ms, 1000
//                   lines before the file's length and the whole file (a GET; a HEAD gets the 100 alone)
//   endless=1       a chunked body that never ends: the file's bytes (or its range) over and over until the
//                   client goes (a file of at least one byte)
//   length=TEXT     Content-Length: TEXT as given (any text, on HEAD too), then the file's bytes (or its
//                   range) and the end of the connection
//   announce=N      the same for a GET only: a HEAD tells the true length
//   content_range=TEXT  a 206 says Content-Range: TEXT as given, and sends the range asked for
//   auth=401|407    demand (proxy) credentials; any Authorization (Proxy-Authorization) header passes
//   refuse_credentials=1  with auth=: no credentials pass
//   rate=N          body at N bytes per second
//   redirect=URL    302 to URL
//   hops=N          302 to the same target with hops=N-1, until 0
class FileServer {
public:
    explicit FileServer(FileServerOptions options);
    ~FileServer();
    FileServer(const FileServer&) = delete;
    FileServer& operator=(const FileServer&) = delete;

    // Listens and serves on a thread of its own; false when the port cannot be bound, TLS set up or the
    // request log opened.
    bool Start();
    void Stop();

    int port() const;
    // "http://127.0.0.1:<port>" (or https) followed by `target`.
    std::string Url(const std::string& target) const;

    std::vector<RecordedRequest> Requests() const;
    void ClearRequests();
    // The number of distinct client connections the recorded requests came on.
    std::size_t ConnectionCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
