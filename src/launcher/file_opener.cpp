#include "launcher/file_opener.h"

#include "app/child_environment.h"
#include "launcher/cancel_signal.h"

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

bool IsProgram(const std::string& path) {
    char head[4] = {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const ssize_t got = ::read(fd, head, sizeof head);
    ::close(fd);
    return (got == 4 && std::memcmp(head,
                                    "\x7f"
                                    "ELF",
                                    4) == 0) ||
           (got >= 2 && head[0] == '#' && head[1] == '!');
}

bool MakeExecutable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    // Execute wherever read is allowed, as a freshly installed program would be.
    const mode_t read = st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH);
    return ::chmod(path.c_str(), st.st_mode | (read >> 2)) == 0;
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

// Starts `arguments[0]` (looked up in PATH when `search`) in `folder` with the player's environment;
// 0 when it could not be started.
pid_t Spawn(const std::string& folder, std::vector<std::string> arguments, bool search) {
    std::vector<char*> argv = Pointers(arguments);
    std::vector<std::string> environment = InstallerEnvironment();
    std::vector<char*> envp = Pointers(environment);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    pid_t pid = 0;
    const int failed = search ? ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data())
                              : ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : 0;
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
                        const std::function<void()>& started, CancelSignal* cancel) {
    const std::string workingFolder = folder.empty() ? std::string(".") : folder;
    const std::string path = (folder.empty() ? std::string() : folder + "/") + fileName;
    struct stat st {};
    if (fileName.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    const bool program = IsProgram(path);
    if (program && !MakeExecutable(path)) {
        return false;
    }
    // The last moment a stop still keeps the file from starting.
    if (cancel != nullptr && cancel->IsSet()) {
        return false;
    }
    pid_t pid = 0;
    if (program) {
        pid = Spawn(workingFolder, {Absolute(path)}, false);
    } else {
        pid = Spawn(workingFolder, {"xdg-open", Absolute(path)}, true);
    }
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
