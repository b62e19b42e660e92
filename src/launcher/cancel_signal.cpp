#include "launcher/cancel_signal.h"

void CancelSignal::Set() {
    {
        std::lock_guard lock(lock_);
        set_.store(true);
    }
    changed_.notify_all();
}

bool CancelSignal::WaitFor(std::chrono::milliseconds duration) {
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, duration, [this] { return set_.load(); });
}
