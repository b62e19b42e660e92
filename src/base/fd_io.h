#pragma once

#include <cstddef>
#include <cstdint>

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
