#pragma once

#include <cstdint>
#include <string>

// Bytes available to this user on the file system that holds `path` (or would hold it: the nearest
// existing folder above it is asked, the current folder for a relative path); 0 for an empty path or when
// the system cannot tell.
std::uint64_t GetFreeDiskBytes(const std::string& path);
