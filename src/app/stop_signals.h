#pragma once

#include <functional>
#include <thread>

// For command-line programs: SIGINT and SIGTERM run `onStop` once, on a thread of its own, and no other
// thread of the process ever takes them. Make it before any other thread, so that they all inherit the
// blocked signals; its destructor ends the watch.
class StopSignals {
public:
    explicit StopSignals(std::function<void()> onStop);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Turns readable once `onStop` has run and stays so: a wait for input (poll) can give way at once.
    int WakeFd() const { return wake_[0]; }

private:
    int wake_[2] = {-1, -1};
    std::thread watcher_;
};
