#include "net/http_downloader.h"

#include "base/log.h"
#include "base/tick_count.h"
#include "net/curl_transport.h"
#include "net/file_validator.h"
#include "net/internet_errors.h"
#include "net/rate_limit.h"
#include "net/url_parser.h"
#include "res/string_table.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::uint32_t ERROR_OUTOFMEMORY = 14;
constexpr int kMaxCredentialResends = 3;
constexpr int kIdsTransferBroken = 114;

// Log lines of failures that end more than one step.
constexpr const char* kPositionFailedLog =
    "CHttpDownloader2::_Download, An exception occured while set file pointer position, Error:%d\n";
constexpr const char* kReadFailedLog = "CHttpDownloader::_Download, Failed in call to InternetReadFile, Error:%d\n";
constexpr const char* kWriteFailedLog =
    "CHttpDownloader::OnDownloadData, An exception occured while writing to the download file\n";
constexpr const char* kAcceptTypesFailedLog = "CHttpDownloader::CreateRequest, Failed in allocate AcceptTypes buffer\n";

std::uint32_t CurrentSystemError() {
    return static_cast<std::uint32_t>(errno);
}

// The pieces of an accept-types text: split at "," and ";", empty pieces dropped, spaces kept.
std::vector<std::string> SplitAcceptTypes(const std::string& text) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == ',' || text[i] == ';') {
            if (i > start) {
                pieces.push_back(text.substr(start, i - start));
            }
            start = i + 1;
        }
    }
    return pieces;
}

// The largest size a file can have: file systems count in signed 64 bits.
constexpr std::uint64_t kLargestFileSize = std::numeric_limits<std::int64_t>::max();

// A size of a file in decimal digits alone: no sign, space or anything after them.
bool ParseFileSize(std::string_view text, std::uint64_t& size) {
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, size);
    return stop == end && error == std::errc() && size <= kLargestFileSize;
}

// A "bytes first-last/complete" Content-Range value; the complete length may be "*".
bool ParseContentRange(std::string_view value, ContentRange& range) {
    constexpr std::string_view kUnit = "bytes ";
    const std::size_t dash = value.find('-');
    const std::size_t slash = value.find('/');
    if (!value.starts_with(kUnit) || dash == std::string_view::npos || slash == std::string_view::npos ||
        dash > slash || !ParseFileSize(value.substr(kUnit.size(), dash - kUnit.size()), range.first) ||
        !ParseFileSize(value.substr(dash + 1, slash - dash - 1), range.last)) {
        return false;
    }
    const std::string_view complete = value.substr(slash + 1);
    range.complete.reset();
    if (complete == "*") {
        return true;
    }
    std::uint64_t size = 0;
    if (!ParseFileSize(complete, size)) {
        return false;
    }
    range.complete = size;
    return true;
}

// A range of bytes that exist, of the length the answer gives for them.
bool RangeAgrees(const ContentRange& range, std::optional<std::uint64_t> length) {
    return range.first <= range.last && (!range.complete || range.last < *range.complete) &&
           (!length || *length == range.last - range.first + 1);
}

// The complete length of a "bytes first-last/complete" or "bytes */complete" Content-Range value.
bool ParseContentRangeTotal(const std::string& value, std::uint64_t& total) {
    constexpr std::string_view kUnsatisfied = "bytes */";
    const std::string_view text = value;
    if (text.starts_with(kUnsatisfied)) {
        return ParseFileSize(text.substr(kUnsatisfied.size()), total);
    }
    ContentRange range;
    if (!ParseContentRange(text, range) || !range.complete || !RangeAgrees(range, std::nullopt)) {
        return false;
    }
    total = *range.complete;
    return true;
}

// The name of the file a transfer writes, for texts a player reads; "?" without one.
std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return name.empty() ? "?" : name;
}

} // namespace

CHttpDownloader2::CHttpDownloader2() : ownConnections_(std::make_unique<OwnConnections>()) {}

CHttpDownloader2::~CHttpDownloader2() {
    {
        std::lock_guard lock(handleLock);
        requestHandle = nullptr;
        connectionHandle = nullptr;
        internetHandle = nullptr;
        ReleaseTransport();
    }
    ownConnections_.reset();
    file.Close();
}

bool CHttpDownloader2::Download() {
    const bool result = _Download();
    CloseHandles();
    if (!localFileName.empty()) {
        file.Close();
    }
    return result;
}

void CHttpDownloader2::CloseHandles() {
    std::lock_guard lock(handleLock);
    requestHandle = nullptr;
    connectionHandle = nullptr;
    internetHandle = nullptr;
    handlesClosed_.notify_all();
    const bool runningElsewhere = transferThread_ != std::thread::id() && transferThread_ != std::this_thread::get_id();
    if (runningElsewhere) {
        // The libcurl handles belong to the transfer's thread: wake it, it fails and lets them go.
        if (session_ != nullptr) {
            session_->Wake();
        }
        return;
    }
    ReleaseTransport();
}

