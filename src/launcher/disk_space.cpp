#include "launcher/disk_space.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

std::uint64_t GetFreeDiskBytes(const std::string& path) {
    if (path.empty()) {
        return 0;
    }
    std::string existing = path[0] == '/' ? path : "./" + path; // a relative path grows below the current folder
    struct stat st {};
    while (::stat(existing.c_str(), &st) != 0) {
        const std::size_t slash = existing.find_last_of('/');
        if (slash == std::string::npos) {
            return 0;
        }
        existing.resize(slash == 0 ? 1 : slash);
    }
    struct statvfs fs {};
    if (::statvfs(existing.c_str(), &fs) != 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(fs.f_bavail) * static_cast<std::uint64_t>(fs.f_frsize);
}
