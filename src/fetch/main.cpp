// ostrel-fetch [-v] [--stall-timeout S] [--sha256 HEX] URL FILE [--offset N]
//                                                     fetches URL into FILE, continuing it at byte N
// ostrel-fetch [-v] [--stall-timeout S] --head URL    prints the size the server announces for URL
// --stall-timeout: seconds without a byte after which the transfer fails (default 30).
// --sha256: the digest FILE must have afterwards; a file that differs fails the fetch. The file is hashed
// as it is written (a continued file's first N bytes once, before the transfer), never read back.
// The engine's log lines go to the log as usual, and with -v to standard error too; a progress line
// goes to standard error, and a failure is told there in one line. Exit status 0 only on success;
// SIGINT or SIGTERM stops the transfer.

#include "app/stop_signals.h"
#include "base/log.h"
#include "base/user_folders.h"
#include "fetch/fetch_progress.h"
#include "net/sha256_digest.h"
#include "net/stall_timeout.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

int Usage() {
    std::fprintf(stderr, "usage: ostrel-fetch [-v] [--stall-timeout SECONDS] [--sha256 HEX] URL FILE [--offset N]\n"
                         "       ostrel-fetch [-v] [--stall-timeout SECONDS] --head URL\n");
    return 2;
}

struct Arguments {
    bool verbose = false;
    bool head = false;
    std::string url;
    std::string file;
    std::uint64_t offset = 0;
    std::optional<std::chrono::milliseconds> stallTimeout;
    std::optional<Sha256Bytes> sha256;
};

bool ParseArguments(int argc, char** argv, Arguments& args) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-v") {
            args.verbose = true;
        } else if (arg == "--head") {
            args.head = true;
        } else if (arg == "--stall-timeout" && i + 1 < argc) {
            char* end = nullptr;
            const double seconds = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || !(seconds > 0 && seconds < 86400)) {
                return false;
            }
            args.stallTimeout = std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
        } else if (arg == "--sha256" && i + 1 < argc) {
            args.sha256 = ParseSha256(argv[++i]);
            if (!args.sha256) {
                return false;
            }
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
        if (positional.size() != 1 || args.offset != 0 || args.sha256) {
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
    // The engine's lines would bury the progress line and the one that says what went wrong.
    SetLogEcho(args.verbose);
    if (args.stallTimeout) {
        SetStallTimeout(*args.stallTimeout);
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
    if (args.sha256 && !downloader.HashFile(args.offset)) {
        std::fprintf(stderr, "ostrel-fetch: the first %llu bytes of %s cannot be read to hash them\n",
                     static_cast<unsigned long long>(args.offset), args.file.c_str());
        return 1;
    }

    bool ok = false;
    {
        const StopSignals stopSignals([&] {
            downloader.abortFlag.exchange(1);
            downloader.CloseHandles();
        });
        ok = downloader.Download();
    }
    downloader.FinishProgressLine();

    if (args.head) {
        ::unlink(downloader.localFileName.c_str());
    }
    if (!ok || downloader.IsAbortRequested()) {
        std::fprintf(stderr, "ostrel-fetch: %s %s failed: %s\n", args.head ? "size request for" : "download of",
                     args.url.c_str(), downloader.FailureReason().c_str());
        return 1;
    }
    if (args.head) {
        std::printf("%llu\n", static_cast<unsigned long long>(downloader.contentLength));
    }
    if (args.sha256) {
        if (const Sha256Bytes digest = downloader.FileDigest(); digest != *args.sha256) {
            std::fprintf(stderr, "ostrel-fetch: %s has SHA-256 %s, expected %s\n", args.file.c_str(),
                         Sha256Hex(digest).c_str(), Sha256Hex(*args.sha256).c_str());
            return 1;
        }
    }
    return 0;
}
