#pragma once

#include <chrono>
#include <string>

// A loopback port that takes connections (the kernel completes them) and never sends a byte.
class SilentListener {
public:
    SilentListener();
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by `target`.
    std::string Url(const std::string& target) const;

private:
    int fd_ = -1;
    int port_ = 0;
};

// Shortens the stall time-out of every transfer while it lives.
class ScopedStallTimeout {
public:
    explicit ScopedStallTimeout(std::chrono::milliseconds timeout);
    ~ScopedStallTimeout();

private:
    std::chrono::milliseconds previous_;
};