void CHttpDownloader2::ReleaseTransport() {
    request_.reset();
    connection_.reset();
    session_.reset(); // a pooled multi handle goes back to the pool
    transferThread_ = std::thread::id();
}

void CHttpDownloader2::UseSharedConnections(bool shared) {
    useSharedConnections_ = shared;
}

void CHttpDownloader2::CloseSharedConnections() {
    ClosePooledMultiHandles();
}

bool CHttpDownloader2::_Download() {
    BeginTransport();
    lastFailure_ = {};
    verifiedSecure_ = false;
    segmentVoid_ = false;
    rangeValidator_.reset();

    ParsedUrl parsed;
    if (!ParseUrl(url, parsed)) {
        url = "http://" + url;
        if (!ParseUrl(url, parsed)) {
            WriteLog("CHttpDownloader2::_Download, Failed to parse the URL: %s\n", url.c_str());
            return false;
        }
        WriteLog("CHttpDownloader2::_Download, Sucessfully parse the URL: %s\n", url.c_str());
    }
    serviceType = parsed.serviceType;
    serverName = parsed.serverName;
    objectPath = parsed.objectPath;
    serverPort = parsed.serverPort;

    // Once a stop is asked for, the player's file is neither made nor touched.
    if (IsAbortRequested()) {
        return Fail("CHttpDownloader2::_Download, Stop requested before the transfer, the local file is left alone\n",
                    111, ERROR_INTERNET_OPERATION_CANCELLED);
    }
    // Opened without cutting it: what is there stays until the server has answered with a body.
    if (!file.Open(localFileName)) {
        return FailLocal("CHttpDownloader2::_Download, Failed to open the file to download into, Error:%d\n", 131);
    }
    WriteLog("CHttpDownloader2::_Download, Sucessfully open the file to download into\n");
    LoadResumeValidator();

    if (!SendRequest()) {
        return false;
    }
    if (AnswerIsOfAnotherVersion()) {
        if (segment) {
            return FailRangeRefused();
        }
        // Appending it would splice two versions into one file.
        WriteLog("[INFO][%s][%d] The server sent a part of another version of [%s] than the one on disk; fetching "
                 "it again from the start.",
                 "CHttpDownloader2::_Download", __LINE__, localFileName.c_str());
        StartOverFromFirstByte();
        if (!SendRequest()) {
            return false;
        }
    }

    std::uint64_t length = 0;
    bool lengthKnown = false;
    if (!ReadContentLength(length, lengthKnown)) {
        return false;
    }
    if (headOnly) {
        NoteRangeValidator();
        return lengthKnown ? AcceptContentLength(length) : ProbeContentLength();
    }
    if (lengthKnown) {
        AcceptContentLength(length);
    } else {
        WriteLog("CHttpDownloader2::_Download, failed to get content length for request, continuing\n");
        contentLength = 0;
    }

    HttpRequest* request = CurrentRequest();
    const std::uint32_t status = request != nullptr ? request->status() : 0;
    verifiedSecure_ = AnswerIsVerifiedSecure();
    std::optional<ContentRange> range;
    std::optional<std::uint64_t> bodyLimit;
    const std::optional<std::uint64_t> answerLength = lengthKnown ? std::optional(length) : std::nullopt;
    if (!RestartOrCheckRange(status, answerLength, range) || !BoundBody(answerLength, range, bodyLimit) ||
        !PositionFile()) {
        return false;
    }
    StoreResumeValidator(status);
    return TransferBody(length, lengthKnown, bodyLimit);
}

void CHttpDownloader2::BeginTransport() {
    CloseHandles();
    std::lock_guard lock(handleLock);
    transferThread_ = std::this_thread::get_id();
}

void CHttpDownloader2::StartOverFromFirstByte() {
    BeginTransport(); // the answer is dropped with its connection, not read to its end
    startOffset = 0;
    resumeValidator_.reset();
    if (digest_) {
        digest_->Reset();
    }
    OnRangeIgnored();
}

bool CHttpDownloader2::AnswerIsOfAnotherVersion() {
    HttpRequest* request = CurrentRequest();
    if (!resumeValidator_ || request == nullptr || request->status() != 206) {
        return false;
    }
    std::string etag;
    std::string lastModified;
    request->FindHeader("ETag", etag);
    request->FindHeader("Last-Modified", lastModified);
    return ChooseValidator(etag, lastModified) != resumeValidator_;
}

bool CHttpDownloader2::FailRangeRefused() {
    WriteLog("[ERROR][%s][%d] The server sent [%s] whole or of another version instead of bytes [%I64u-%I64u] of "
             "the one being written.",
             "CHttpDownloader2::_Download", __LINE__, url.c_str(), startOffset, segment->last);
    lastFailure_.answerFault = AnswerFault::RangeRefused;
    return false;
}

