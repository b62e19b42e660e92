#include "base/fd_io.h"

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace {

// Repeats `transfer(at, left)` until `size` bytes moved, the file ends (0) or a call fails.
template <typename Transfer> FdIoResult Repeat(std::size_t size, Transfer transfer) {
    FdIoResult result;
    while (result.done < size) {
        const ssize_t n = transfer(result.done, size - result.done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            result.error = errno;
            break;
        }
        if (n == 0) {
            break;
        }
        result.done += static_cast<std::size_t>(n);
    }
    return result;
}

} // namespace

FdIoResult ReadAll(int fd, void* buffer, std::size_t size) {
    char* bytes = static_cast<char*>(buffer);
    return Repeat(size, [&](std::size_t at, std::size_t left) { return ::read(fd, bytes + at, left); });
}

FdIoResult PreadAll(int fd, void* buffer, std::size_t size, std::uint64_t offset) {
    char* bytes = static_cast<char*>(buffer);
    return Repeat(size, [&](std::size_t at, std::size_t left) -> ssize_t {
        const std::uint64_t position = offset + at;
        if (position > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
            return 0; // past any file's end
        }
        return ::pread(fd, bytes + at, left, static_cast<off_t>(position));
    });
}

int WriteAll(int fd, const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    const FdIoResult result =
        Repeat(size, [&](std::size_t at, std::size_t left) { return ::write(fd, bytes + at, left); });
    return result.error != 0 ? result.error : (result.done == size ? 0 : EIO);
}

int WriteAllAndSync(int fd, const void* data, std::size_t size) {
    if (const int error = WriteAll(fd, data, size); error != 0) {
        return error;
    }
    return ::fsync(fd) == 0 ? 0 : errno;
}

void SyncFolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}
