#pragma once

#include <string>
#include <utility>
#include <vector>

// Appends one time-stamped line to the daily log file and echoes the message to stderr.
// printf-style; "%I64u" and "%I64d" print 64-bit integers. The texts of %s and %c come from outside and
// have their control characters escaped (PrintableText), so that only the format's own line feeds end
// lines. A message is cut at 1024 characters; every line ends with a line feed. Callable from any
// thread; concurrent callers are serialised so that no line is lost or interleaved.
void WriteLog(const char* format, ...);

// Turns the stderr echo of WriteLog on or off for the whole process (on at start). The log file gets
// every line either way.
void SetLogEcho(bool on);

// Local date and time of one log line.
struct LogTime {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// While it lives, the lines this thread writes are held back, and written one after another when it ends,
// each with the time it was written: the lines of one piece of work stay together among those of other
// threads working alongside. Within one that lives already, a second changes nothing.
class HeldLogLines {
public:
    HeldLogLines();
    ~HeldLogLines();
    HeldLogLines(const HeldLogLines&) = delete;
    HeldLogLines& operator=(const HeldLogLines&) = delete;

private:
    bool holding_ = false;
    std::vector<std::pair<LogTime, std::string>> lines_;
};

// Replaces the clock that stamps the lines (nullptr: the local time). For tests.
using LogClock = LogTime (*)();
void SetLogClock(LogClock clock);

// $XDG_STATE_HOME/Harnlow, or ~/.local/state/Harnlow. Only this user may read the log: the folders
// made for it get mode 0700 and its files 0600, and a folder or file of this user's made more open
// before is closed with the first line written to it; one that cannot be closed is told in the log.
std::string LogFolder();
// The day's file inside LogFolder(): launcher_YYYY_MM_DD.log.
std::string LogFilePath(const LogTime& time);
