#include "launcher/task_queue.h"

#include <system_error>

TaskQueue::~TaskQueue() {
    Stop();
}

bool TaskQueue::Push(std::function<void()> task) {
    std::lock_guard lock(lock_);
    if (stopping_) {
        return false;
    }
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread(&TaskQueue::Run, this);
        } catch (const std::system_error&) {
            return false;
        }
    }
    tasks_.push_back(std::move(task));
    changed_.notify_one();
    return true;
}

void TaskQueue::Stop() {
    {
        std::lock_guard lock(lock_);
        stopping_ = true;
        tasks_.clear();
    }
    changed_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void TaskQueue::Run() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(lock_);
            changed_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (tasks_.empty()) {
                return;
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}
