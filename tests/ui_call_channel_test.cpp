#include "ui/ui_call_channel.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

void ProcessEventsUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition() && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

TEST(UiCallChannel, RunsChangesOnTheWindowThreadInOrder) {
    QObject window;
    UiCallChannel channel(&window);
    std::vector<int> order;
    std::atomic<bool> workerDone{false};
    bool allOnWindowThread = true;
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i) {
            EXPECT_TRUE(channel.Call([&, i] {
                allOnWindowThread = allOnWindowThread && QThread::currentThread() == window.thread();
                order.push_back(i);
            }));
            // The call has run by the time it returns.
            EXPECT_EQ(order.size(), static_cast<std::size_t>(i + 1));
        }
        workerDone = true;
    });
    ProcessEventsUntil([&] { return workerDone.load(); });
    worker.join();
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    }
    EXPECT_TRUE(allOnWindowThread);
}

TEST(UiCallChannel, ShuttingReleasesAWaitingWorkerWithoutRunningItsChange) {
    QObject window;
    UiCallChannel channel(&window);
    std::atomic<bool> waiting{false};
    std::atomic<int> ran{0};
    bool result = true;
    std::thread worker([&] {
        waiting = true;
        result = channel.Call([&] { ++ran; });
        EXPECT_FALSE(channel.Call([&] { ++ran; }));
    });
    while (!waiting) {
        std::this_thread::yield();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    // The window thread waits for the worker without handling events: shutting must free it.
    channel.Shut();
    worker.join();
    EXPECT_FALSE(result);
    QCoreApplication::processEvents(); // the queued change is dropped, not run
    EXPECT_EQ(ran.load(), 0);
}

} // namespace
