// ostrel-serve --root DIR --port N [--rate BYTES_PER_S] [--requests FILE]: serves DIR on 127.0.0.1 until
// SIGINT or SIGTERM. Prints the port it listens on (N = 0: an ephemeral one) as the first line of standard
// output. With --requests, every request is appended to FILE as it arrives: method, target, Range and
// User-Agent, separated by tabs.

#include "serve/file_server.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int Usage() {
    std::fprintf(stderr, "usage: ostrel-serve --root DIR --port N [--rate BYTES_PER_S] [--requests FILE]\n");
    return 2;
}

bool ParseNumber(const char* text, unsigned long long limit, unsigned long long& value) {
    char* end = nullptr;
    value = std::strtoull(text, &end, 10);
    return end != text && *end == '\0' && value <= limit;
}

} // namespace

int main(int argc, char** argv) {
    FileServerOptions options;
    bool havePort = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            return Usage();
        }
        unsigned long long number = 0;
        if (arg == "--root") {
            options.root = argv[++i];
        } else if (arg == "--port" && ParseNumber(argv[i + 1], 65535, number)) {
            options.port = static_cast<int>(number);
            havePort = true;
            ++i;
        } else if (arg == "--requests") {
            options.requestLogFile = argv[++i];
        } else if (arg == "--rate" && ParseNumber(argv[i + 1], UINT64_MAX, number)) {
            options.rateBytesPerSecond = number;
            ++i;
        } else {
            return Usage();
        }
    }
    if (options.root.empty() || !havePort) {
        return Usage();
    }
    while (options.root.size() > 1 && options.root.back() == '/') {
        options.root.pop_back();
    }

    // Block the stop signals before any thread starts, so that only sigwait sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    FileServer server(options);
    if (!server.Start()) {
        std::fprintf(stderr, "ostrel-serve: cannot serve on 127.0.0.1:%d: %s\n", options.port, std::strerror(errno));
        return 1;
    }
    std::printf("%d\n", server.port());
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    server.Stop();
    std::fprintf(stderr, "ostrel-serve: %zu requests on %zu connections\n", server.Requests().size(),
                 server.ConnectionCount());
    return 0;
}
