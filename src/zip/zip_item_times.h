#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// Entry times as counts of 100-nanosecond intervals since 1601-01-01 00:00 UTC (0: none).
struct ZipItemTimes {
    std::uint64_t accessTime = 0;
    std::uint64_t creationTime = 0;
    std::uint64_t modificationTime = 0;
};

// The DOS date (high 16 bits) and time (low 16 bits), a local time, in UTC; 0 for an impossible date.
std::uint64_t DosDateTimeToFileTime(std::uint32_t dosDateTime);

// All three times from the DOS stamp, then replaced by those of the first "UT" block of the local
// extra field. Nothing outside `extra` and outside the block is read.
ZipItemTimes ZipItemTimesFrom(std::uint32_t dosDateTime, const std::string& extra);

// The time for the file system; UTIME_OMIT for 0 (no time).
timespec FileTimeToTimespec(std::uint64_t fileTime);
