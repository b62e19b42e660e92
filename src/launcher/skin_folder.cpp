#include "launcher/skin_folder.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

// A folder changed more recently than this may still be on its way to being locked by its maker.
constexpr time_t kLeftAfterSeconds = 60;

int OpenFolderAt(int parent, const char* name) {
    return ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

std::vector<std::string> NamesIn(int folder) {
    std::vector<std::string> names;
    const int listing = OpenFolderAt(folder, ".");
    DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (dir == nullptr) {
        if (listing >= 0) {
            ::close(listing);
        }
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(dir);
    return names;
}

// Removes everything in the open folder `folder`; a symbolic link is removed itself, never followed.
void RemoveContents(int folder) {
    for (const std::string& name : NamesIn(folder)) {
        const int inner = OpenFolderAt(folder, name.c_str());
        if (inner < 0) {
            ::unlinkat(folder, name.c_str(), 0); // a file or a link
            continue;
        }
        RemoveContents(inner);
        ::close(inner);
        ::unlinkat(folder, name.c_str(), AT_REMOVEDIR);
    }
}

// `name` followed by a decimal number, as the tick count is printed.
bool IsSkinFolderName(const std::string& entry, const std::string& name) {
    if (entry.compare(0, name.size(), name) != 0) {
        return false;
    }
    std::size_t at = name.size();
    at += at < entry.size() && entry[at] == '-';
    if (at == entry.size()) {
        return false;
    }
    for (; at < entry.size(); ++at) {
        if (entry[at] < '0' || entry[at] > '9') {
            return false;
        }
    }
    return true;
}

// Whether the open folder is one that a run of this user made and no running program holds; when so,
// it stays locked until `folder` is closed.
bool IsLeftBehind(int folder) {
    struct stat status {};
    if (::flock(folder, LOCK_EX | LOCK_NB) != 0 || ::fstat(folder, &status) != 0) {
        return false;
    }
    return S_ISDIR(status.st_mode) && status.st_uid == ::getuid() &&
           ::time(nullptr) - status.st_mtim.tv_sec >= kLeftAfterSeconds;
}

} // namespace

std::unique_ptr<SkinFolder> SkinFolder::Make(const std::string& path) {
    const bool made = ::mkdir(path.c_str(), 0700) == 0;
    if (!made && errno != EEXIST) {
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    // A folder just made is ours, though a sweep may hold its lock for a moment; an existing one may
    // be another running program's.
    if (::flock(fd, made ? LOCK_EX : LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return nullptr;
    }
    return std::unique_ptr<SkinFolder>(new SkinFolder(path, fd));
}

SkinFolder::~SkinFolder() {
    RemoveContents(fd_);
    ::rmdir(path_.c_str()); // a symbolic link put in its place is no folder and stays
    ::close(fd_);
}

void RemoveLeftSkinFolders(const std::string& tempFolder, const std::string& name) {
    const int temp = ::open(tempFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (temp < 0) {
        return;
    }
    for (const std::string& entry : NamesIn(temp)) {
        if (!IsSkinFolderName(entry, name)) {
            continue;
        }
        const int folder = OpenFolderAt(temp, entry.c_str());
        if (folder < 0) {
            continue; // not a folder, or a link
        }
        if (IsLeftBehind(folder)) {
            RemoveContents(folder);
            ::unlinkat(temp, entry.c_str(), AT_REMOVEDIR);
        }
        ::close(folder);
    }
    ::close(temp);
}
