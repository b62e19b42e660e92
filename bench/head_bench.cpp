// ostrel-head-bench URL_PREFIX COUNT: COUNT HEAD transfers of URL_PREFIX0000, URL_PREFIX0001, ... one after
// another through one downloader object, as the size survey asks for sizes. Prints the rate.

#include "base/user_folders.h"
#include "net/http_downloader.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: ostrel-head-bench URL_PREFIX COUNT\n");
        return 2;
    }
    const std::string prefix = argv[1];
    const long count = std::strtol(argv[2], nullptr, 10);
    std::string folder;
    if (count <= 0 || !PrivateTempFolder(folder)) {
        return 2;
    }

    CHttpDownloader2 downloader;
    downloader.localFileName = folder + "head-bench-" + std::to_string(::getpid());
    downloader.headOnly = 1;
    long failures = 0;
    const auto started = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i) {
        char name[24];
        std::snprintf(name, sizeof name, "%04ld", i);
        downloader.url = prefix + name;
        failures += downloader.Download() ? 0 : 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ::unlink(downloader.localFileName.c_str());
    std::printf("requests=%ld failures=%ld seconds=%.3f per_second=%.0f\n", count, failures, seconds,
                static_cast<double>(count) / seconds);
    return failures == 0 ? 0 : 1;
}
