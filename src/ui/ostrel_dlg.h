#pragma once

#include "config/config_loader.h"
#include "launcher/launcher.h"
#include "launcher/launcher_view.h"
#include "launcher/skin_folder.h"
#include "res/embedded.h"
#include "ui/controls/picture.h"
#include "ui/desktop_notification.h"
#include "ui/ui_call_channel.h"

#include <QDialog>
#include <QPoint>
#include <QTimer>
#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>

class CColorStatic;
class CProgressEx;
class CZelButton;
class QTreeWidget;
class QTreeWidgetItem;
class SkinFetch;

// The program's only window: a caption-less skinned dialog that shows the launcher. It lays itself
// out from the configuration and its skin, forwards the buttons and the list to the launcher, and
// carries out on its own thread what the launcher's threads hand over.
class COstrelDlg : public QDialog, public LauncherView {
    Q_OBJECT
public:
    // `config` and `appDownloadPath` belong to the application object and outlive the window.
    COstrelDlg(CConfigLoader& config, std::string& appDownloadPath, LauncherOptions options = {},
               QWidget* parent = nullptr);
    ~COstrelDlg() override;

    // Runs the start sequence and, when it succeeds, the modal loop. Returns 1 (Close) or 2.
    int DoModal();

    // The start sequence up to the size survey, which then runs off this thread; false when it ended
    // the window.
    bool OnInitDialog();
    // Whether the window has been ended, and with which result.
    bool IsEnded() const { return ended_; }
    int EndResult() const { return endResult_; }

    CLauncher& launcher() { return launcher_; }

    void InitSections();

    // Skin.
    bool AcquireSkin();
    bool UnzipFile(const std::string& archivePath);
    bool LoadBackgroundImage();
    bool LoadImageFile(int controlType);
    bool InitProgressControls();

    // File list.
    void InitFileList();
    void AddFileListItem(const std::string& fileUrl, bool checked);
    // A click at `position` (viewport coordinates) of the list; true when it hit a check box.
    bool OnNMClickFileList(const QPoint& position);

    // The view of the launcher.
    bool Call(std::function<void()> change) override;
    void SetLabel(int sectionType, const std::string& text) override;
    void SetBar(int controlType, int percent) override;
    void SetButtonStates(bool execution, bool download, bool stop, bool folder) override;
    void SetRowState(std::size_t fileIndex, const std::string& state) override;
    void SelectRow(std::size_t fileIndex) override;
    std::optional<int> AskOverwrite(const std::string& localPath) override;
    int ShowMessage(const MessageBoxRequest& message) override;
    std::optional<std::string> ChooseFolder(const std::string& start, std::uint64_t neededBytes) override;
    void FileFailed(std::size_t fileIndex, const std::string& reason) override;
    void RunEnded(RunOutcome outcome) override;
    void EndView(int result) override;

    // Controls.
    CPicture backgroundPicture;
    std::array<CZelButton*, 5> buttons{};
    std::array<CColorStatic*, ST_COUNT> sectionLabels{};
    CProgressEx* totalProgress = nullptr;
    CProgressEx* fileProgress = nullptr;
    QTreeWidget* fileList = nullptr;

    // The skin archive compiled into the program; replaceable before the start sequence.
    EmbeddedBytes embeddedSkin = EmbeddedSkin();
    // Asks whether an existing file is overwritten or continued: the answer, nothing when dismissed.
    // Replaceable; by default the overwrite-option dialog.
    std::function<std::optional<int>()> overwriteQuestion;
    // Asks for a download folder starting at the given one; nothing when cancelled. Replaceable; by
    // default the folder chooser.
    std::function<std::optional<std::string>(const std::string& start)> chooseFolder;
    // Tells a player looking elsewhere that a run is over. Replaceable; by default on the session bus.
    DesktopNotification notification;

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

public slots:
    void reject() override;

private:
    void CreateControls();
    // Names and descriptions for screen readers.
    void DescribeControls();
    void CentreOnScreen();
    // The skin part of the start sequence; false when it ended the window.
    bool LoadSkin();
    int RowOfFile(std::size_t fileIndex) const;
    std::string SkinFolderPath() const;
    bool SkinImagePath(const std::string& name, bool fetch, const char* origin, int logLine, std::string& path);
    // Logs that the skin image `name` could not be had and keeps its name and the skin's source for the
    // message that follows.
    void NoteMissingImage(const std::string& name, bool fetched, const char* origin, int logLine);

    // How the run stands, beyond the launcher's own texts (ostrel_dlg_run_status.cpp).
    void OnRunningChanged(bool running);
    void ShowProgressInTitle(int percent);
    void OnRowPicked(QTreeWidgetItem* item);
    void ShowStateField();

    CConfigLoader& config_;
    UiCallChannel ui_{this};
    QTimer elapsedTimer_;
    bool ended_ = false;
    int endResult_ = 0;
    bool inModalLoop_ = false;
    std::optional<QPoint> dragOffset_;
    bool running_ = false;
    QString idleTitle_;
    // What the launcher last put in the state field, and why each file of the last run failed.
    std::string stateText_;
    std::map<std::size_t, std::string> failures_;
    // The file of the row the player picked since the run, and whether the run just ended incomplete.
    std::optional<std::size_t> pickedFile_;
    bool incompleteShown_ = false;
    bool launcherSelects_ = false;
    // The folder the skin was extracted into: held while the window lives, removed with it.
    std::unique_ptr<SkinFolder> skinFolder_;
    // The skin's downloads, while the start sequence loads it.
    std::unique_ptr<SkinFetch> skinFetch_;
    // The last skin image that could not be had, with where the skin came from: "name (source)".
    std::string missingImage_;
    // Last: made after the controls it shows on, stopped before them.
    CLauncher launcher_;
};
