#pragma once

#include "config/config_loader.h"
#include "net/http_downloader.h"
#include "res/embedded.h"
#include "ui/controls/picture.h"
#include "ui/dialog_keys.h"
#include "ui/ui_call_channel.h"
#include "workflow/disk_space.h"
#include "workflow/file_selection.h"
#include "workflow/progress_statistics.h"

#include <QDialog>
#include <QPoint>
#include <QTimer>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>

class CColorStatic;
class CProgressEx;
class CZelButton;
class QTreeWidget;
class QTreeWidgetItem;

// The program's only window: a caption-less skinned dialog that is at the same time the downloader of
// the files it fetches. It lays itself out from the configuration, surveys the sizes of the selected
// files, runs the download worker and finishes a run.
class COstrelDlg : public QDialog, public CHttpDownloader2 {
    Q_OBJECT
public:
    // `config` and `appDownloadPath` belong to the application object and outlive the window.
    COstrelDlg(CConfigLoader& config, std::string& appDownloadPath, QWidget* parent = nullptr);
    ~COstrelDlg() override;

    // Runs the start sequence and, when it succeeds, the modal loop. Returns 1 (Close) or 2.
    int DoModal();

    // The start sequence; false when it ended the window.
    bool OnInitDialog();
    // Whether the window has been ended, and with which result.
    bool IsEnded() const { return ended_; }
    int EndResult() const { return endResult_; }

    void SetButtonStates(bool execution, bool download, bool stop, bool folder);
    void InitSections();

    // Skin.
    bool AcquireSkin();
    bool UnzipFile(const std::string& archivePath);
    bool LoadBackgroundImage();
    bool LoadImageFile(int controlType);
    bool InitProgressControls();

    // File list.
    void InitFileList();
    void AddFileListItem(const std::string& fileUrl, std::size_t fileIndex);
    // A click at `position` (viewport coordinates) of the list; true when it hit a check box.
    bool OnNMClickFileList(const QPoint& position);

    // Size survey.
    bool GetContentSize(const std::string& fileUrl, std::uint64_t& size);
    bool GetTotalFilesSize(std::uint64_t& total);
    int InitTotalInfo();

    // Progress and statistics.
    int UpdateTotalReceived();
    // During a run, the totals again after the selection changed.
    void RefreshTotals();
    void ShowFilePercent(int percent);
    void ShowTotalPercent(int percent);
    virtual void ShowRemainingTime(std::uint32_t seconds, std::uint64_t totalReceived, std::uint64_t fileReceived,
                                   std::uint64_t expectedFileSize);
    virtual void ShowSpeed(double bytesPerMs);
    void ShowReceivedSizes(std::uint64_t total, std::uint64_t fileBytes);
    void ShowFileName(const std::string& fileUrl);
    void ShowFileSize(std::uint64_t size);
    void ShowCount(int count, int sectionType);
    void OnElapsedTimer();
    void OnDownloadEnd();

    // Download folder.
    void SetDownloadPath();
    void UpdateDownloadPathInfo();
    bool OnBnClickedBtnFolder();

    // Worker.
    static unsigned _DownloadThread(COstrelDlg* window);
    bool DownloadFile(const std::string& fileUrl);
    std::string MakeLocalPath(const std::string& fileUrl, bool toTempFolder) const;
    int AskOverwriteChoice(const std::string& localPath);
    static std::uint64_t GetLocalFileSize(const std::string& path);
    void EnsureDownloadFolder();

    // Completion.
    bool CheckDownloadedFiles();
    bool ExecuteDownloadedFiles(bool automatic);
    void SendEndReport();

    // Buttons and window events.
    void OnBnClickedBtnExecution();
    void OnBnClickedBtnDownload();
    void OnBnClickedBtnStop();
    void OnBnClickedBtnClose();
    void OnClose();
    void OnDestroy();

    // Downloader callbacks of the window.
    void SetStatus(const std::string& text) override;
    void SetStatusId(int stringId) override;
    bool PromptForCredentials(std::uint32_t* code) override;
    void OnContentLength(std::uint64_t length) override;
    void OnProgress(std::uint64_t transferred, std::uint32_t bytesRead, bool lengthKnown,
                    std::uint64_t expectedFileSize, void* context) override;
    void OnRangeIgnored() override;

    // Fields.
    int downloadFinished = 1;
    std::unique_ptr<std::thread> workerThread;
    ProgressStatistics stats;
    std::string downloadFolder;
    std::atomic<int> overwriteChoice{8};
    CPicture backgroundPicture;
    std::array<CZelButton*, 5> buttons{};
    std::array<CColorStatic*, ST_COUNT> sectionLabels{};
    CProgressEx* totalProgress = nullptr;
    CProgressEx* fileProgress = nullptr;
    std::uint32_t elapsedSeconds = 0;
    QTreeWidget* fileList = nullptr;

    // The check states of the file list, for the worker and the statistics.
    FileSelection selection;
    // The skin archive compiled into the program; replaceable before the start sequence.
    EmbeddedBytes embeddedSkin = EmbeddedSkin();
    // Asks whether an existing file is overwritten or continued: the answer, nothing when dismissed.
    // Replaceable; by default the overwrite-option dialog.
    std::function<std::optional<int>()> overwriteQuestion;
    // Asks for a download folder starting at the given one; nothing when cancelled. Replaceable.
    std::function<std::optional<std::string>(const std::string& start)> chooseFolder;
    // Free bytes for a folder; replaceable, so that the space checks can be tried at their bounds.
    std::function<std::uint64_t(const std::string& path)> freeDiskBytes = GetFreeDiskBytes;
    // Where the end report goes (host[:port]).
    std::string reportHost;
    // Pause between the attempts of the size survey, in milliseconds.
    unsigned long surveyRetryPauseMs = 1000;

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

public slots:
    void reject() override;

private:
    void CreateControls();
    void EndDialog(int result);
    void StopTransfer();
    void SetRowState(std::size_t fileIndex, const char* state);
    void SetLabel(int sectionType, const std::string& text);
    void ShowProgress(const ProgressDisplay& shown, std::uint64_t expectedFileSize);
    void ShowPercent(int sectionType, CProgressEx& bar, int percent);
    std::string SkinFolderPath() const;
    bool SkinImagePath(const std::string& name, bool fetch, const char* origin, int logLine, std::string& path);
    std::optional<int> AskOverwriteDialog();

    CConfigLoader& config_;
    std::string& appDownloadPath_;
    UiCallChannel ui_{this};
    DialogKeySwallower keys_{this};
    QTimer elapsedTimer_;
    bool ended_ = false;
    int endResult_ = 0;
    bool inModalLoop_ = false;
    std::optional<QPoint> dragOffset_;
};
