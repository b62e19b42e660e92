#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

// What one read changes on the screen; empty fields leave their display alone.
struct ProgressDisplay {
    std::optional<int> filePercent;
    std::optional<int> totalPercent;
    std::optional<double> speed; // bytes per millisecond
    std::optional<std::uint32_t> remainingSeconds;
    std::optional<std::uint64_t> totalReceived; // with fileReceived: the received sizes
    std::uint64_t fileReceived = 0;

    bool Empty() const { return !filePercent && !totalPercent && !speed && !remainingSeconds && !totalReceived; }
};

// Percentages of a part of a whole, truncated and held within 0 to 100; an empty whole is complete.
int PercentOf(std::uint64_t part, std::uint64_t whole);

// The statistics of a download run. The worker thread updates them on every read while the window
// thread resets them on Stop and a survey replaces `totalSize`, hence atomics. The clock is a
// parameter (milliseconds, wrapping at 32 bits) so the arithmetic can be tested.
class ProgressStatistics {
public:
    std::atomic<std::uint64_t> totalSize{0};
    std::atomic<std::uint64_t> totalReceived{0};
    std::atomic<int> lastFilePercent{-1};
    std::atomic<int> lastTotalPercent{-1};
    std::atomic<std::uint32_t> lastSpeedTick{0};
    std::atomic<std::uint64_t> speedBaseline{0};

    // One read of `bytesRead` bytes of a file whose announced size is `fileSize`; `fileReceived` is
    // the file's count of present bytes, advanced here. `transferred` counts the bytes of this request.
    ProgressDisplay OnRead(std::uint32_t now, std::uint64_t transferred, std::uint32_t bytesRead, bool lengthKnown,
                           std::uint64_t fileSize, std::atomic<std::uint64_t>& fileReceived);

    // One read of a file other than the one of the file fields: it moves the file's count, the totals and
    // the speed. Not at the same time as OnRead.
    ProgressDisplay OnOtherRead(std::uint32_t bytesRead, bool lengthKnown, std::atomic<std::uint64_t>& fileReceived);

    // Sets the received total of the selected files and returns the total percentage.
    int UpdateTotalReceived(std::uint64_t receivedOfSelectedFiles);

    // Back to the values of a window that has not run yet (Stop).
    void Reset();
};
