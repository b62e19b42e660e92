#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class QSocketNotifier;
class QThread;

// Carries the worker thread's changes of the window to the window thread. Call waits until the
// change has run, as a synchronous window call would; Post does not wait. Once the window shuts the
// channel, nothing more runs and every waiting caller returns, so the window can wait for the worker
// without both waiting on each other.
//
// The changes travel through a queue of our own under a mutex; an eventfd only wakes the window
// thread, so nothing the worker made is handed over behind the back of the thread checkers.
class UiCallChannel {
public:
    // Made on the window thread; `window` decides which thread runs the changes.
    explicit UiCallChannel(QObject* window);
    ~UiCallChannel();
    UiCallChannel(const UiCallChannel&) = delete;
    UiCallChannel& operator=(const UiCallChannel&) = delete;

    // Runs `change` on the window thread and returns when it has run; false when the channel is shut
    // (then `change` does not run). On the window thread itself `change` runs at once.
    bool Call(std::function<void()> change);

    // Has `change` run on the window thread later, in order with the calls; dropped once shut.
    void Post(std::function<void()> change);

    // Window thread: no further change runs, and every waiting caller returns.
    void Shut();
    bool IsShut() const;

private:
    struct Pending {
        std::function<void()> change;
        bool finished = false;
    };
    struct State {
        std::mutex lock;
        std::condition_variable done;
        std::deque<std::shared_ptr<Pending>> queue;
        bool shut = false;
    };

    bool Enqueue(const std::shared_ptr<Pending>& pending);
    void RunPending();

    QThread* windowThread_;
    int wakeFd_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
};