void CHttpDownloader2::NoteRangeValidator() {
    HttpRequest* request = CurrentRequest();
    std::string ranges;
    if (request == nullptr || !request->FindHeader("Accept-Ranges", ranges) ||
        ranges.find("bytes") == std::string::npos) {
        return;
    }
    std::string etag;
    std::string lastModified;
    request->FindHeader("ETag", etag);
    request->FindHeader("Last-Modified", lastModified);
    rangeValidator_ = ChooseValidator(etag, lastModified);
}

bool CHttpDownloader2::AcceptContentLength(std::uint64_t length) {
    contentLength = length;
    OnContentLength(length);
    WriteLog("CHttpDownloader2::_Download, Sucessfully get content length for request, continuing\n");
    return true;
}

bool CHttpDownloader2::ProbeContentLength() {
    WriteLog("CHttpDownloader2::_Download, failed to get content length for request, continuing\n");
    contentLength = 0;
    WriteLog("[INFO][%s][%d] No length in the answer to HEAD of [%s]: asking for its first byte instead.",
             "CHttpDownloader2::_Download", __LINE__, url.c_str());
    BeginTransport();
    lengthProbe_ = true;
    const bool sent = SendRequest();
    lengthProbe_ = false;
    if (!sent) {
        return false;
    }
    HttpRequest* request = CurrentRequest();
    std::string value;
    std::uint64_t length = 0;
    const std::uint32_t status = request != nullptr ? request->status() : 0;
    bool known = false;
    bool sound = true;
    if (status == 200) {
        sound = ReadContentLength(length, known);
    } else {
        known =
            request != nullptr && request->FindHeader("Content-Range", value) && ParseContentRangeTotal(value, length);
    }
    BeginTransport(); // the body, up to the whole file for a 200, is not wanted
    if (!sound) {
        return false;
    }
    if (!known) {
        WriteLog("[ERROR][%s][%d] The server tells no length of [%s] for a range either.",
                 "CHttpDownloader2::_Download", __LINE__, url.c_str());
        lastFailure_.lengthUnknown = true;
        return false;
    }
    return AcceptContentLength(length);
}

bool CHttpDownloader2::SendRequest() {
    if (!CreateSession() || !CreateConnection() || !CreateRequest()) {
        return false;
    }

    SendRounds rounds;
    if (sendProxyCredentials) {
        if (!DoProxyAuthentication()) {
            return false;
        }
        rounds.proxyCredentials = true;
    }
    if (sendHttpCredentials) {
        if (!DoHTTPAuthentication()) {
            return false;
        }
        rounds.httpCredentials = true;
    }
    return SendUntilAnswered(rounds);
}

bool CHttpDownloader2::SendUntilAnswered(SendRounds& rounds) {
    for (;;) {
        const std::string headers = BuildRequestHeaders();
        // A stop asked for before the handles existed counts as closing them: nothing is sent.
        HttpRequest* request = IsAbortRequested() ? nullptr : CurrentRequest();
        std::uint32_t error = ERROR_INTERNET_OPERATION_CANCELLED;
        if (request == nullptr || !request->Send(headers, error)) {
            if (error == ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED && !rounds.certificate && ApplyClientCertificate()) {
                rounds.certificate = true;
                continue;
            }
            return Fail("CHttpDownloader::_Download, Failed in call to HttpSendRequest, Error:%d\n", 111, error);
        }
        WriteLog("CHttpDownloader::_Download, Sucessfully call to HttpSendRequest.\n");

        request = CurrentRequest();
        if (request == nullptr) {
            return Fail("CHttpDownloader::_Download, Failed in call to HttpQueryInfo for HTTP query status code, "
                        "Error:%d\n",
                        112, ERROR_INTERNET_OPERATION_CANCELLED);
        }
        const std::uint32_t status = request->status();
        WriteLog("CHttpDownloader::_Download, Sucessfully call to HttpQueryInfo for HTTP query status code.\n");

        if (status == 401 || status == 407) {
            if (!MeetChallenge(status, rounds)) {
                return false;
            }
            continue;
        }
        // A range past the end of an empty file still tells its length.
        const bool probeAnswered = lengthProbe_ && status == 416;
        if (status != 200 && status != 206 && !probeAnswered) {
            return FailOnStatus(status);
        }
        return true;
    }
}

bool CHttpDownloader2::MeetChallenge(std::uint32_t status, SendRounds& rounds) {
    if (!DrainAnswer()) {
        return false;
    }
    const bool proxy = status == 407;
    const std::string& userName = proxy ? proxyUserName : httpUserName;
    bool& applied = proxy ? rounds.proxyCredentials : rounds.httpCredentials;
    if (!userName.empty() && !applied) {
        if (!(proxy ? DoProxyAuthentication() : DoHTTPAuthentication())) {
            return false;
        }
        applied = true;
        return true;
    }
    lastFailure_.credentialsSent = !userName.empty();
    if (!(proxy ? promptProxyCredentials : promptHttpCredentials)) {
        return FailOnStatus(status);
    }
    // A hook that keeps asking to send again would otherwise hold the transfer forever.
    if (rounds.hookResends == kMaxCredentialResends) {
        WriteLog("[ERROR][%s][%d] Credentials asked for %d times, giving up.", "CHttpDownloader2::_Download", __LINE__,
                 kMaxCredentialResends + 1);
        return FailOnStatus(status);
    }
    std::uint32_t code = 0;
    if (PromptForCredentials(&code)) {
        ++rounds.hookResends;
        return true;
    }
    if (code != 0) {
        ReportFailure(132, code);
    } else {
        lastFailure_.status = status; // declined: the demand itself is why
    }
    return false;
}

