#include "ui/ostrel_app.h"

#include "base/log.h"
#include "build_options.h"
#include "res/string_table.h"
#include "ui/app_icon.h"
#include "ui/fonts.h"
#include "ui/ostrel_dlg.h"
#include "ui/qt_message_box.h"

namespace {

COstrelApp* g_instance = nullptr;

} // namespace

COstrelApp::COstrelApp(int& argc, char** argv) : QApplication(argc, argv) {
    g_instance = this;
    InstallQtMessageBox();
    setWindowIcon(ApplicationIcon());
    setDesktopFileName(QStringLiteral(OSTREL_APP_ID));
    // Qt adds the display name to window titles that do not end in it: it is the main window's own.
    setApplicationDisplayName(QString::fromStdString(LoadStringId(IDS_GAME_NAME)));
    RegisterBundledFonts(applicationDirPath());
    InstallKoreanFontSubstitutes();
}

COstrelApp::~COstrelApp() {
    g_instance = nullptr;
}

COstrelApp* COstrelApp::Instance() {
    return g_instance;
}

QWidget* ProgramMainWindow() {
    return g_instance != nullptr ? g_instance->mainWindow.data() : nullptr;
}

int COstrelApp::LoadConfiguration() {
    return LoadConfigurationFromSources(config, sources);
}

bool COstrelApp::InitInstance() {
    WriteLog("[INFO][%s][%d] Signature check of the program file skipped: no code-signing service here.",
             "COstrelApp::InitInstance", __LINE__);
    WriteLog("[INFO][%s][%d] Window platform: [%s].", "COstrelApp::InitInstance", __LINE__,
             platformName().toUtf8().constData());
    const int result = LoadConfiguration();
    if (result != CONFIG_OK) {
        exitStatus_ = 1;
        ShowStartupMessage(result, config);
        return false;
    }
    COstrelDlg window(config, downloadPath);
    mainWindow = &window;
    window.DoModal();
    mainWindow = nullptr;
    return false;
}
