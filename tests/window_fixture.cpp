#include "window_fixture.h"

#include "ui/controls/zel_button.h"

#include <QCoreApplication>
#include <chrono>
#include <climits>
#include <gtest/gtest.h>
#include <unistd.h>
#include <utility>

WindowTest::WindowTest() {
    char cwd[PATH_MAX];
    startFolder_ = ::getcwd(cwd, sizeof cwd) != nullptr ? cwd : "/";
}

WindowTest::~WindowTest() {
    window.reset();
    // The skin folder became the current folder; later tests start where this one did.
    if (::chdir(startFolder_.c_str()) != 0) {
        ADD_FAILURE() << "cannot return to " << startFolder_;
    }
}

COstrelDlg& WindowTest::MakeWindow(const std::string& configuration) {
    window.reset();
    config = CConfigLoader();
    EXPECT_EQ(config.LoadFromString(configuration.c_str()), CONFIG_OK);
    LauncherOptions options;
    options.surveyRetryPauseMs = 100;
    options.reportHost = "127.0.0.1:" + std::to_string(served.server().port());
    window = std::make_unique<COstrelDlg>(config, appDownloadPath, std::move(options));
    return *window;
}

COstrelDlg& WindowTest::OpenWindow(const std::string& configuration) {
    COstrelDlg& dlg = MakeWindow(configuration);
    EXPECT_TRUE(dlg.OnInitDialog());
    // Ready: the Folder button comes on only once the sizes are known.
    EXPECT_TRUE(PumpUntil([&] { return dlg.buttons[CT_FOLDER]->isEnabled() || dlg.IsEnded(); }));
    EXPECT_FALSE(dlg.IsEnded());
    return dlg;
}

bool WindowTest::PumpUntil(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}
