#include "app/user_folders.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return home;
    }
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        return pw->pw_dir;
    }
    return "/tmp";
}

namespace {

// The XDG rules count a base folder's variable only when it holds an absolute path.
std::string XdgBaseFolder(const char* variable, const char* belowHome) {
    if (const char* value = std::getenv(variable); value != nullptr && value[0] == '/') {
        return value;
    }
    return HomeFolder() + belowHome;
}

} // namespace

std::string StateHomeFolder() {
    return XdgBaseFolder("XDG_STATE_HOME", "/.local/state");
}

std::string ConfigHomeFolder() {
    return XdgBaseFolder("XDG_CONFIG_HOME", "/.config");
}

std::string DocumentsFolder() {
    std::ifstream dirs(ConfigHomeFolder() + "/user-dirs.dirs");
    const std::string key = "XDG_DOCUMENTS_DIR=";
    for (std::string line; std::getline(dirs, line);) {
        if (line.rfind(key, 0) != 0) {
            continue;
        }
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        if (value.rfind("$HOME", 0) == 0) {
            value = HomeFolder() + value.substr(5);
        }
        while (value.size() > 1 && value.back() == '/') {
            value.pop_back();
        }
        if (!value.empty() && value[0] == '/') {
            return value;
        }
    }
    return HomeFolder() + "/Documents";
}

bool PrivateTempFolder(std::string& path) {
    std::string base = "/tmp";
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && tmp[0] == '/') {
        base = tmp;
    }
    while (base.size() > 1 && base.back() == '/') {
        base.pop_back();
    }
    const std::string folder = base + "/ostrel-" + std::to_string(getuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) {
        return false;
    }
    if ((st.st_mode & 0077) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
        return false;
    }
    path = folder + "/";
    return true;
}

std::string ProgramPath() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) {
        return {};
    }
    return std::string(buffer, static_cast<std::size_t>(n));
}

void MakeFolderPath(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0755);
    }
    ::mkdir(path.c_str(), 0755);
}
