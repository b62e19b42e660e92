#pragma once

#include "config/config_loader.h"
#include "launcher/launcher.h"
#include "support/player_setting.h"
#include "support/recording_view.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>

// A launcher with a recording view, in a private home, temporary folder and log, its files served on
// loopback. The configuration is the embedded example with its files (and any other text) replaced.
class LauncherTest : public ::testing::Test, protected PlayerSetting {
protected:
    LauncherTest() = default;
    ~LauncherTest() override;

    // Loads `configuration` and makes the launcher with the rows its file list would have.
    CLauncher& Make(const std::string& configuration);
    // Makes it and waits for the start: the survey, the default folder, the Ready state.
    CLauncher& Open(const std::string& configuration);

    // As the view's thread: Download, then the end of the run (false when no run started).
    bool Run();
    // What the view shows, read safely.
    ButtonStates Buttons();
    std::string Label(int section);
    std::vector<std::string> RowStates();

    std::string Local(const std::string& name) const { return DownloadFolder() + "/" + name; }
    void WriteLocal(const std::string& name, const std::string& content) const;
    std::size_t CountRequests(const std::string& method, const std::string& target) const;
    // The Range headers of the GETs of `target`, in order.
    std::vector<std::string> Ranges(const std::string& target) const;

    CConfigLoader config;
    std::string appDownloadPath;
    RecordingView view;
    std::unique_ptr<CLauncher> launcher;
};
