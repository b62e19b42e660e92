#include "support/silent_listener.h"

#include "net/stall_timeout.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

SilentListener::SilentListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd_, 16) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot listen on loopback");
    }
    port_ = ntohs(address.sin_port);
}

SilentListener::~SilentListener() {
    ::close(fd_);
}

std::string SilentListener::Url(const std::string& target) const {
    return "http://127.0.0.1:" + std::to_string(port_) + target;
}

ScopedStallTimeout::ScopedStallTimeout(std::chrono::milliseconds timeout) : previous_(StallTimeout()) {
    SetStallTimeout(timeout);
}

ScopedStallTimeout::~ScopedStallTimeout() {
    SetStallTimeout(previous_);
}
