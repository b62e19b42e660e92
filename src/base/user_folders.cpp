#include "base/user_folders.h"

#include "base/log.h"
#include "build_options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <mutex>
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

std::string DataFolderName() {
    return OSTREL_DATA_FOLDER_NAME;
}

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

namespace {

// True when `folder` is a real folder (no link) of this user's, closed to everybody else: a too open
// one of ours is closed again.
bool IsOwnPrivateFolder(const std::string& folder) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) {
        return false;
    }
    return (st.st_mode & 0077) == 0 || ::chmod(folder.c_str(), 0700) == 0;
}

bool MakeOwnPrivateFolder(const std::string& folder) {
    return (::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST) && IsOwnPrivateFolder(folder);
}

// $XDG_RUNTIME_DIR/ostrel when the runtime folder is this user's alone, as the XDG rules want it.
std::string RuntimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (runtime == nullptr || runtime[0] != '/' || ::stat(runtime, &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != getuid() || (st.st_mode & 0077) != 0) {
        return {};
    }
    const std::string folder = std::string(runtime) + "/ostrel";
    return MakeOwnPrivateFolder(folder) ? folder : std::string();
}

// The folder used in place of a fixed name that is not ours, for one temporary base; a folder made
// with a name of its own is made once and removed, if empty, when the program ends.
struct StandIn {
    std::string base;
    std::string folder;
    bool made = false;
    ~StandIn() {
        if (made) {
            ::rmdir(folder.c_str());
        }
    }
};
std::mutex g_standInLock;
StandIn g_standIn;

// The stand-in for `refused` in `base`: the one chosen before while it is still ours, else the
// runtime folder, else a new folder of a name nobody can have taken. Empty when there is none.
std::string StandInFolder(const std::string& base, const std::string& refused) {
    std::lock_guard lock(g_standInLock);
    if (g_standIn.base == base && IsOwnPrivateFolder(g_standIn.folder)) {
        return g_standIn.folder;
    }
    std::string folder = RuntimeFolder();
    bool made = false;
    if (folder.empty()) {
        std::string pattern = refused + "-XXXXXX";
        made = ::mkdtemp(pattern.data()) != nullptr && IsOwnPrivateFolder(pattern);
        folder = made ? pattern : std::string();
    }
    if (folder.empty()) {
        WriteLog("[ERROR][%s][%d] The temporary folder [%s] is not a folder of this user's own, and none could be "
                 "made elsewhere.",
                 "PrivateTempFolder", __LINE__, refused.c_str());
        return {};
    }
    WriteLog("[WARNING][%s][%d] The temporary folder [%s] is not a folder of this user's own; using [%s] instead.",
             "PrivateTempFolder", __LINE__, refused.c_str(), folder.c_str());
    g_standIn.base = base;
    g_standIn.folder = folder;
    g_standIn.made = made;
    return folder;
}

} // namespace

bool PrivateTempFolder(std::string& path) {
    std::string base = "/tmp";
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && tmp[0] == '/') {
        base = tmp;
    }
    while (base.size() > 1 && base.back() == '/') {
        base.pop_back();
    }
    const std::string fixed = base + "/ostrel-" + std::to_string(getuid());
    if (::mkdir(fixed.c_str(), 0700) != 0 && errno != EEXIST) {
        return false; // no folder can be made in the base at all
    }
    const std::string folder = IsOwnPrivateFolder(fixed) ? fixed : StandInFolder(base, fixed);
    if (folder.empty()) {
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

void MakeFolderPath(const std::string& path, mode_t mode) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), mode);
    }
    ::mkdir(path.c_str(), mode);
}
