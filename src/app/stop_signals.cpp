#include "app/stop_signals.h"

#include <csignal>
#include <pthread.h>

StopSignals::StopSignals(std::function<void()> onStop) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1); // from the destructor: the work is over
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    watcher_ = std::thread([signals, stop = std::move(onStop)] {
        int received = 0;
        sigwait(&signals, &received);
        if (received != SIGUSR1) {
            stop();
        }
    });
}

StopSignals::~StopSignals() {
    pthread_kill(watcher_.native_handle(), SIGUSR1);
    watcher_.join();
}
