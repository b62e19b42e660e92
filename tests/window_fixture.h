#pragma once

#include "config/config_loader.h"
#include "support/log_capture.h"
#include "support/message_recorder.h"
#include "support/scoped_env.h"
#include "support/served_folder.h"
#include "support/temp_dir.h"
#include "ui/ostrel_dlg.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>

// A main window in a private home, temporary folder and log, with its files served on loopback.
// The configuration is the embedded example with its files (and any other text) replaced.
class WindowTest : public ::testing::Test {
protected:
    WindowTest();
    ~WindowTest() override;

    // The example configuration whose <Files> element holds `fileElements`, after `edit`.
    std::string Configuration(const std::string& fileElements,
                              const std::function<void(std::string&)>& edit = nullptr) const;
    // `<File Url="<served url of name>" <attributes>/>`
    std::string File(const std::string& name, const std::string& attributes = "") const;

    // Loads `configuration` and makes the window (its start sequence not yet run).
    COstrelDlg& MakeWindow(const std::string& configuration);
    // Makes the window, runs the start sequence and waits for the sizes; fails the test when it ends
    // the window.
    COstrelDlg& OpenWindow(const std::string& configuration);

    // Handles window events until `condition` holds or ten seconds pass; false on time-out.
    static bool PumpUntil(const std::function<bool()>& condition, int timeoutMs = 10000);

    std::string DownloadFolder() const { return home.path() + "/Documents/AmbrelLauncher"; }

    TempDir home;
    ScopedEnv homeEnv{"HOME", home.path()};
    ScopedEnv configEnv{"XDG_CONFIG_HOME", home.File("config")};
    ScopedEnv tmpEnv{"TMPDIR", home.path()};
    LogCapture log;
    MessageRecorder messages;
    ServedFolder served;
    CConfigLoader config;
    std::string appDownloadPath;
    std::unique_ptr<COstrelDlg> window;

private:
    std::string startFolder_;
};
