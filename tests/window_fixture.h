#pragma once

#include "config/config_loader.h"
#include "support/message_recorder.h"
#include "support/player_setting.h"
#include "ui/ostrel_dlg.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>

// A main window in a private home, temporary folder and log, with its files served on loopback.
// The configuration is the embedded example with its files (and any other text) replaced.
class WindowTest : public ::testing::Test, protected PlayerSetting {
protected:
    WindowTest();
    ~WindowTest() override;

    // Loads `configuration` and makes the window (its start sequence not yet run).
    COstrelDlg& MakeWindow(const std::string& configuration);
    // Makes the window, runs the start sequence and waits for the sizes; fails the test when it ends
    // the window.
    COstrelDlg& OpenWindow(const std::string& configuration);

    // Handles window events until `condition` holds or ten seconds pass; false on time-out.
    static bool PumpUntil(const std::function<bool()>& condition, int timeoutMs = 10000);

    MessageRecorder messages;
    CConfigLoader config;
    std::string appDownloadPath;
    std::unique_ptr<COstrelDlg> window;

private:
    std::string startFolder_;
};
