// ostrel-window-bench survey URL_PREFIX COUNT: the window's size survey of COUNT files URL_PREFIX0000,
//   URL_PREFIX0001, ... (one HEAD each, as at start and after a check-box click). Prints the rate.
// ostrel-window-bench run URL [SHA256]: one download run of URL by the window and its worker (its digest
//   checked as it is written when SHA256 is given), from the Download
//   button to the end of the run. Prints the run's wall time and the largest gap between two ticks of the
//   window's one-second timer, which shows how long the window thread was ever kept from its events.
// Runs the real window offscreen; HOME decides the download folder.

#include "ui/controls/zel_button.h"
#include "ui/ostrel_app.h"
#include "ui/ostrel_dlg.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

std::string Configuration(const std::string& files) {
    std::ifstream in(OSTREL_SOURCE_DIR "/res/config.xml");
    std::stringstream text;
    text << in.rdbuf();
    std::string config = text.str();
    const std::size_t begin = config.find("<Files>");
    config.replace(begin, config.find("</Files>") - begin, "<Files>" + files);
    return config;
}

std::string FileElement(const std::string& url, const std::string& sha256 = "") {
    return "<File Url=\"" + url + "\"" + (sha256.empty() ? "" : " Sha256=\"" + sha256 + "\"") + "/>";
}

int Survey(COstrelDlg& window, long count) {
    const auto started = Clock::now();
    const int sized = window.launcher().InitTotalInfo();
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    std::printf("survey files=%ld seconds=%.3f per_second=%.0f\n", count, seconds,
                static_cast<double>(count) / seconds);
    return sized == 1 ? 0 : 1;
}

int Run(COstrelDlg& window) {
    CLauncher& launcher = window.launcher();
    Clock::time_point lastTick;
    double longestGapMs = 0;
    std::uint32_t seenSeconds = launcher.elapsedSeconds;
    // Watches the elapsed-time counter from the window thread itself: a late tick is a blocked thread.
    QEventLoop running;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (window.buttons[CT_EXECUTION]->isEnabled()) { // Completed, its completion over
            running.quit();
        }
        if (launcher.elapsedSeconds == seenSeconds) {
            return;
        }
        const auto now = Clock::now();
        if (seenSeconds != 0 || launcher.elapsedSeconds > 1) {
            longestGapMs = std::max(longestGapMs, std::chrono::duration<double, std::milli>(now - lastTick).count());
        }
        lastTick = now;
        seenSeconds = launcher.elapsedSeconds;
    });
    const auto started = Clock::now();
    lastTick = started;
    watch.start();
    launcher.OnBnClickedBtnDownload();
    running.exec();
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    std::printf("run seconds=%.3f ticks=%u longest_tick_gap_ms=%.1f\n", seconds, launcher.elapsedSeconds, longestGapMs);
    return launcher.CheckDownloadedFiles() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (!((mode == "survey" && argc == 4) || (mode == "run" && (argc == 3 || argc == 4)))) {
        std::fprintf(stderr, "usage: ostrel-window-bench survey URL_PREFIX COUNT | run URL [SHA256]\n");
        return 2;
    }
    COstrelApp app(argc, argv);
    std::string files;
    const long count = mode == "survey" ? std::strtol(argv[3], nullptr, 10) : 1;
    for (long i = 0; i < count; ++i) {
        char name[24];
        std::snprintf(name, sizeof name, "%04ld", i);
        files += mode == "survey" ? FileElement(argv[2] + std::string(name))
                                  : FileElement(argv[2], argc == 4 ? argv[3] : "");
    }
    if (app.config.LoadFromString(Configuration(files).c_str()) != CONFIG_OK) {
        return 2;
    }
    // The end report goes to the benchmark's own server, so that it costs no name look-up.
    const std::string url = argv[2];
    const std::size_t host = url.find("//");
    LauncherOptions options;
    options.reportHost = url.substr(host + 2, url.find('/', host + 2) - host - 2);
    COstrelDlg window(app.config, app.downloadPath, std::move(options));
    window.overwriteQuestion = [] { return std::optional<int>(3); }; // always from the first byte
    if (!window.OnInitDialog()) {
        return 1;
    }
    // The start's own survey runs off the window thread; wait for it, then measure a survey of our own.
    QEventLoop starting;
    QTimer ready;
    ready.setInterval(5);
    QObject::connect(&ready, &QTimer::timeout, [&] {
        if (window.buttons[CT_FOLDER]->isEnabled() || window.IsEnded()) {
            starting.quit();
        }
    });
    ready.start();
    starting.exec();
    if (window.IsEnded()) {
        return 1;
    }
    return mode == "survey" ? Survey(window, count) : Run(window);
}
