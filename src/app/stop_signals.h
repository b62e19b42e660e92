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

private:
    std::thread watcher_;
};
