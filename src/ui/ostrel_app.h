#pragma once

#include "app/config_sources.h"
#include "config/config_loader.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>
#include <string>

// The one application object: obtains the configuration and runs the main window.
class COstrelApp : public QApplication {
public:
    COstrelApp(int& argc, char** argv);
    ~COstrelApp() override;

    CConfigLoader config;
    std::string downloadPath;
    ConfigSources sources = DefaultConfigSources();
    // Owner of message boxes and dialogs opened without a parent; the main window sets it while it exists.
    QPointer<QWidget> mainWindow;

    // Runs the program; always false, as the program ends when it returns.
    bool InitInstance();
    int LoadConfiguration();

    // 0 when the configuration loaded, 1 when start-up ended on it.
    int ExitStatus() const { return exitStatus_; }

    static COstrelApp* Instance();

private:
    int exitStatus_ = 0;
};

// The application's main window, or none (no application object, or no main window yet).
QWidget* ProgramMainWindow();
