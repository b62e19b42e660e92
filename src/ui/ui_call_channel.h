#pragma once

#include <QObject>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

// Carries the worker thread's changes of the window to the window thread and waits until they are
// done, as a synchronous window call would. Once the window shuts the channel, calls return at once
// without running, so the window can wait for the worker without both waiting on each other.
class UiCallChannel {
public:
    explicit UiCallChannel(QObject* window);
    ~UiCallChannel();
    UiCallChannel(const UiCallChannel&) = delete;
    UiCallChannel& operator=(const UiCallChannel&) = delete;

    // Runs `change` on the window thread and returns when it has run; false when the channel is shut
    // (then `change` does not run). On the window thread itself `change` runs at once.
    bool Call(std::function<void()> change);

    // Window thread: no further change runs, and every waiting caller returns.
    void Shut();
    bool IsShut() const;

private:
    struct State {
        std::mutex lock;
        std::condition_variable done;
        bool shut = false;
    };

    QObject* window_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
};
