#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

// Set once when the launcher shuts down; every wait of its threads ends on it at once.
class CancelSignal {
public:
    void Set();
    bool IsSet() const { return set_.load(); }
    // Sleeps up to `duration`; true when the signal ended the sleep (or was already set).
    bool WaitFor(std::chrono::milliseconds duration);

private:
    std::atomic<bool> set_{false};
    std::mutex lock_;
    std::condition_variable changed_;
};
