#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Whole transfers on a file descriptor: each call retries interrupted system calls and short counts, and
// stops at the first error or, when reading, at the end of the file.
struct FdIoResult {
    std::size_t done = 0; // bytes moved; short of the size asked only at the end of the file or an error
    int error = 0;        // errno of the failing call, 0 when none failed
};

FdIoResult ReadAll(int fd, void* buffer, std::size_t size);
FdIoResult PreadAll(int fd, void* buffer, std::size_t size, std::uint64_t offset);
// 0 when every byte is written, else errno (a write that moves nothing counts as EIO).
int WriteAll(int fd, const void* data, std::size_t size);
// WriteAll, then the file flushed to the disk; 0 or errno.
int WriteAllAndSync(int fd, const void* data, std::size_t size);
// A file created or renamed lasts only once its folder is on the disk too: flushes the folder of `path`.
void SyncFolderOf(const std::string& path);