bool CHttpDownloader2::PositionFile() {
    if (!(segment ? file.SetPosition(startOffset) : file.SetPositionAndLength(startOffset))) {
        return FailLocal(kPositionFailedLog, 133);
    }
    WriteLog("CHttpDownloader2::_Download, Sucessfully set file pointer position\n");
    return true;
}

bool CHttpDownloader2::FailOnStatus(std::uint32_t status) {
    WriteLog("CHttpDownloader::_Download, Failed to retrieve a HTTP OK or partial content status, Status Code:%d\n",
             status);
    lastFailure_.status = status;
    if (HttpRequest* request = CurrentRequest()) {
        request->FindHeader("Retry-After", lastFailure_.retryAfter);
    }
    ReportErrorCode(113, status);
    return false;
}

bool CHttpDownloader2::AnswerIsVerifiedSecure() {
    const std::uint32_t flags = GetOpenRequestFlags();
    HttpRequest* request = CurrentRequest();
    ParsedUrl reached;
    return request != nullptr && (flags & INTERNET_FLAG_SECURE) != 0 &&
           (flags & INTERNET_FLAG_IGNORE_CERT_CN_INVALID) == 0 && ParseUrl(request->AnsweredUrl(), reached) &&
           reached.serviceType == INET_SERVICE_HTTPS && reached.serverPort == serverPort &&
           ::strcasecmp(reached.serverName.c_str(), serverName.c_str()) == 0;
}

void CHttpDownloader2::ReportFailure(int stringId, std::uint32_t code) {
    lastFailure_.error = code != 0 ? code : static_cast<std::uint32_t>(errno);
    ReportError(stringId, code);
}

void CHttpDownloader2::ReportLocalFailure(int stringId) {
    const auto code = static_cast<std::uint32_t>(file.lastError());
    lastFailure_.local = true;
    ReportFailure(stringId, code);
}

bool CHttpDownloader2::Fail(const char* logFormat, int stringId, std::uint32_t code) {
    WriteLog(logFormat, code);
    ReportFailure(stringId, code);
    return false;
}

bool CHttpDownloader2::FailLocal(const char* logFormat, int stringId) {
    WriteLog(logFormat, file.lastError());
    ReportLocalFailure(stringId);
    return false;
}

std::unique_ptr<char[]> CHttpDownloader2::AllocateReadBuffer() {
    std::unique_ptr<char[]> buffer(readBufferSize > 0 ? new (std::nothrow) char[readBufferSize] : nullptr);
    if (!buffer) {
        Fail("CHttpDownloader2::_Download, Failed in allocate read buffer\n", 110, ERROR_OUTOFMEMORY);
        return nullptr;
    }
    WriteLog("CHttpDownloader2::_Download, Sucessfully allocate read buffer\n");
    return buffer;
}

void CHttpDownloader2::LoadResumeValidator() {
    resumeValidator_.reset();
    if (segment && !headOnly) {
        resumeValidator_ = segment->validator;
        return;
    }
    if (headOnly || startOffset == 0 || !validateResume) {
        return;
    }
    resumeValidator_ = LoadFileValidator(localFileName);
    if (!resumeValidator_) {
        WriteLog("[INFO][%s][%d] No version of the server's file is stored with [%s]: continuing it unvalidated.",
                 "CHttpDownloader2::_Download", __LINE__, localFileName.c_str());
        return;
    }
    // Validators of different servers do not compare: another server's would vouch for nothing.
    const std::string here = FormatAuthority(serverName, serverPort);
    const std::optional<std::string> origin = LoadFileOrigin(localFileName);
    if (origin != here) {
        WriteLog("[INFO][%s][%d] The part of [%s] on disk came from [%s], not from [%s]; fetching it again from the "
                 "start.",
                 "CHttpDownloader2::_Download", __LINE__, localFileName.c_str(), origin.value_or("?").c_str(),
                 here.c_str());
        resumeValidator_.reset();
        startOffset = 0;
        if (digest_) {
            digest_->Reset();
        }
        OnRangeIgnored();
    }
}

