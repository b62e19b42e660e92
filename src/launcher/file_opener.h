#pragma once

#include <functional>
#include <string>

class CancelSignal;

// Opens a downloaded file from its folder as the desktop would: a program (an ELF file or a script
// starting with "#!") gets its execute bits and runs directly, without a shell; any other file goes to
// the desktop's opener (xdg-open). `started` runs as soon as the process runs. With `wait`, returns
// only when the process has ended, or when `cancel` is set (the process then runs on, unwatched).
// False when nothing was started: it could not be, or `cancel` was set before.
bool OpenDownloadedFile(const std::string& folder, const std::string& fileName, bool wait,
                        const std::function<void()>& started, CancelSignal* cancel = nullptr);
