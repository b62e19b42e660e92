#pragma once

#include "net/byte_ranges.h"
#include "net/sha256_digest.h"
#include "net/transfer_failure.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class CHttpDownloader2;

// Fetches one file of a known size and version in pieces, into a part file: over one connection while
// that alone is fast, else over several at once, each asking for one piece after another. The part file
// keeps which of its bytes are written (its segments record, file_validator.h), and only bytes already on
// the disk are noted there: a stop, a crash or a power cut costs at most what was fetched since the last
// note, never a byte that is not there.
class SegmentedDownload {
public:
    using MakeDownloader = std::function<std::unique_ptr<CHttpDownloader2>()>;

    struct Plan {
        std::string url;
        std::string partPath;
        std::uint64_t size = 0;
        std::string validator; // the version asked for (If-Range): the survey's
        std::string origin;    // the server the validator is of, host[:port]
        std::size_t connections = 2;
        bool hashed = false; // the whole file's SHA-256, made in order as its pieces arrive
    };

    SegmentedDownload(Plan plan, MakeDownloader make);
    ~SegmentedDownload();
    SegmentedDownload(const SegmentedDownload&) = delete;
    SegmentedDownload& operator=(const SegmentedDownload&) = delete;

    // Continues the part file when its record is of this very version, server and size, else starts it
    // empty. The bytes it already has; nothing when it cannot be made or keep a record (the file is then
    // better fetched over one connection).
    std::optional<std::uint64_t> Open();
    // Fetches what is missing until the file is whole (true: every byte is on the disk, and the record is
    // gone), a piece fails or `stop` is set. `bytesPerMs` caps all connections together (0: none); both
    // are looked at while the pieces run.
    bool Run(const std::atomic<std::int32_t>& stop, const std::atomic<double>& bytesPerMs);

    // After a failed Run: why the first piece that failed did, or a cancellation.
    const TransferFailure& failure() const { return failure_; }
    // After Run: every piece of this run came over HTTPS from the server itself, its certificate checked.
    bool verifiedSecure() const { return verifiedSecure_; }
    // After a Run that made the file whole with Plan::hashed: the SHA-256 of all its bytes.
    const std::optional<Sha256Bytes>& digest() const { return digest_; }

    // One connection that brought `arrived` bytes in `elapsedMs` is enough: it fills any player's line, or
    // the speed limit (`bytesPerMs`, 0: none), which more connections would only share.
    static bool OneConnectionIsEnough(std::uint64_t arrived, std::uint32_t elapsedMs, double bytesPerMs);

    // Files smaller than this gain little from more connections.
    static constexpr std::uint64_t kSmallestFile = 16 << 20;

private:
    struct Worker;
    // Starts workers `from` to `to` (the number started then), the limit shared among them.
    std::size_t Start(std::size_t from, std::size_t to, double bytesPerMs);
    void Share(std::size_t started, double bytesPerMs);
    void Work(Worker& worker);
    std::optional<ByteRanges::Range> Claim();
    void Finish(const ByteRanges::Range& piece, Worker& worker, bool fetched);
    // The run's failure: a transport or system error, `local` when it is this computer's.
    void Fail(std::uint32_t error, bool local = false);
    void StopAll();
    // Notes every piece written so far in the record, after making it safe on the disk.
    bool Persist();
    // Hashes what has arrived in order after the bytes hashed so far, up to `most` bytes of it; false when
    // the part file cannot be read.
    bool HashArrived(std::uint64_t most, const std::atomic<std::int32_t>& stop);
    std::uint64_t PieceSize() const;

    Plan plan_;
    MakeDownloader make_;
    int fd_ = -1;
    std::vector<std::unique_ptr<Worker>> workers_;
    std::mutex lock_;
    std::condition_variable ended_;
    std::size_t running_ = 0;
    ByteRanges taken_;   // written, or asked for now
    ByteRanges written_; // by pieces that have ended
    bool failed_ = false;
    TransferFailure failure_;
    bool verifiedSecure_ = true;
    std::uint32_t lastPersist_ = 0;
    Sha256Digest hash_;
    std::uint64_t hashed_ = 0; // the first bytes, in hash_
    std::optional<Sha256Bytes> digest_;
    std::mutex persistLock_;
};