void CHttpDownloader2::StoreResumeValidator(std::uint32_t status) {
    HttpRequest* request = CurrentRequest();
    if (headOnly || segment || localFileName.empty() || request == nullptr) {
        return;
    }
    std::string etag;
    std::string lastModified;
    request->FindHeader("ETag", etag);
    request->FindHeader("Last-Modified", lastModified);
    if (status == 206 && !resumeValidator_) {
        // Continued unvalidated: the bytes before the range may be of any version, so none vouches for them.
        RemoveFileValidator(localFileName);
        return;
    }
    if (const std::optional<std::string> validator = ChooseValidator(etag, lastModified)) {
        if (!StoreFileValidator(localFileName, *validator, FormatAuthority(serverName, serverPort))) {
            WriteLog("[INFO][%s][%d] Cannot keep the server file's version with [%s] (%s): continuing it later will "
                     "be unvalidated.",
                     "CHttpDownloader2::_Download", __LINE__, localFileName.c_str(), std::strerror(errno));
        }
    } else if (status == 200) {
        RemoveFileValidator(localFileName); // a version of an earlier file must not vouch for this one
    }
}

bool CHttpDownloader2::HashFile(std::uint64_t existingBytes) {
    digest_ = std::make_unique<Sha256Digest>();
    return existingBytes == 0 ||
           HashFilePrefix(localFileName, existingBytes, *digest_, [this] { return IsAbortRequested(); });
}

Sha256Bytes CHttpDownloader2::FileDigest() {
    return digest_ ? digest_->Final() : Sha256Bytes{};
}

bool CHttpDownloader2::RestartOrCheckRange(std::uint32_t status, std::optional<std::uint64_t> length,
                                           std::optional<ContentRange>& range) {
    if (status == 200 && segment) {
        return FailRangeRefused();
    }
    if (status == 200 && startOffset > 0) {
        // A whole body written behind a partial copy would corrupt the file: start it again.
        if (resumeValidator_) {
            WriteLog("[INFO][%s][%d] The server's file changed since [%s] was begun: the part on disk is of another "
                     "version.",
                     "CHttpDownloader2::_Download", __LINE__, localFileName.c_str());
        }
        WriteLog("[INFO][%s][%d] The server sent the whole file instead of the range from [%I64u]; writing it from "
                 "the start.",
                 "CHttpDownloader2::_Download", __LINE__, startOffset);
        startOffset = 0;
        if (digest_) {
            digest_->Reset();
        }
        OnRangeIgnored();
        return true;
    }
    if (status == 206) {
        HttpRequest* request = CurrentRequest();
        std::string value;
        ContentRange parsed;
        if (request == nullptr || !request->FindHeader("Content-Range", value) || !ParseContentRange(value, parsed) ||
            parsed.first != startOffset ||
            (segment && (parsed.last != segment->last || parsed.complete != expectedSize))) {
            WriteLog("[ERROR][%s][%d] Content-Range [%s] does not start at [%I64u].", "CHttpDownloader2::_Download",
                     __LINE__, value.c_str(), startOffset);
            ReportErrorCode(113, status);
            lastFailure_.answerFault = AnswerFault::InvalidRange;
            return false;
        }
        if (!RangeAgrees(parsed, length)) {
            WriteLog("[ERROR][%s][%d] Content-Range [%s] names no bytes of the file or not the [%s] bytes the answer "
                     "brings.",
                     "CHttpDownloader2::_Download", __LINE__, value.c_str(),
                     length ? std::to_string(*length).c_str() : "?");
            ReportErrorCode(113, status);
            lastFailure_.answerFault = AnswerFault::InvalidRange;
            return false;
        }
        range = parsed;
    }
    return true;
}

bool CHttpDownloader2::BoundBody(std::optional<std::uint64_t> length, const std::optional<ContentRange>& range,
                                 std::optional<std::uint64_t>& bodyLimit) {
    // The size of the file by the answer's word: the whole a range is part of, else the length of a whole.
    std::optional<std::uint64_t> announced;
    if (range) {
        bodyLimit = range->last - range->first + 1;
        announced = range->complete.value_or(range->last + 1);
    } else if (length) {
        bodyLimit = length;
        announced = length;
    }
    if (expectedSize && announced && *announced > *expectedSize) {
        WriteLog("[ERROR][%s][%d] The server announces [%I64u] bytes of [%s], more than the [%I64u] expected; the "
                 "local file is left alone.",
                 "CHttpDownloader2::_Download", __LINE__, *announced, url.c_str(), *expectedSize);
        lastFailure_.answerFault = AnswerFault::LargerThanExpected;
        lastFailure_.expectedSize = *expectedSize;
        lastFailure_.announcedSize = *announced;
        return false;
    }
    if (expectedSize && !bodyLimit) {
        bodyLimit = *expectedSize; // a whole file without a length, from byte 0
    }
    return true;
}

bool CHttpDownloader2::DropLongerBody(std::uint64_t announced) {
    WriteLog("[ERROR][%s][%d] The server sent more than the [%I64u] bytes of [%s] it announced; what it sent is "
             "dropped.",
             "CHttpDownloader2::_Download", __LINE__, announced, url.c_str());
    lastFailure_.answerFault = AnswerFault::LongerThanAnnounced;
    lastFailure_.expectedSize = announced;
    if (segment) {
        segmentVoid_ = true; // others' bytes follow this segment's: nothing is cut, nothing of it counts
        return false;
    }
    // An answer that breaks its word vouches for none of its bytes: kept up to the size it announced, they
    // would pass every size check as the whole file.
    if (!file.SetPositionAndLength(startOffset)) {
        return FailLocal(kPositionFailedLog, 133);
    }
    return false;
}

