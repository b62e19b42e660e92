#include "zip/zip_target.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMaxPathLength = kZipMaxPath - 1;

bool IsAbsolute(const std::string& name) {
    return (!name.empty() && name[0] == '/') || (name.size() >= 2 && name[1] == ':');
}

bool IsWritable(const struct stat& status) {
    return (status.st_mode & 0222) != 0;
}

// After a failed open of `name` in `folder`: a symbolic link there is never followed, whatever the
// open's error was (ELOOP for a file, ENOTDIR for a folder).
ZIPCODE CodeForFailedOpen(int folder, const char* name) {
    struct stat status {};
    const bool isLink = ::fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode);
    return isLink ? ZIPCODE_BAD_NAME : ZIPCODE_CANNOT_OPEN;
}

UniqueFd OpenFolderAt(int parent, const char* name) {
    return UniqueFd(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

} // namespace

bool CurrentFolder(std::string& folder) {
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof buffer) == nullptr) {
        return false;
    }
    folder = buffer;
    if (folder.back() != '/') {
        folder += '/';
    }
    return folder.size() <= kMaxPathLength;
}

ZIPCODE ResolveZipTarget(const std::string& baseFolder, const char* targetName, bool isFolder, ZipTarget& target) {
    std::string name = targetName;
    for (char& c : name) {
        if (c == '\\') {
            c = '/';
        }
    }
    std::string fullPath = baseFolder + name;
    if (IsAbsolute(name)) {
        if (name.compare(0, baseFolder.size(), baseFolder) != 0) {
            return ZIPCODE_BAD_NAME;
        }
        fullPath = name;
        name.erase(0, baseFolder.size());
    }
    if (fullPath.size() > kMaxPathLength) {
        return ZIPCODE_CANNOT_OPEN;
    }

    std::vector<std::string> levels;
    for (std::size_t begin = 0;;) {
        const std::size_t slash = name.find('/', begin);
        levels.push_back(name.substr(begin, slash == std::string::npos ? std::string::npos : slash - begin));
        if (slash == std::string::npos) {
            break;
        }
        begin = slash + 1;
    }
    for (const std::string& level : levels) {
        if (level == "..") {
            return ZIPCODE_BAD_NAME;
        }
    }
    target = {};
    if (!isFolder) {
        target.file = levels.back();
        levels.pop_back();
    }
    for (std::string& level : levels) {
        if (!level.empty() && level != ".") {
            target.folders.push_back(std::move(level));
        }
    }
    return ZIPCODE_OK;
}

UniqueFd::~UniqueFd() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

ZIPCODE EnsureTargetFolders(const std::string& baseFolder, const ZipTarget& target, UniqueFd& folder) {
    folder = UniqueFd(::open(baseFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid() && errno == ENOENT) {
        ::mkdir(baseFolder.c_str(), 0777);
        folder = UniqueFd(::open(baseFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    if (!folder.valid()) {
        return ZIPCODE_CANNOT_OPEN;
    }
    for (const std::string& level : target.folders) {
        ::mkdirat(folder.get(), level.c_str(), 0777); // an existing level is fine
        UniqueFd inner = OpenFolderAt(folder.get(), level.c_str());
        if (!inner.valid()) {
            return CodeForFailedOpen(folder.get(), level.c_str());
        }
        folder = std::move(inner);
    }
    return ZIPCODE_OK;
}

ZIPCODE CreateTargetFile(const UniqueFd& folder, const std::string& file, bool readOnly, UniqueFd& out) {
    if (file.empty()) {
        return ZIPCODE_CANNOT_OPEN;
    }
    const mode_t mode = readOnly ? 0444 : 0666;
    out = UniqueFd(::openat(folder.get(), file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (out.valid()) {
        return ZIPCODE_OK;
    }
    if (errno != EEXIST) {
        return ZIPCODE_CANNOT_OPEN;
    }
    // O_NONBLOCK keeps a FIFO of that name from blocking the open; it is refused below.
    out = UniqueFd(::openat(folder.get(), file.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!out.valid()) {
        return CodeForFailedOpen(folder.get(), file.c_str());
    }
    struct stat status {};
    // A read-only file is not replaced, even where permissions would let root write it.
    if (::fstat(out.get(), &status) != 0 || !S_ISREG(status.st_mode) || !IsWritable(status) ||
        ::ftruncate(out.get(), 0) != 0) {
        out = UniqueFd();
        return ZIPCODE_CANNOT_OPEN;
    }
    if (readOnly) {
        ::fchmod(out.get(), status.st_mode & 07555);
    }
    return ZIPCODE_OK;
}

void RemoveOldTarget(const std::string& baseFolder, const char* targetName) {
    ZipTarget target;
    if (ResolveZipTarget(baseFolder, targetName, false, target) != ZIPCODE_OK || target.file.empty()) {
        return;
    }
    UniqueFd folder(::open(baseFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const std::string& level : target.folders) {
        if (!folder.valid()) {
            return;
        }
        folder = OpenFolderAt(folder.get(), level.c_str());
    }
    struct stat status {};
    if (!folder.valid() || ::fstatat(folder.get(), target.file.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return;
    }
    if (S_ISREG(status.st_mode) && !IsWritable(status)) {
        return; // read-only: kept, so that its extraction fails
    }
    ::unlinkat(folder.get(), target.file.c_str(), 0);
}
