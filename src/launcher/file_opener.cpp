#include "launcher/file_opener.h"

#include "launcher/cancel_signal.h"
#include "launcher/child_environment.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr auto kWaitPollInterval = std::chrono::milliseconds(50);

enum class Kind { Document, Elf, Script };

Kind KindOf(int fd) {
    char head[4] = {};
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    if (got == 4 && std::memcmp(head,
                                "\x7f"
                                "ELF",
                                4) == 0) {
        return Kind::Elf;
    }
    return got >= 2 && head[0] == '#' && head[1] == '!' ? Kind::Script : Kind::Document;
}

bool MakeExecutable(int fd, mode_t mode) {
    // Execute wherever read is allowed, as a freshly installed program would be.
    const mode_t read = mode & (S_IRUSR | S_IRGRP | S_IROTH);
    return ::fchmod(fd, (mode & 07777) | (read >> 2)) == 0;
}

// The name still holds the file that was opened, and no link.
bool StillNames(const std::string& path, const struct stat& opened) {
    struct stat now {};
    return ::lstat(path.c_str(), &now) == 0 && S_ISREG(now.st_mode) && now.st_dev == opened.st_dev &&
           now.st_ino == opened.st_ino;
}

std::string Absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') {
        return path;
    }
    char cwd[PATH_MAX];
    return ::getcwd(cwd, sizeof cwd) != nullptr ? std::string(cwd) + "/" + path : path;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Starts `program` (looked up in PATH when `search`) with `arguments` in `folder` with the player's
// environment; the descriptor `kept` (unless -1) stays open in it. 0 when it could not be started.
pid_t Spawn(const std::string& folder, const std::string& program, std::vector<std::string> arguments, bool search,
            int kept) {
    std::vector<char*> argv = Pointers(arguments);
    std::vector<std::string> environment = InstallerEnvironment();
    std::vector<char*> envp = Pointers(environment);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    if (kept >= 0) {
        // Onto itself, the descriptor loses its close-on-exec flag in the new process only.
        posix_spawn_file_actions_adddup2(&actions, kept, kept);
    }
    pid_t pid = 0;
    const int failed = search ? ::posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data())
                              : ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : 0;
}

// Starts the regular file open at `fd`, which `path` named; 0 when nothing was started.
pid_t StartOpened(int fd, const struct stat& opened, const std::string& folder, const std::string& path,
                  CancelSignal* cancel) {
    const Kind kind = KindOf(fd);
    if (kind != Kind::Document && !MakeExecutable(fd, opened.st_mode)) {
        return 0;
    }
    // The last moment a stop still keeps the file from starting.
    if (cancel != nullptr && cancel->IsSet()) {
        return 0;
    }
    // The kernel starts the open file itself; a script's interpreter opens that path in the new process,
    // which keeps the descriptor for it.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    switch (kind) {
    case Kind::Elf:
        return Spawn(folder, self, {Absolute(path)}, false, -1);
    case Kind::Script:
        return Spawn(folder, self, {Absolute(path)}, false, fd);
    case Kind::Document:
        break;
    }
    // The desktop's opener takes a name: only while it still names the checked file.
    return StillNames(path, opened) ? Spawn(folder, "xdg-open", {"xdg-open", Absolute(path)}, true, -1) : 0;
}

// Nobody waits for it any more; its exit status is collected so that it leaves no zombie.
void Release(pid_t pid) {
    std::thread([pid] {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

} // namespace

bool OpenDownloadedFile(const std::string& folder, const std::string& fileName, bool wait,
                        const std::function<void()>& started, CancelSignal* cancel,
                        const std::function<bool(int fd)>& check) {
    if (fileName.empty()) {
        return false;
    }
    const std::string workingFolder = folder.empty() ? std::string(".") : folder;
    const std::string path = (folder.empty() ? std::string() : folder + "/") + fileName;
    // Without O_NONBLOCK a FIFO at the name would hold the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat opened {};
    const bool startable = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && (!check || check(fd));
    const pid_t pid = startable ? StartOpened(fd, opened, workingFolder, path, cancel) : 0;
    ::close(fd);
    if (pid == 0) {
        return false;
    }
    started();
    if (!wait) {
        Release(pid);
        return true;
    }
    for (;;) {
        const pid_t ended = ::waitpid(pid, nullptr, WNOHANG);
        if (ended == pid || (ended < 0 && errno != EINTR)) {
            return true;
        }
        const bool cancelled = cancel != nullptr ? cancel->WaitFor(kWaitPollInterval)
                                                 : (std::this_thread::sleep_for(kWaitPollInterval), false);
        if (cancelled) {
            Release(pid);
            return true;
        }
    }
}