bool CHttpDownloader2::TransferBody(std::uint64_t answerLength, bool lengthKnown,
                                    std::optional<std::uint64_t> bodyLimit) {
    rateWindow_ = {maxBytesPerMs.load(), TickCount(), 0};
    const std::unique_ptr<char[]> buffer = AllocateReadBuffer();
    if (!buffer) {
        return false;
    }

    const auto bufferSize = static_cast<std::uint32_t>(readBufferSize);
    const std::uint64_t expectedFileSize = startOffset + (lengthKnown ? answerLength : 0);
    std::uint64_t transferred = 0;
    for (;;) {
        std::uint32_t bytesRead = 0;
        std::uint32_t error = 0;
        if (!ReadPiece(buffer.get(), bufferSize, bytesRead, error)) {
            return Fail(kReadFailedLog, 114, error);
        }
        if (bytesRead > 0) {
            if (bodyLimit && bytesRead > *bodyLimit - transferred) {
                return DropLongerBody(startOffset + *bodyLimit);
            }
            if (!OnDownloadData(buffer.get(), bytesRead)) {
                WriteLog("CHttpDownloader::_Download, Failed in call to OnDownloadData.\n");
                return false;
            }
            if (digest_) {
                digest_->Update(buffer.get(), bytesRead);
            }
            transferred += bytesRead;
            ApplyRateLimit(transferred);
        }
        OnProgress(transferred, bytesRead, lengthKnown, expectedFileSize, progressContext);
        if (bytesRead == 0 || IsAbortRequested()) {
            if (!FlushDownloadedData()) {
                WriteLog("CHttpDownloader::_Download, Failed in call to OnDownloadData.\n");
                return false;
            }
            if (bytesRead == 0 || (lengthKnown && transferred >= answerLength)) {
                return true;
            }
            // Stopped before the last byte: the part stays on disk for the next run, never as a whole file.
            return Fail(kReadFailedLog, 114, ERROR_INTERNET_OPERATION_CANCELLED);
        }
    }
}

bool CHttpDownloader2::DrainAnswer() {
    const std::unique_ptr<char[]> buffer = AllocateReadBuffer();
    if (!buffer) {
        return false;
    }
    std::uint32_t bytesRead = 0;
    std::uint32_t error = 0;
    while (ReadPiece(buffer.get(), static_cast<std::uint32_t>(readBufferSize), bytesRead, error) && bytesRead > 0) {
    }
    return true;
}

bool CHttpDownloader2::ReadPiece(char* buffer, std::uint32_t size, std::uint32_t& bytesRead, std::uint32_t& error) {
    HttpRequest* request = CurrentRequest();
    if (request == nullptr) {
        bytesRead = 0;
        error = ERROR_INTERNET_OPERATION_CANCELLED;
        return false;
    }
    return request->Read(buffer, size, bytesRead, error);
}

bool CHttpDownloader2::FlushDownloadedData() {
    if (localFileName.empty() || file.Flush()) {
        return true;
    }
    return FailLocal(kWriteFailedLog, 114);
}

void CHttpDownloader2::ApplyRateLimit(std::uint64_t transferred) {
    const double limit = maxBytesPerMs.load(std::memory_order_relaxed);
    // No clock read per piece while there is no limit.
    const std::chrono::milliseconds wait =
        RateLimitWait(rateWindow_, limit, limit > 0.0 ? TickCount() : 0, transferred);
    if (wait.count() == 0) {
        return;
    }
    std::unique_lock lock(handleLock);
    handlesClosed_.wait_for(lock, wait, [this] { return requestHandle == nullptr; });
}

bool CHttpDownloader2::ApplyClientCertificate() {
    return certificateViaHook ? SetClientCertificate() : CHttpDownloader2::SetClientCertificate();
}

bool CHttpDownloader2::DeleteDownloadedFile() {
    WriteLog("[%s][%d] File [%s] is to be deleted.", "CHttpDownloader2::DeleteDownloadedFile", 265,
             localFileName.c_str());
    if (::unlink(localFileName.c_str()) != 0) {
        WriteLog("CHttpDownloader2::DeleteDownloadedFile, Failed to delete failed downloaded file, Error:%d\n", errno);
        return false;
    }
    WriteLog("CHttpDownloader2::DeleteDownloadedFile, Sucessfully delete failed downloaded file\n");
    return true;
}

bool CHttpDownloader2::QueryContentLength(std::uint64_t& length) {
    HttpRequest* request = CurrentRequest();
    std::string value;
    return request != nullptr && request->FindHeader("Content-Length", value) && ParseFileSize(value, length);
}

