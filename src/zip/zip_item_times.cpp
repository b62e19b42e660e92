#include "zip/zip_item_times.h"

#include <algorithm>
#include <sys/stat.h>

namespace {

constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr std::int64_t kIntervalsPerSecond = 10000000;

std::uint64_t UnixSecondsToFileTime(std::int64_t seconds) {
    return static_cast<std::uint64_t>((seconds + kSecondsFrom1601To1970) * kIntervalsPerSecond);
}

std::uint32_t ByteAt(const std::string& bytes, std::size_t offset) {
    return static_cast<unsigned char>(bytes[offset]);
}

std::uint32_t Read16(const std::string& bytes, std::size_t offset) {
    return ByteAt(bytes, offset) | ByteAt(bytes, offset + 1) << 8;
}

std::int32_t Read32(const std::string& bytes, std::size_t offset) {
    return static_cast<std::int32_t>(Read16(bytes, offset) | Read16(bytes, offset + 2) << 16);
}

// The values of a "UT" block whose data (flags, then the values) spans [begin, end).
void ApplyUnixTimeBlock(const std::string& extra, std::size_t begin, std::size_t end, ZipItemTimes& times) {
    if (begin >= end) {
        return;
    }
    const std::uint32_t flags = ByteAt(extra, begin);
    std::uint64_t* const targets[] = {&times.modificationTime, &times.accessTime, &times.creationTime};
    std::size_t offset = begin + 1;
    for (int bit = 0; bit < 3; ++bit) {
        if ((flags & (1u << bit)) == 0) {
            continue;
        }
        if (offset + 4 > end) {
            return; // announced but cut off: keep the DOS time
        }
        *targets[bit] = UnixSecondsToFileTime(Read32(extra, offset));
        offset += 4;
    }
}

} // namespace

std::uint64_t DosDateTimeToFileTime(std::uint32_t dosDateTime) {
    const std::uint32_t date = dosDateTime >> 16, time = dosDateTime & 0xFFFF;
    std::tm local{};
    local.tm_year = static_cast<int>((date >> 9) + 1980 - 1900);
    local.tm_mon = static_cast<int>((date >> 5) & 15) - 1;
    local.tm_mday = static_cast<int>(date & 31);
    local.tm_hour = static_cast<int>(time >> 11);
    local.tm_min = static_cast<int>((time >> 5) & 63);
    local.tm_sec = static_cast<int>((time & 31) * 2);
    local.tm_isdst = -1;
    if (local.tm_mon < 0 || local.tm_mon > 11 || local.tm_mday < 1 || local.tm_hour > 23 || local.tm_min > 59 ||
        local.tm_sec > 59) {
        return 0;
    }
    const int month = local.tm_mon, day = local.tm_mday;
    const std::time_t seconds = std::mktime(&local);
    if (seconds == static_cast<std::time_t>(-1) || local.tm_mon != month || local.tm_mday != day) {
        return 0; // e.g. 31 February
    }
    return UnixSecondsToFileTime(seconds);
}

ZipItemTimes ZipItemTimesFrom(std::uint32_t dosDateTime, const std::string& extra) {
    const std::uint64_t dosTime = DosDateTimeToFileTime(dosDateTime);
    ZipItemTimes times{dosTime, dosTime, dosTime};
    std::size_t offset = 0;
    while (offset + 4 < extra.size()) {
        const std::size_t dataEnd = offset + 4 + Read16(extra, offset + 2);
        if (extra[offset] == 'U' && extra[offset + 1] == 'T') {
            ApplyUnixTimeBlock(extra, offset + 4, std::min(dataEnd, extra.size()), times);
            break;
        }
        offset = dataEnd;
    }
    return times;
}

timespec FileTimeToTimespec(std::uint64_t fileTime) {
    if (fileTime == 0) {
        return {0, UTIME_OMIT};
    }
    const std::int64_t seconds = static_cast<std::int64_t>(fileTime / kIntervalsPerSecond) - kSecondsFrom1601To1970;
    const long nanoseconds = static_cast<long>(fileTime % kIntervalsPerSecond) * 100;
    return {static_cast<std::time_t>(seconds), nanoseconds};
}
