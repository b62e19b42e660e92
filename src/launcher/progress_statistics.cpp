#include "launcher/progress_statistics.h"

int PercentOf(std::uint64_t part, std::uint64_t whole) {
    if (whole == 0 || part >= whole) {
        return 100;
    }
    return static_cast<int>(static_cast<unsigned __int128>(part) * 100 / whole);
}

int ProgressStatistics::UpdateTotalReceived(std::uint64_t receivedOfSelectedFiles) {
    totalReceived.store(receivedOfSelectedFiles, std::memory_order_relaxed);
    return PercentOf(receivedOfSelectedFiles, totalSize.load(std::memory_order_relaxed));
}

void ProgressStatistics::Reset() {
    totalReceived.store(0, std::memory_order_relaxed);
    lastFilePercent.store(-1, std::memory_order_relaxed);
    lastTotalPercent.store(-1, std::memory_order_relaxed);
    lastSpeedTick.store(0, std::memory_order_relaxed);
}

ProgressDisplay ProgressStatistics::OnOtherRead(std::uint32_t bytesRead, bool lengthKnown,
                                                std::atomic<std::uint64_t>& fileReceived) {
    constexpr auto relaxed = std::memory_order_relaxed;
    ProgressDisplay display;
    if (!lengthKnown) {
        return display;
    }
    fileReceived.fetch_add(bytesRead, relaxed);
    // The speed is of every transfer: measured against the shown file's count, whose baseline these
    // bytes lower (wrapping below zero is undone by the subtraction that measures).
    speedBaseline.fetch_sub(bytesRead, relaxed);
    const std::uint64_t total = totalReceived.fetch_add(bytesRead, relaxed) + bytesRead;
    const int totalPercent = PercentOf(total, totalSize.load(relaxed));
    if (totalPercent != lastTotalPercent.load(relaxed)) {
        lastTotalPercent.store(totalPercent, relaxed);
        display.totalPercent = totalPercent;
    }
    return display;
}

ProgressDisplay ProgressStatistics::OnRead(std::uint32_t now, std::uint64_t transferred, std::uint32_t bytesRead,
                                           bool lengthKnown, std::uint64_t fileSize,
                                           std::atomic<std::uint64_t>& fileReceived) {
    constexpr auto relaxed = std::memory_order_relaxed;
    ProgressDisplay display;
    if (lastTotalPercent.load(relaxed) == -1) {
        lastSpeedTick.store(now, relaxed);
    }
    if (!lengthKnown) {
        return display;
    }
    const std::uint64_t received = fileReceived.fetch_add(bytesRead, relaxed) + bytesRead;
    // The total moves with the file, so a read costs the same however many files are configured.
    const std::uint64_t total = totalReceived.fetch_add(bytesRead, relaxed) + bytesRead;

    const int filePercent = PercentOf(received, fileSize);
    if (filePercent != lastFilePercent.load(relaxed)) {
        lastFilePercent.store(filePercent, relaxed);
        display.filePercent = filePercent;
    }
    const int totalPercent = PercentOf(total, totalSize.load(relaxed));
    if (totalPercent != lastTotalPercent.load(relaxed)) {
        lastTotalPercent.store(totalPercent, relaxed);
        display.totalPercent = totalPercent;
    }

    const std::uint32_t elapsed = now - lastSpeedTick.load(relaxed);
    if (elapsed <= 1000) {
        return display;
    }
    const std::uint64_t delta = received - speedBaseline.load(relaxed);
    speedBaseline.store(received, relaxed);
    const double speed = static_cast<double>(delta / elapsed);
    display.speed = speed;
    lastSpeedTick.store(now, relaxed);
    if (transferred == 0) {
        return display;
    }

    // More received than announced leaves nothing to wait for.
    const std::uint64_t size = totalSize.load(relaxed);
    const std::uint64_t remaining = total < size ? size - total : 0;
    display.remainingSeconds =
        speed > 0
            ? static_cast<std::uint32_t>(static_cast<std::uint64_t>(static_cast<double>(remaining) / (speed * 1024.0)))
            : 0;
    display.totalReceived = total;
    display.fileReceived = received;
    return display;
}
