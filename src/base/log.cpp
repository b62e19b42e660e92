#include "base/log.h"

#include "base/fd_io.h"
#include "base/log_format.h"
#include "base/printable_text.h"
#include "base/user_folders.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t kMessageLimit = 1024;

std::atomic<LogClock> g_clock{nullptr};
std::atomic<bool> g_echo{true};
std::mutex g_writeLock;
std::string g_closedFile; // the log file last closed to other users, under g_writeLock

LogTime LocalNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    return {local.tm_year + 1900,
            local.tm_mon + 1,
            local.tm_mday,
            local.tm_hour,
            local.tm_min,
            local.tm_sec,
            static_cast<int>(ts.tv_nsec / 1000000)};
}

void Echo(const std::string& message) {
    if (g_echo.load()) {
        std::fwrite(message.data(), 1, message.size(), stderr);
    }
}

void AppendLine(int fd, const LogTime& now, const std::string& message) {
    char stamp[32];
    const int stampLength =
        std::snprintf(stamp, sizeof stamp, "[%02d:%02d:%02d:%03d] ", now.hour, now.minute, now.second, now.millisecond);
    const std::string line = std::string(stamp, static_cast<std::size_t>(stampLength)) + message;
    WriteAll(fd, line.data(), line.size()); // a log that cannot be written is not reported anywhere
}

// Whether the open file or folder `fd` is closed to other users; one of this user's own is closed now.
bool CloseToOthers(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return false;
    }
    return (st.st_mode & 0077) == 0 || (st.st_uid == ::geteuid() && ::fchmod(fd, st.st_mode & 0700) == 0);
}

// Closes the open log `fileFd` and its folder to other users; false when either stays open.
bool CloseLogToOthers(int fileFd) {
    const int folderFd = ::open(LogFolder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool folderClosed = folderFd >= 0 && CloseToOthers(folderFd);
    if (folderFd >= 0) {
        ::close(folderFd);
    }
    const bool fileClosed = CloseToOthers(fileFd);
    return folderClosed && fileClosed;
}

} // namespace

void SetLogEcho(bool on) {
    g_echo.store(on);
}

void SetLogClock(LogClock clock) {
    g_clock.store(clock);
}

std::string LogFolder() {
    return StateHomeFolder() + "/" + DataFolderName();
}

std::string LogFilePath(const LogTime& time) {
    char name[64];
    std::snprintf(name, sizeof name, "/launcher_%04d_%02d_%02d.log", time.year, time.month, time.day);
    return LogFolder() + name;
}

namespace {

thread_local std::vector<std::pair<LogTime, std::string>>* t_heldLines = nullptr;

// Writes one message (its line feed included) with its time; under g_writeLock.
void WriteLine(const LogTime& now, const std::string& message) {
    Echo(message);
    const std::string path = LogFilePath(now);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0 && errno == ENOENT) {
        // The folder is made when it is missing, not before every line.
        MakeFolderPath(LogFolder(), 0700);
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    }
    if (fd < 0) {
        return;
    }
    // Once for each file: an earlier version made the log and its folder readable by everybody.
    const bool closed = path == g_closedFile || CloseLogToOthers(fd);
    g_closedFile = path;
    AppendLine(fd, now, message);
    if (!closed) {
        const std::string notice = "[WARNING][WriteLog][" + std::to_string(__LINE__) + "] The log [" +
                                   PrintableText(path) +
                                   "] stays open to other users: it or its folder could not be closed to them.\n";
        Echo(notice);
        AppendLine(fd, now, notice);
    }
    ::close(fd);
}

} // namespace

HeldLogLines::HeldLogLines() : holding_(t_heldLines == nullptr) {
    if (holding_) {
        t_heldLines = &lines_;
    }
}

HeldLogLines::~HeldLogLines() {
    if (!holding_) {
        return;
    }
    t_heldLines = nullptr;
    std::lock_guard lock(g_writeLock);
    for (const auto& [time, message] : lines_) {
        WriteLine(time, message);
    }
}

void WriteLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string message = FormatLogMessage(format, args);
    va_end(args);
    if (message.size() > kMessageLimit) {
        message.resize(kMessageLimit);
    }
    message += '\n';

    const LogClock clock = g_clock.load();
    if (t_heldLines != nullptr) {
        t_heldLines->emplace_back(clock != nullptr ? clock() : LocalNow(), std::move(message));
        return;
    }
    std::lock_guard lock(g_writeLock);
    // Stamped under the lock, so that the lines of the file follow one another in time.
    WriteLine(clock != nullptr ? clock() : LocalNow(), message);
}
