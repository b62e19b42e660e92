#include "net/segmented_download.h"

#include "base/log.h"
#include "base/tick_count.h"
#include "net/file_validator.h"
#include "net/http_downloader.h"
#include "net/internet_errors.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* kOrigin = "SegmentedDownload";
// How often what is written is made safe and noted, at most: each note waits for the disk.
constexpr std::uint32_t kPersistEveryMs = 2000;
// How often the pieces are looked at for a stop or a new speed limit while they run.
constexpr auto kWatchEvery = std::chrono::milliseconds(100);
constexpr std::uint64_t kSmallestPiece = 1 << 20;
constexpr std::uint64_t kLargestPiece = 64 << 20;
// Each connection takes a few pieces, so that one slow connection holds up the end little.
constexpr std::uint64_t kPiecesPerConnection = 2;
// A connection that brings this much (bytes per millisecond, about 2 Gbit/s) fills any player's line alone;
// judged once it has had this long.
constexpr double kFastConnection = 256.0 * 1024 * 1024 / 1000;
constexpr std::uint32_t kJudgeAfterMs = 100;
// The hash keeps up with what arrives in steps short enough for the watch to see a stop.
constexpr std::uint64_t kHashPerWatch = 64 << 20;

} // namespace

struct SegmentedDownload::Worker {
    std::unique_ptr<CHttpDownloader2> downloader;
    std::thread thread;
};

SegmentedDownload::SegmentedDownload(Plan plan, MakeDownloader make) : plan_(std::move(plan)), make_(std::move(make)) {}

