#include "release/release_file_io.h"

#include "base/fd_io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The mode a new file gets from open(..., 0666).
mode_t NewFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

std::optional<std::string> ReadFileBytes(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string bytes;
    char buffer[1 << 16];
    FdIoResult read;
    do {
        read = ReadAll(fd, buffer, sizeof buffer);
        bytes.append(buffer, read.done);
    } while (read.error == 0 && read.done == sizeof buffer);
    ::close(fd);
    if (read.error != 0) {
        error = "cannot read " + path + ": " + std::strerror(read.error);
        return std::nullopt;
    }
    return bytes;
}

bool WriteFileAtomically(const std::string& path, const std::string& content, std::string& error) {
    struct stat existing {};
    const mode_t mode = ::stat(path.c_str(), &existing) == 0 ? existing.st_mode & 07777 : NewFileMode();
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        error = "cannot write beside " + path + ": " + std::strerror(errno);
        return false;
    }
    int failure = ::fchmod(fd, mode) == 0 ? WriteAllAndSync(fd, content.data(), content.size()) : errno;
    if (::close(fd) != 0 && failure == 0) {
        failure = errno;
    }
    if (failure == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        ::unlink(temporary.c_str());
        error = "cannot write " + path + ": " + std::strerror(failure);
        return false;
    }
    SyncFolderOf(path);
    return true;
}

int CreateFileExclusively(const std::string& path, const std::string& content, mode_t mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0) {
        return errno;
    }
    // The umask may have taken bits away: the file gets exactly the mode asked for.
    int failure = ::fchmod(fd, mode) == 0 ? WriteAllAndSync(fd, content.data(), content.size()) : errno;
    if (::close(fd) != 0 && failure == 0) {
        failure = errno;
    }
    if (failure != 0) {
        ::unlink(path.c_str());
    }
    return failure;
}
