#include "ui/ui_call_channel.h"

#include <QThread>

UiCallChannel::UiCallChannel(QObject* window) : window_(window) {}

UiCallChannel::~UiCallChannel() {
    Shut();
}

bool UiCallChannel::Call(std::function<void()> change) {
    if (QThread::currentThread() == window_->thread()) {
        if (IsShut()) {
            return false;
        }
        change();
        return true;
    }
    auto finished = std::make_shared<bool>(false);
    std::shared_ptr<State> state = state_;
    {
        std::lock_guard lock(state->lock);
        if (state->shut) {
            return false;
        }
    }
    QMetaObject::invokeMethod(
        window_,
        [state, finished, change = std::move(change)] {
            {
                std::lock_guard lock(state->lock);
                if (state->shut) {
                    return;
                }
            }
            change();
            std::lock_guard lock(state->lock);
            *finished = true;
            state->done.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(state->lock);
    state->done.wait(lock, [&] { return *finished || state->shut; });
    return *finished;
}

void UiCallChannel::Shut() {
    std::lock_guard lock(state_->lock);
    state_->shut = true;
    state_->done.notify_all();
}

bool UiCallChannel::IsShut() const {
    std::lock_guard lock(state_->lock);
    return state_->shut;
}