bool CHttpDownloader2::ReadContentLength(std::uint64_t& length, bool& known) {
    known = QueryContentLength(length);
    HttpRequest* request = CurrentRequest();
    std::string value;
    if (known || request == nullptr || !request->FindHeader("Content-Length", value)) {
        return true;
    }
    WriteLog("[ERROR][%s][%d] Content-Length [%s] of [%s] is no size a file can have.", "CHttpDownloader2::_Download",
             __LINE__, value.c_str(), url.c_str());
    lastFailure_.answerFault = AnswerFault::InvalidLength;
    return false;
}

std::string CHttpDownloader2::FormatErrorText(std::uint32_t code) {
    return DescribeErrorCode(code).substr(0, 4096);
}

bool CHttpDownloader2::CreateSession() {
    std::lock_guard lock(handleLock);
    if (internetHandle != nullptr) {
        WriteLog("CHttpDownloader2::CreateSession, Sucessfully call to WinHttpOpen.\n");
        return true;
    }
    std::uint32_t code = 0;
    auto session = std::make_unique<InternetSession>();
    session->userAgent = userAgent.empty() ? std::string(program_invocation_short_name) : userAgent;
    session->accessType = accessType;
    session->proxyServer = proxyServer;
    if (accessType < 0 || accessType > 2) {
        code = EINVAL;
    } else if (!session->UseConnections(*ownConnections_, useSharedConnections_)) {
        code = ENOMEM;
    }
    if (code != 0) {
        return Fail("CHttpDownloader2::CreateSession, Failed in call to WinHttpOpen, Error:%d\n", 110, code);
    }
    session_ = std::move(session);
    internetHandle = session_.get();
    WriteLog("CHttpDownloader2::CreateSession, Sucessfully call to WinHttpOpen.\n");
    return true;
}

bool CHttpDownloader2::CreateConnection() {
    std::lock_guard lock(handleLock);
    if (internetHandle == nullptr) {
        return Fail("CHttpDownloader::CreateConnection, Failed in call to InternetConnect, Error:%d\n", 111,
                    ERROR_INTERNET_OPERATION_CANCELLED);
    }
    auto connection = std::make_unique<InternetConnection>();
    connection->serverName = serverName;
    connection->serverPort = serverPort;
    connection_ = std::move(connection);
    connectionHandle = connection_.get();
    WriteLog("CHttpDownloader::CreateConnection, Sucessfully call to InternetConnect\n");
    return true;
}

bool CHttpDownloader2::CreateRequest() {
    RequestSettings settings;
    std::string copy;
    try {
        copy = acceptTypes;
    } catch (const std::bad_alloc&) {
        return Fail(kAcceptTypesFailedLog, 110, ERROR_OUTOFMEMORY);
    }
    WriteLog("CHttpDownloader::CreateRequest, Sucessfully allocate AcceptTypes buffer\n");
    try {
        settings.acceptTypes = SplitAcceptTypes(copy);
    } catch (const std::bad_alloc&) {
        return Fail(kAcceptTypesFailedLog, 110, ERROR_OUTOFMEMORY);
    }
    WriteLog("CHttpDownloader::CreateRequest, sucessfully allocate AcceptTypes buffer\n");

    std::lock_guard lock(handleLock);
    if (headOnly) {
        verb = "HEAD";
    }
    settings.verb = lengthProbe_ ? std::string("GET") : verb;
    settings.objectPath = objectPath;
    settings.httpVersion = httpVersion;
    settings.referrer = referrer;
    settings.flags = GetOpenRequestFlags();

    std::uint32_t code = ERROR_INTERNET_OPERATION_CANCELLED;
    std::unique_ptr<HttpRequest> request;
    if (internetHandle != nullptr && connectionHandle != nullptr) {
        // A stop asked for before the handles existed must still break a transfer that waits.
        request = std::make_unique<HttpRequest>(
            *session_, [this] { return requestHandle.load() != nullptr && abortFlag.load() == 0; });
        if (!request->Open(*session_, *connection_, settings, code)) {
            request.reset();
        }
    }
    if (request == nullptr) {
        return Fail("CHttpDownloader::CreateRequest, Failed in call to HttpOpenRequest, Error:%d\n", 111, code);
    }
    request_ = std::move(request);
    requestHandle = request_.get();
    WriteLog("CHttpDownloader::CreateRequest, Sucessfully call to HttpOpenRequest.\n");
    return true;
}

bool CHttpDownloader2::ApplyCredential(bool proxy, bool password, const std::string& value, const char* failureFormat) {
    using Credential = HttpRequest::Credential;
    const Credential which = proxy ? (password ? Credential::ProxyPassword : Credential::ProxyUserName)
                                   : (password ? Credential::ServerPassword : Credential::ServerUserName);
    HttpRequest* request = CurrentRequest();
    if (request != nullptr && request->SetCredential(which, value)) {
        return true;
    }
    const std::uint32_t code = request == nullptr ? ERROR_INTERNET_OPERATION_CANCELLED : ERROR_OUTOFMEMORY;
    WriteLog(failureFormat, code);
    ReportErrorCode(110, code);
    return false;
}

