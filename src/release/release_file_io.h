#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

// Whole files, read and written so that a reader never sees half of one.

// The file's exact bytes; nothing, with `error` saying why, when it cannot be read.
std::optional<std::string> ReadFileBytes(const std::string& path, std::string& error);

// Replaces the file at `path` with `content` at once: a temporary file in the same folder, written and
// flushed to the disk, then renamed over it. The file keeps its mode; a new one gets the usual mode
// (0666 less the umask). False, with `error` saying why, when it failed; the old file is then untouched.
bool WriteFileAtomically(const std::string& path, const std::string& content, std::string& error);

// Makes a new file at `path` with `content` and `mode`; 0 when done, else errno (EEXIST: there is one,
// and it is left alone).
int CreateFileExclusively(const std::string& path, const std::string& content, mode_t mode);
