#pragma once

#include "config/config_loader.h"
#include "launcher/launcher.h"
#include "support/log_capture.h"
#include "support/recording_view.h"
#include "support/scoped_env.h"
#include "support/served_folder.h"
#include "support/temp_dir.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>

// A launcher with a recording view, in a private home, temporary folder and log, its files served on
// loopback. The configuration is the embedded example with its files (and any other text) replaced.
class LauncherTest : public ::testing::Test {
protected:
    LauncherTest() = default;
    ~LauncherTest() override;

    // The example configuration whose <Files> element holds `fileElements`, after `edit`.
    std::string Configuration(const std::string& fileElements,
                              const std::function<void(std::string&)>& edit = nullptr) const;
    // `<File Url="<served url of name>" <attributes>/>`
    std::string File(const std::string& name, const std::string& attributes = "") const;

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

    std::string DownloadFolder() const { return home.path() + "/Documents/AmbrelLauncher"; }
    std::string Local(const std::string& name) const { return DownloadFolder() + "/" + name; }
    void WriteLocal(const std::string& name, const std::string& content) const;
    std::size_t CountRequests(const std::string& method, const std::string& target) const;
    // The Range headers of the GETs of `target`, in order.
    std::vector<std::string> Ranges(const std::string& target) const;

    TempDir home;
    ScopedEnv homeEnv{"HOME", home.path()};
    ScopedEnv configEnv{"XDG_CONFIG_HOME", home.File("config")};
    ScopedEnv tmpEnv{"TMPDIR", home.path()};
    LogCapture log;
    ServedFolder served;
    CConfigLoader config;
    std::string appDownloadPath;
    RecordingView view;
    std::unique_ptr<CLauncher> launcher;
};
