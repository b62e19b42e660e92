#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// One thread of the launcher that runs its tasks one after another, in the order they came.
class TaskQueue {
public:
    TaskQueue() = default;
    ~TaskQueue();
    TaskQueue(const TaskQueue&) = delete;
    TaskQueue& operator=(const TaskQueue&) = delete;

    // False once stopped or when no thread could be made; the task then does not run.
    bool Push(std::function<void()> task);
    // Drops the tasks not yet begun and waits for the running one to end.
    void Stop();

private:
    void Run();

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::thread thread_;
};
