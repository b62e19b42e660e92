#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// The local file of a transfer. Writes go through a buffer, so that the downloader's small pieces
// do not cost one system call each. Every failing call leaves the system error code in lastError().
class DownloadFile {
public:
    // One system call per 16 pieces of 1 KiB. Much larger writes measured slower on ext4 (bench/engine.sh):
    // the page cache then takes large folios, fresh memory each time.
    static constexpr std::size_t kBufferSize = 16 * 1024;

    DownloadFile() = default;
    ~DownloadFile();
    DownloadFile(const DownloadFile&) = delete;
    DownloadFile& operator=(const DownloadFile&) = delete;

    // The lastError() of an Open that found a link, or anything else but a regular file, at the name.
    static constexpr int kNotRegularFile = ELOOP;

    // Opens `path` for writing, creating it when missing; its content stays until SetPositionAndLength.
    // Only a regular file is opened, never through a link: whatever else is at the name stays as it is.
    bool Open(const std::string& path);
    bool IsOpen() const { return fd_ >= 0; }

    // Writes what is buffered, then moves the position to `offset` and cuts or extends the file to it.
    bool SetPositionAndLength(std::uint64_t offset);
    // Writes what is buffered, then moves the position to `offset`, leaving the file's bytes and length
    // as they are: for a piece of a file that others write around it.
    bool SetPosition(std::uint64_t offset);
    // The bytes that reached the file since the position was last set.
    std::uint64_t writtenSincePositioned() const { return written_; }

    bool Write(const char* data, std::size_t size);
    bool Flush();
    // Flushes and closes; the file is closed even when flushing fails.
    bool Close();

    int lastError() const { return lastError_; }

    // For tests: every write to a file fails with `error` (0: none), as on a full disk or a folder made
    // read-only under the transfer, which a test running as root cannot otherwise bring about. One
    // setting for the process.
    static void SetWriteFault(int error);

private:
    bool WriteThrough(const char* data, std::size_t size);

    int fd_ = -1;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    std::uint64_t written_ = 0;
    int lastError_ = 0;
};