bool CHttpDownloader2::DoHTTPAuthentication() {
    if (httpUserName.empty()) {
        return true;
    }
    if (!ApplyCredential(false, false, httpUserName,
                         "CHttpDownloader::DoHTTPAuthentication, Failed to set HTTP server username details, "
                         "Error:%d\n")) {
        return false;
    }
    WriteLog("CHttpDownloader::DoHTTPAuthentication, Sucesfully set HTTP server username details.\n");
    return ApplyCredential(false, true, httpPassword,
                           "CHttpDownloader::DoHTTPAuthentication, Failed to set HTTP server password details, "
                           "Error:%d\n");
}

bool CHttpDownloader2::DoProxyAuthentication() {
    if (proxyUserName.empty()) {
        return true;
    }
    if (!ApplyCredential(true, false, proxyUserName,
                         "CHttpDownloader::DoProxyAuthentication, Failed to set Proxy username details, Error:%d\n")) {
        return false;
    }
    WriteLog("CHttpDownloader::DoProxyAuthentication, Sucessfully set Proxy username details.\n");
    return ApplyCredential(true, true, proxyPassword,
                           "CHttpDownloader::DoProxyAuthentication, Failed to set Proxy password details, Error:%d\n");
}

bool CHttpDownloader2::SetClientCertificate() {
    HttpRequest* request = CurrentRequest();
    if (clientCertificate == nullptr || request == nullptr) {
        return false;
    }
    return request->SetClientCertificate(clientCertificate->certificateFile, clientCertificate->privateKeyFile,
                                         clientCertificate->privateKeyPassword);
}

void CHttpDownloader2::ReservedHook(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}

void CHttpDownloader2::ReportError(int stringId, std::uint32_t code) {
    if (code == 0) {
        code = CurrentSystemError();
    }
    // The transfer's broken-off text names the file it was writing.
    const std::string text = stringId == kIdsTransferBroken
                                 ? FormatStringId(stringId, FormatErrorText(code), BaseName(localFileName))
                                 : FormatStringId(stringId, FormatErrorText(code));
    WriteLog("%s\n", text.c_str());
}

void CHttpDownloader2::ReportErrorCode(int stringId, std::uint32_t number) {
    WriteLog("%s", FormatStringId(stringId, std::to_string(number)).c_str());
}

std::uint32_t CHttpDownloader2::GetOpenRequestFlags() {
    std::uint32_t flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION |
                          INTERNET_FLAG_PRAGMA_NOCACHE;
    if (serviceType == INET_SERVICE_HTTPS) {
        flags |= INTERNET_FLAG_SECURE; // the server's certificate and name are checked
    }
    if (noAutoRedirect) {
        flags |= INTERNET_FLAG_NO_AUTO_REDIRECT;
    }
    return flags;
}

std::string CHttpDownloader2::BuildRequestHeaders() {
    if (lengthProbe_) {
        return "Range: bytes=0-0\r\n";
    }
    if (segment) {
        return "Range: bytes=" + std::to_string(startOffset) + "-" + std::to_string(segment->last) +
               "\r\nIf-Range: " + segment->validator + "\r\n";
    }
    if (startOffset == 0) {
        return {};
    }
    std::string headers = "Range: bytes=" + std::to_string(startOffset) + "-\r\n";
    if (resumeValidator_) {
        headers += "If-Range: " + *resumeValidator_ + "\r\n"; // another version answers whole
    }
    return headers;
}

bool CHttpDownloader2::PromptForCredentials(std::uint32_t* code) {
    *code = 0;
    return false;
}

void CHttpDownloader2::SetStatus(const std::string& text) {
    WriteLog("CHttpDownloader2::SetStatus, %s\n", text.c_str());
}

void CHttpDownloader2::SetStatusFormat(int stringId, const std::string& insert) {
    SetStatus(FormatStringId(stringId, insert));
}

void CHttpDownloader2::SetStatusId(int stringId) {
    const std::string text = LoadStringId(stringId);
    if (!text.empty()) {
        SetStatus(text);
    }
}

bool CHttpDownloader2::IsAbortRequested() {
    return abortFlag.load() != 0;
}

std::int32_t CHttpDownloader2::ClearAbortRequest() {
    return abortFlag.exchange(0);
}

void CHttpDownloader2::OnContentLength(std::uint64_t length) {
    WriteLog("Got a Content-Length header value of %I64u\n", length);
}

void CHttpDownloader2::OnProgress(std::uint64_t, std::uint32_t, bool, std::uint64_t, void*) {}

bool CHttpDownloader2::OnDownloadData(const char* data, std::uint32_t size) {
    if (!localFileName.empty() && !file.Write(data, size)) {
        return FailLocal(kWriteFailedLog, 114);
    }
    return !IsAbortRequested();
}

void CHttpDownloader2::SetProgressContext(void* context) {
    progressContext = context;
}

void CHttpDownloader2::OnRangeIgnored() {}
