#include "app/stop_signals.h"

#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

StopSignals::StopSignals(std::function<void()> onStop) {
    // Not inherited: an installer started later must not hold the wake open.
    if (::pipe2(wake_, O_CLOEXEC) != 0) {
        wake_[0] = wake_[1] = -1;
    }
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1); // from the destructor: the work is over
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    watcher_ = std::thread([signals, stop = std::move(onStop), wake = wake_[1]] {
        int received = 0;
        sigwait(&signals, &received);
        if (received != SIGUSR1) {
            stop();
            if (wake >= 0) {
                const char byte = 1;
                [[maybe_unused]] const ssize_t written = ::write(wake, &byte, 1);
            }
        }
    });
}

StopSignals::~StopSignals() {
    pthread_kill(watcher_.native_handle(), SIGUSR1);
    watcher_.join();
    for (const int fd : wake_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}
