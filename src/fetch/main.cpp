// ostrel-fetch URL FILE [--offset N]   fetches URL into FILE, continuing it at byte N
// ostrel-fetch --head URL               prints the size the server announces for URL
// The engine's log lines go to the log as usual; a progress line goes to standard error.
// Exit status 0 only on success; SIGINT or SIGTERM stops the transfer.

#include "app/user_folders.h"
#include "fetch/fetch_progress.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

int Usage() {
    std::fprintf(stderr, "usage: ostrel-fetch URL FILE [--offset N]\n       ostrel-fetch --head URL\n");
    return 2;
}

struct Arguments {
    bool head = false;
    std::string url;
    std::string file;
    std::uint64_t offset = 0;
};

bool ParseArguments(int argc, char** argv, Arguments& args) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--head") {
            args.head = true;
        } else if (arg == "--offset" && i + 1 < argc) {
            char* end = nullptr;
            args.offset = std::strtoull(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0') {
                return false;
            }
        } else {
            positional.push_back(arg);
        }
    }
    if (args.head) {
        if (positional.size() != 1 || args.offset != 0) {
            return false;
        }
        args.url = positional[0];
        return true;
    }
    if (positional.size() != 2) {
        return false;
    }
    args.url = positional[0];
    args.file = positional[1];
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Arguments args;
    if (!ParseArguments(argc, argv, args)) {
        return Usage();
    }

    FetchDownloader downloader;
    downloader.url = args.url;
    downloader.startOffset = args.offset;
    if (args.head) {
        std::string folder;
        if (!PrivateTempFolder(folder)) {
            std::fprintf(stderr, "ostrel-fetch: no private temporary folder\n");
            return 1;
        }
        downloader.localFileName = folder + "fetch-head-" + std::to_string(::getpid());
        downloader.headOnly = 1;
    } else {
        downloader.localFileName = args.file;
    }

    // Only the stopper thread takes the stop signals; SIGUSR1 tells it that the transfer is over.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread stopper([&] {
        int received = 0;
        sigwait(&signals, &received);
        if (received != SIGUSR1) {
            downloader.abortFlag.exchange(1);
            downloader.CloseHandles();
        }
    });

    const bool ok = downloader.Download();
    pthread_kill(stopper.native_handle(), SIGUSR1);
    stopper.join();
    downloader.FinishProgressLine();

    if (args.head) {
        ::unlink(downloader.localFileName.c_str());
        if (ok) {
            std::printf("%llu\n", static_cast<unsigned long long>(downloader.contentLength));
        }
    }
    return ok && !downloader.IsAbortRequested() ? 0 : 1;
}
