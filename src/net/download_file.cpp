#include "net/download_file.h"

#include "base/fd_io.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<int> writeFault{0};

} // namespace

void DownloadFile::SetWriteFault(int error) {
    writeFault.store(error);
}

DownloadFile::~DownloadFile() {
    Close();
}

bool DownloadFile::Open(const std::string& path) {
    Close();
    // Without O_NONBLOCK a FIFO at the name would hold the open until someone reads it.
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    struct stat info {};
    if (fd_ < 0) {
        const int error = errno;
        lastError_ = ::lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) ? kNotRegularFile : error;
        return false;
    }
    if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
        lastError_ = kNotRegularFile;
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    if (!buffer_) {
        buffer_ = std::make_unique<char[]>(kBufferSize);
    }
    used_ = 0;
    written_ = 0;
    return true;
}

bool DownloadFile::SetPositionAndLength(std::uint64_t offset) {
    if (!SetPosition(offset)) {
        return false;
    }
    const auto position = static_cast<off_t>(offset);
    struct stat info {};
    // Truncating a file that already has the length would make ext4 flush the whole new content on close.
    if (::fstat(fd_, &info) != 0 || (info.st_size != position && ::ftruncate(fd_, position) != 0)) {
        lastError_ = errno;
        return false;
    }
    return true;
}

bool DownloadFile::SetPosition(std::uint64_t offset) {
    if (!Flush()) {
        return false;
    }
    const auto position = static_cast<off_t>(offset);
    if (::lseek(fd_, position, SEEK_SET) != position) {
        lastError_ = errno;
        return false;
    }
    written_ = 0;
    return true;
}

bool DownloadFile::Write(const char* data, std::size_t size) {
    if (fd_ < 0) {
        lastError_ = EBADF;
        return false;
    }
    if (used_ + size > kBufferSize && !Flush()) {
        return false;
    }
    if (size >= kBufferSize) {
        return WriteThrough(data, size); // a buffer's worth goes as it is, without a copy
    }
    std::memcpy(buffer_.get() + used_, data, size);
    used_ += size;
    return true;
}

bool DownloadFile::Flush() {
    if (fd_ < 0) {
        lastError_ = EBADF;
        return false;
    }
    const std::size_t pending = used_;
    used_ = 0; // what failed to reach the file is not tried again
    return WriteThrough(buffer_.get(), pending);
}

bool DownloadFile::Close() {
    if (fd_ < 0) {
        return true;
    }
    const bool flushed = Flush();
    const bool closed = ::close(fd_) == 0;
    if (!closed && flushed) {
        lastError_ = errno;
    }
    fd_ = -1;
    return flushed && closed;
}

bool DownloadFile::WriteThrough(const char* data, std::size_t size) {
    if (const int fault = writeFault.load(std::memory_order_relaxed); fault != 0 && size > 0) {
        lastError_ = fault;
        return false;
    }
    lastError_ = WriteAll(fd_, data, size);
    if (lastError_ != 0) {
        return false;
    }
    written_ += size;
    return true;
}
