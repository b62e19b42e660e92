#pragma once

#include <functional>
#include <string>

class CancelSignal;

// Opens a downloaded file from its folder as the desktop would: a program (an ELF file or a script
// starting with "#!") gets its execute bits and runs directly, without a shell; any other file goes to
// the desktop's opener (xdg-open). The file is opened once, never through a link at its name, and only
// a regular file; `check`, when given, is asked with that open descriptor whether it may start. What
// starts is the file that was opened and checked, whatever its name comes to hold meanwhile. A script
// is read by its interpreter from that descriptor, so its "$0" is a /proc/self/fd path.
// `started` runs as soon as the process runs. With `wait`, returns only when the process has ended, or
// when `cancel` is set (the process then runs on, unwatched).
// False when nothing was started: it could not be, `check` refused it, or `cancel` was set before.
bool OpenDownloadedFile(const std::string& folder, const std::string& fileName, bool wait,
                        const std::function<void()>& started, CancelSignal* cancel = nullptr,
                        const std::function<bool(int fd)>& check = nullptr);