SegmentedDownload::~SegmentedDownload() {
    StopAll();
    for (const std::unique_ptr<Worker>& worker : workers_) {
        if (worker->thread.joinable()) {
            worker->thread.join();
        }
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::optional<std::uint64_t> SegmentedDownload::Open() {
    struct stat st {};
    if (::lstat(plan_.partPath.c_str(), &st) == 0 && !HasFileSegments(plan_.partPath)) {
        WriteLog("[INFO][%s][%d] [%s] is no part of ours and stays as it is: fetching the file over one connection.",
                 kOrigin, __LINE__, plan_.partPath.c_str());
        return std::nullopt;
    }
    fd_ = ::open(plan_.partPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd_ < 0) {
        WriteLog("[INFO][%s][%d] Cannot open [%s] (%s): fetching the file over one connection.", kOrigin, __LINE__,
                 plan_.partPath.c_str(), std::strerror(errno));
        return std::nullopt;
    }
    // Bytes of another version, server or size would be spliced into this one.
    const std::optional<ByteRanges> kept = LoadFileSegments(plan_.partPath, plan_.size);
    if (kept && LoadFileValidator(plan_.partPath) == plan_.validator &&
        LoadFileOrigin(plan_.partPath) == plan_.origin) {
        written_ = *kept;
        taken_ = *kept;
        WriteLog("[INFO][%s][%d] Continuing [%s]: [%I64u] of [%I64u] bytes are there.", kOrigin, __LINE__,
                 plan_.partPath.c_str(), kept->Total(), plan_.size);
        return kept->Total();
    }
    if (::ftruncate(fd_, 0) != 0 || !StoreFileValidator(plan_.partPath, plan_.validator, plan_.origin) ||
        !StoreFileSegments(plan_.partPath, plan_.size, {})) {
        WriteLog("[INFO][%s][%d] [%s] cannot keep which of its bytes are written (%s): fetching the file over one "
                 "connection.",
                 kOrigin, __LINE__, plan_.partPath.c_str(), std::strerror(errno));
        ::unlink(plan_.partPath.c_str()); // made or emptied just now: nothing of anyone's is lost
        return std::nullopt;
    }
    return 0;
}

std::uint64_t SegmentedDownload::PieceSize() const {
    const std::uint64_t connections = std::max<std::size_t>(plan_.connections, 1);
    return std::clamp(plan_.size / (connections * kPiecesPerConnection), kSmallestPiece, kLargestPiece);
}

bool SegmentedDownload::Run(const std::atomic<std::int32_t>& stop, const std::atomic<double>& bytesPerMs) {
    lastPersist_ = TickCount();
    const std::uint64_t there = written_.Total();
    const std::uint64_t missing = plan_.size - there;
    const std::size_t count =
        static_cast<std::size_t>(std::min<std::uint64_t>(plan_.connections, (missing + PieceSize() - 1) / PieceSize()));
    for (std::size_t i = 0; i < count; ++i) {
        auto worker = std::make_unique<Worker>();
        worker->downloader = make_();
        worker->downloader->url = plan_.url;
        worker->downloader->localFileName = plan_.partPath;
        worker->downloader->expectedSize = plan_.size;
        workers_.push_back(std::move(worker));
    }
    WriteLog("[INFO][%s][%d] [%s]: [%I64u] bytes to fetch in pieces of [%I64u], over up to [%zu] connections.", kOrigin,
             __LINE__, plan_.url.c_str(), missing, PieceSize(), count);
    const std::uint32_t begun = TickCount();
    // One connection first: where it alone is fast, more would only share the same line and processor.
    double limit = bytesPerMs.load();
    std::size_t started = Start(0, std::min<std::size_t>(count, 1), limit);

    std::unique_lock guard(lock_);
    while (!ended_.wait_for(guard, kWatchEvery, [this] { return running_ == 0; })) {
        if (stop.load() != 0 && !failed_) {
            failed_ = true;
            Fail(ERROR_INTERNET_OPERATION_CANCELLED);
            guard.unlock();
            StopAll();
            guard.lock();
        }
        const std::uint32_t elapsed = TickCount() - begun;
        const std::uint64_t arrived = written_.Total() - there;
        const bool failed = failed_;
        guard.unlock();
        if (plan_.hashed) {
            HashArrived(kHashPerWatch, stop); // a part it cannot read fails at the end
        }
        const double now = bytesPerMs.load();
        if (!failed && started < count && elapsed >= kJudgeAfterMs && !OneConnectionIsEnough(arrived, elapsed, now)) {
            WriteLog("[INFO][%s][%d] [%s]: [%I64u] bytes in [%u] ms over one connection; taking [%zu].", kOrigin,
                     __LINE__, plan_.url.c_str(), arrived, elapsed, count);
            started = Start(started, count, now);
        } else if (now != limit) {
            Share(started, now);
        }
        limit = now;
        guard.lock();
    }
    guard.unlock();
    for (const std::unique_ptr<Worker>& worker : workers_) {
        if (worker->thread.joinable()) {
            worker->thread.join();
        }
    }
    if (written_.Covers(plan_.size)) {
        // Whole: the bytes reach the disk before the file can be taken for complete by its size.
        if (::fdatasync(fd_) != 0) {
            Fail(static_cast<std::uint32_t>(errno), true);
            return false;
        }
        if (plan_.hashed) {
            if (!HashArrived(plan_.size, stop) || hashed_ != plan_.size) {
                const bool stopped = stop.load() != 0;
                Fail(stopped ? ERROR_INTERNET_OPERATION_CANCELLED : EIO, !stopped);
                Persist();
                return false;
            }
            digest_ = hash_.Final();
        }
        RemoveFileSegments(plan_.partPath);
        return true;
    }
    if (!failed_) {
        Fail(ERROR_INTERNET_OPERATION_CANCELLED); // no thread could be started
    }
    Persist();
    return false;
}

bool SegmentedDownload::OneConnectionIsEnough(std::uint64_t arrived, std::uint32_t elapsedMs, double bytesPerMs) {
    const double rate = static_cast<double>(arrived) / std::max<std::uint32_t>(elapsedMs, 1);
    // At the speed limit, more connections cannot make it faster.
    const double enough = bytesPerMs > 0.0 ? std::min(kFastConnection, bytesPerMs * 0.8) : kFastConnection;
    return rate >= enough;
}

std::size_t SegmentedDownload::Start(std::size_t from, std::size_t to, double bytesPerMs) {
    Share(to, bytesPerMs);
    for (std::size_t i = from; i < to; ++i) {
        {
            std::lock_guard guard(lock_);
            ++running_;
        }
        try {
            workers_[i]->thread = std::thread([this, &worker = *workers_[i]] { Work(worker); });
        } catch (const std::system_error&) {
            std::lock_guard guard(lock_);
            --running_; // the others take its pieces
        }
    }
    return to;
}

void SegmentedDownload::Share(std::size_t started, double bytesPerMs) {
    for (std::size_t i = 0; i < started; ++i) {
        workers_[i]->downloader->maxBytesPerMs = bytesPerMs / static_cast<double>(started);
    }
}

void SegmentedDownload::Work(Worker& worker) {
    CHttpDownloader2& d = *worker.downloader;
    while (const std::optional<ByteRanges::Range> piece = Claim()) {
        d.startOffset = piece->first;
        d.segment = CHttpDownloader2::Segment{piece->end - 1, plan_.validator};
        const bool fetched = d.Download();
        Finish(*piece, worker, fetched);
        if (!fetched) {
            break;
        }
    }
    std::lock_guard guard(lock_);
    --running_;
    ended_.notify_all();
}

std::optional<ByteRanges::Range> SegmentedDownload::Claim() {
    std::lock_guard guard(lock_);
    if (failed_) {
        return std::nullopt;
    }
    const std::optional<ByteRanges::Range> piece = taken_.FirstGap(0, plan_.size, PieceSize());
    if (piece) {
        taken_.Add(piece->first, piece->end);
    }
    return piece;
}

void SegmentedDownload::Finish(const ByteRanges::Range& piece, Worker& worker, bool fetched) {
    CHttpDownloader2& d = *worker.downloader;
    bool persist = false;
    {
        std::lock_guard guard(lock_);
        written_.Add(piece.first, piece.first + std::min(d.segmentBytesWritten(), piece.end - piece.first));
        verifiedSecure_ = verifiedSecure_ && (!fetched || d.verifiedSecure());
        if (!fetched && !failed_) {
            failed_ = true;
            failure_ = d.lastFailure();
        }
        persist = fetched && TickCount() - lastPersist_ >= kPersistEveryMs;
    }
    if (!fetched) {
        StopAll(); // the attempt has failed: the rest waits for the next one
        return;
    }
    // The disk starts on the piece now, so that making the whole file safe at its end waits for little.
    ::sync_file_range(fd_, static_cast<off_t>(piece.first), static_cast<off_t>(piece.end - piece.first),
                      SYNC_FILE_RANGE_WRITE);
    if (persist) {
        Persist();
    }
}

void SegmentedDownload::Fail(std::uint32_t error, bool local) {
    failure_ = {};
    failure_.error = error;
    failure_.local = local;
}

void SegmentedDownload::StopAll() {
    for (const std::unique_ptr<Worker>& worker : workers_) {
        worker->downloader->abortFlag.exchange(1);
        worker->downloader->CloseHandles();
    }
}

bool SegmentedDownload::HashArrived(std::uint64_t most, const std::atomic<std::int32_t>& stop) {
    std::uint64_t arrived = 0;
    {
        std::lock_guard guard(lock_);
        if (!written_.ranges().empty() && written_.ranges().front().first == 0) {
            arrived = written_.ranges().front().end;
        }
    }
    const std::uint64_t length = std::min(arrived - std::min(arrived, hashed_), most);
    if (length == 0) {
        return true;
    }
    if (!HashFilePart(plan_.partPath, hashed_, length, hash_, [&stop] { return stop.load() != 0; })) {
        hash_.Reset();
        hashed_ = 0; // a part read half: the hash starts again from the first byte
        return false;
    }
    hashed_ += length;
    return true;
}

bool SegmentedDownload::Persist() {
    std::lock_guard persisting(persistLock_);
    ByteRanges safe;
    {
        std::lock_guard guard(lock_);
        safe = written_;
        lastPersist_ = TickCount();
    }
    // Noted only once on the disk: a record ahead of the data would vouch for bytes a power cut took.
    if (::fdatasync(fd_) != 0 || !StoreFileSegments(plan_.partPath, plan_.size, safe)) {
        WriteLog("[ERROR][%s][%d] Cannot note which bytes of [%s] are written: %s.", kOrigin, __LINE__,
                 plan_.partPath.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}
