#include "release/file_listing.h"

#include "base/fd_io.h"
#include "net/sha256_digest.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace {

// The file's SHA-256 in lower-case hex; empty when it cannot be read.
std::string HashFile(const std::string& path, int& errorNumber) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        errorNumber = errno;
        return {};
    }
    Sha256Digest digest;
    std::array<char, 1 << 16> buffer{};
    FdIoResult read;
    do {
        read = ReadAll(fd, buffer.data(), buffer.size());
        digest.Update(buffer.data(), read.done);
    } while (read.error == 0 && read.done == buffer.size());
    ::close(fd);
    errorNumber = read.error;
    return read.error == 0 ? Sha256Hex(digest.Final()) : std::string();
}

} // namespace

std::optional<std::vector<ListedFile>> ListReleaseFiles(const std::string& folder, std::string& error) {
    namespace fs = std::filesystem;
    std::vector<ListedFile> files;
    // The iterator joins each name to `folder` as given, so the rest of its path is the relative one.
    const std::string root = folder.ends_with('/') ? folder : folder + "/";
    std::error_code failure;
    fs::recursive_directory_iterator entry(folder, failure);
    for (; !failure && entry != fs::recursive_directory_iterator(); entry.increment(failure)) {
        std::error_code unknown;
        if (entry->symlink_status(unknown).type() == fs::file_type::regular) {
            files.push_back({entry->path().generic_string().substr(root.size()), {}});
        }
    }
    if (failure) {
        error = "cannot read the folder " + folder + ": " + failure.message();
        return std::nullopt;
    }
    std::sort(files.begin(), files.end(),
              [](const ListedFile& a, const ListedFile& b) { return a.relativePath < b.relativePath; });
    for (ListedFile& file : files) {
        int errorNumber = 0;
        file.sha256 = HashFile(root + file.relativePath, errorNumber);
        if (file.sha256.empty()) {
            error = "cannot read " + root + file.relativePath + ": " + std::strerror(errorNumber);
            return std::nullopt;
        }
    }
    return files;
}
