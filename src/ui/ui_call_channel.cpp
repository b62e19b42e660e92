#include "ui/ui_call_channel.h"

#include <QSocketNotifier>
#include <QThread>
#include <cerrno>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

UiCallChannel::UiCallChannel(QObject* window)
    : windowThread_(window->thread()), wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    notifier_ = std::make_unique<QSocketNotifier>(wakeFd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { RunPending(); });
}

UiCallChannel::~UiCallChannel() {
    Shut();
    notifier_.reset();
    ::close(wakeFd_);
}

bool UiCallChannel::Enqueue(const std::shared_ptr<Pending>& pending) {
    {
        std::lock_guard lock(state_->lock);
        if (state_->shut) {
            return false;
        }
        state_->queue.push_back(pending);
    }
    const std::uint64_t one = 1;
    while (::write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
    return true;
}

bool UiCallChannel::Call(std::function<void()> change) {
    if (QThread::currentThread() == windowThread_) {
        if (IsShut()) {
            return false;
        }
        change();
        return true;
    }
    auto pending = std::make_shared<Pending>();
    pending->change = std::move(change);
    if (!Enqueue(pending)) {
        return false;
    }
    std::unique_lock lock(state_->lock);
    state_->done.wait(lock, [&] { return pending->finished || state_->shut; });
    return pending->finished;
}

void UiCallChannel::Post(std::function<void()> change) {
    auto pending = std::make_shared<Pending>();
    pending->change = std::move(change);
    Enqueue(pending);
}

void UiCallChannel::RunPending() {
    std::uint64_t count = 0;
    while (::read(wakeFd_, &count, sizeof count) < 0 && errno == EINTR) {
    }
    for (;;) {
        std::shared_ptr<Pending> pending;
        {
            std::lock_guard lock(state_->lock);
            if (state_->shut || state_->queue.empty()) {
                return;
            }
            pending = state_->queue.front();
            state_->queue.pop_front();
        }
        pending->change();
        std::lock_guard lock(state_->lock);
        pending->finished = true;
        state_->done.notify_all();
    }
}

void UiCallChannel::Shut() {
    std::lock_guard lock(state_->lock);
    state_->shut = true;
    state_->queue.clear();
    state_->done.notify_all();
}

bool UiCallChannel::IsShut() const {
    std::lock_guard lock(state_->lock);
    return state_->shut;
}
