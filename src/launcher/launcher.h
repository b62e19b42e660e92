#pragma once

#include "base/settings_file.h"
#include "config/config_loader.h"
#include "launcher/cancel_signal.h"
#include "launcher/disk_space.h"
#include "launcher/file_selection.h"
#include "launcher/launcher_options.h"
#include "launcher/launcher_view.h"
#include "launcher/progress_statistics.h"
#include "launcher/run_downloader.h"
#include "launcher/task_queue.h"
#include "launcher/verified_files.h"
#include "net/segmented_download.h"
#include "net/sha256_digest.h"
#include "net/transfer_failure.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// Where a file can be fetched from: its URL, then its mirrors in order.
std::vector<std::string> SourcesOf(const FileInfo& entry);

// The download workflow of the program, whatever shows it: the file selection, the size survey, the
// worker and its downloader, the overwrite rules, the statistics, the completion (size check, end
// report, installer) and the download folder. It reaches its view only through LauncherView.
//
// Threads: the view's thread calls the public operations of the buttons and the list; the survey and
// the manual start of the installer run on the launcher's task thread, a run on its worker thread.
// The launcher's state (which buttons, `downloadFinished`) changes on the view's thread only, through
// the view's hand-over, so it needs no lock of its own.
class CLauncher {
public:
    // `config` and `appDownloadPath` belong to the application and outlive the launcher.
    CLauncher(CConfigLoader& config, std::string& appDownloadPath, LauncherView& view, LauncherOptions options = {});
    ~CLauncher();
    CLauncher(const CLauncher&) = delete;
    CLauncher& operator=(const CLauncher&) = delete;

    // The rows of the file list: one per file with a URL, all ticked or all not. Without a list every
    // file is selected. Before Start.
    void InitSelection(bool hasList, bool checked);

    // The start: the size survey off the view's thread, then the default folder and the Ready state; a
    // failed survey ends the view. View thread.
    void Start();
    // The same, waiting for it, with `folder` as the download folder (empty: the default): true when
    // ready. For views whose thread may wait (the terminal).
    bool Prepare(const std::string& folder = {});

    // What the player does; view thread.
    void OnBnClickedBtnExecution();
    // True when a run started; pressed during the start survey, the run starts when it ends.
    bool OnBnClickedBtnDownload();
    void OnBnClickedBtnStop();
    void OnBnClickedBtnClose();
    bool OnBnClickedBtnFolder();
    // A close request from the system (not the Close button).
    void OnClose();
    // A row was ticked or unticked.
    void OnRowChecked(std::size_t row, bool checked);
    // Asks the sizes of the selected files again, off the view's thread (a click on a check box).
    void RequestSurvey();
    // The view's one-second tick.
    void OnElapsedTimer();
    // The speed limit in bytes per second (0: none); it applies at once, also to a running transfer.
    // Any thread.
    void SetSpeedLimit(std::uint64_t bytesPerSecond);
    std::uint64_t SpeedLimit() const { return speedLimit_.load(); }
    // The player's choice of a speed limit: set, and kept for the next start. View thread.
    void ChooseSpeedLimit(std::uint64_t bytesPerSecond);

    // Breaks what runs now (a transfer, a survey, a wait) and lets nothing new start. Any thread.
    void Interrupt();
    // Interrupts and waits for the launcher's threads; the view must already have stopped taking
    // changes. Called by the destructor at the latest.
    void Shutdown();

    // The bytes the selected files still need in `folder`: each file's size less what will be continued.
    std::uint64_t MissingBytes(const std::string& folder) const;
    // Whether every selected file is on disk whole: its size, and its digest where one is configured.
    bool CheckDownloadedFiles();
    // The size survey of the selected files: 1 when it succeeded and is shown, 0 when it failed (told,
    // and the view ended) or a shutdown broke it. Task thread, or a view thread that may wait.
    int InitTotalInfo();

    // The file selection of the list, readable from every thread.
    FileSelection selection;
    ProgressStatistics stats;
    // The run's own downloader: its abort flag tells whether a stop was asked for; its transfers have
    // downloaders of their own.
    const CHttpDownloader2& downloader() const { return downloader_; }
    std::string downloadFolder;
    // The remembered answer of the overwrite question (8: none yet), at first the options' one.
    std::atomic<int> overwriteChoice;
    // 1 while no run is in progress (view thread).
    int downloadFinished = 1;
    std::uint32_t elapsedSeconds = 0;

    // Free bytes for a folder; replaceable, so that the space checks can be tried at their bounds.
    std::function<std::uint64_t(const std::string& path)> freeDiskBytes = GetFreeDiskBytes;

private:
    enum class State { Starting, Ready, Running, Stopped, Incomplete, Completed, Ended };

    // Size survey (task thread, or a view thread that may wait; the requests on threads of their own).
    // The sources whose size stayed unknown, with their causes.
    using SurveyFailures = std::vector<std::pair<std::string, std::string>>;
    // The size of one URL, asked with `scratchFile` as the transfer's file, which no other request uses;
    // `rangeValidator` the version to ask ranges of, when the server answers them.
    bool GetContentSize(const std::string& fileUrl, const std::string& scratchFile, std::uint64_t& size,
                        std::optional<std::string>& rangeValidator, SurveyFailures& failures);
    // The size of a file from its sources in turn; nothing when none told it.
    std::optional<std::uint64_t> SurveyFile(std::size_t fileIndex, const std::string& scratchFile,
                                            SurveyFailures& failures);
    bool GetTotalFilesSize(std::uint64_t& total);

    // Download folder (view thread).
    void SetDownloadPath();
    // Makes `folder` the download folder, as an accepted choice of the folder chooser does.
    void UseDownloadFolder(const std::string& folder);
    void UpdateDownloadPathInfo();

    // One transfer of a run: its own downloader on a thread of its own, up to the configured connections
    // at the same time.
    struct Transfer {
        explicit Transfer(RunDownloaderHooks hooks) : downloader(std::move(hooks)) {}
        CRunDownloader downloader;
        // The file the player chose to overwrite, as it was: while it is so on disk, nothing of it is
        // continued (the transfer replaces it only once a server answers).
        std::optional<FileStamp> overwritten;
        std::thread thread;
        bool busy = false; // transfersLock_
    };

    // Worker.
    static unsigned _DownloadThread(CLauncher* launcher);
    RunDownloaderHooks MakeDownloaderHooks();
    // Waits until a transfer is free (its last thread joined) and returns it.
    Transfer& FreeTransfer();
    // Waits until no transfer writes to `path`: two files of one name are never written at once, and the
    // later one finds what the earlier one left.
    void WaitForPathToSettle(const std::string& path);
    // Waits until every transfer of the run has ended.
    void JoinTransfers();
    // Runs the transfer of file `k` on `t`'s thread; its end may show the next file in flight.
    void StartTransfer(std::size_t k, Transfer& t);
    void EndTransfer(std::size_t k, Transfer& t);
    // The file fields show file `k`: the one that started earliest of those still in flight.
    void ShowFile(std::size_t k);
    // The file percentage, its bar and the received size of file `k` as they stand.
    void ShowFileProgress(std::size_t k);
    // Each transfer in flight gets an equal share of the speed limit.
    void ShareSpeedLimit();
    std::string MakeLocalPath(const std::string& fileUrl) const;
    int AskOverwriteChoice(const std::string& localPath);
    void EnsureDownloadFolder();

    // Progress and statistics (worker thread).
    void OnProgress(std::uint64_t transferred, std::uint32_t bytesRead, bool lengthKnown, FileInfo* entry);
    void OnRangeIgnored(FileInfo* entry);
    int UpdateTotalReceived();
    // During a run, the totals again after the selection changed.
    void RefreshTotals();
    void ShowStatus(const std::string& text);
    void OnDownloadEnd();

    // Completion.
    // Starts the installer; true when the launcher is to close after it. `refusedStart` (when given) is
    // set when its bytes no longer matched its Sha256 right before its start.
    bool ExecuteDownloadedFiles(bool automatic, bool* refusedStart = nullptr);
    void SendEndReport();

    // View thread.
    void ApplyButtonStates();
    void BecomeReady(const std::string& folder);
    void EnterState(State state);
    void SetBusy(bool busy);
    void StopTransfer();
    void EndView(int result);
    void SetLabel(int sectionType, const std::string& text);
    void ShowPercent(int sectionType, int controlType, int percent);
    void ShowProgress(const ProgressDisplay& shown);
    void ShowCount(int count, int sectionType);
    int ShowMessage(int textId, int titleId, MessageIcon icon, MessageButtons buttons = MessageButtons::Ok);
    // Any thread: runs `change` on the view's thread; false when the view is gone.
    bool OnView(std::function<void()> change);

    // Launcher threads.
    void RunSurvey();
    void RunExecution();
    void SetRowState(std::size_t fileIndex, const std::string& state);
    // Everything of a file before its transfer, on the worker thread in list order (the overwrite question,
    // a file already complete); true when it is to be transferred with `t`.
    bool PrepareFile(std::size_t fileIndex, int started, Transfer& t);
    // Tells the view why the file failed (`reason`, in plain words), then turns its row "실패".
    void MarkFailed(std::size_t fileIndex, const std::string& reason);
    // Moves a file larger than the server's aside as NAME.previous, and tells the player; nothing when it
    // is, else why the file fails.
    std::optional<std::string> SetAsideLarger(std::size_t fileIndex);
    // The transfer of one file from its sources in turn, its size and the check of its digest; nothing
    // when it arrived whole, else why not.
    std::optional<std::string> TransferFile(std::size_t fileIndex, Transfer& t);
    // Why a transfer failed: in plain words, and whether the fault is this computer's, which no retry
    // and no other server mends.
    struct Failure {
        std::string reason;
        bool local = false;
    };
    // The transfer from the downloader's URL with the configured retries; nothing when it succeeded.
    std::optional<Failure> TransferFrom(std::size_t fileIndex, Transfer& t);
    // What one try of a transfer ended with: a failure that retries may mend, or `final` one.
    struct Attempted {
        TransferFailure failure;
        std::optional<Failure> final;
    };
    // Tries `attempt` again after the pauses of the configured retries while it fails on a passing cause;
    // nothing once it succeeds.
    std::optional<Failure> WithRetries(Transfer& t, const std::function<std::optional<Attempted>()>& attempt);
    // A big file from a server that answers ranges of its version is fetched over several connections
    // into NAME.part, which becomes the file once whole. False when the file is not to be (the transfer
    // then takes one connection); else `failure` and `digest` are the transfer's end.
    bool TransferInSegments(std::size_t fileIndex, Transfer& t, std::optional<Failure>& failure,
                            std::optional<Sha256Bytes>& digest);
    std::optional<SegmentedDownload::Plan> SegmentPlanFor(std::size_t fileIndex, const Transfer& t);
    // Removes the part a transfer in pieces left, once the file arrived another way.
    void DropPart(std::size_t fileIndex);
    // Makes the whole part file the file, renamed over it.
    std::optional<Failure> CompleteSegments(std::size_t fileIndex, const SegmentedDownload::Plan& plan,
                                            bool fetchedSecure);
    // Sets up a transfer of a file from `url`, its first attempt or a retry: what of the file on disk it
    // continues, and whether the server is asked for the rest of the part's own version.
    void ContinueOn(std::size_t fileIndex, const std::string& url, Transfer& t);
    // Waits before a retry; true when a stop or a shutdown ended the wait.
    bool WaitBeforeRetry(std::chrono::seconds pause);
    // A stop of the run or a shutdown was asked for. Any launcher thread.
    bool Stopping();
    // A file's digest against its configured one: a match is remembered with the file's stamp; a file
    // that differs is set aside as NAME.corrupt. True for a file without a configured digest; on a
    // mismatch `whyNot` (when given) gets the reason.
    bool AcceptDigest(std::size_t fileIndex, const Sha256Bytes& digest, const char* origin,
                      std::string* whyNot = nullptr);
    // The same for the file on disk, read only when it is not the one already checked. A check that
    // gives way to a stop is false and leaves `whyNot` empty: neither a match nor a mismatch.
    bool VerifyOnDisk(std::size_t fileIndex, const char* origin, std::string* whyNot = nullptr);
    // The downloader's transfer of a file (true when it succeeded), noting whether all of the file on disk
    // came over verified HTTPS from its own servers: this transfer's bytes, and what it continues.
    bool FetchNotingSecurity(std::size_t fileIndex, CRunDownloader& d);
    // Something vouches for the file open at `fd`, to be started: its bytes match the configured digest,
    // or without one it is the version that arrived whole over verified HTTPS. False too when a stop
    // broke the check off.
    bool IsVouchedFor(std::size_t fileIndex, int fd);
    // Tells the view, the player and the log why a file is not started; one whose bytes no longer match
    // its digest is set aside as NAME.corrupt.
    void RefuseUnverified(std::size_t fileIndex);
    void Complete();

    CConfigLoader& config_;
    std::string& appDownloadPath_;
    LauncherView& view_;
    const LauncherOptions options_;
    CRunDownloader downloader_;
    CancelSignal cancel_;
    TaskQueue tasks_;
    std::thread worker_;
    std::atomic<bool> surveyQueued_{false};
    // The transfers of the survey under way, so that a shutdown can break them.
    std::mutex surveyLock_;
    std::vector<CHttpDownloader2*> surveyTransfers_;
    // Of each file, the version whose ranges its main server answers, as the last survey found it.
    std::mutex rangeValidatorsLock_;
    std::vector<std::optional<std::string>> rangeValidators_;
    // A retry's pause, which a stop ends at once.
    std::mutex pauseLock_;
    std::condition_variable pauseWake_;
    VerifiedFiles verified_;
    // Made at construction and never resized, so that a stop may walk them from any thread.
    std::vector<std::unique_ptr<Transfer>> transfers_;
    std::mutex transfersLock_;
    std::condition_variable transferEnded_;
    // The files in flight, in the order they started (transfersLock_).
    std::vector<std::size_t> inFlight_;
    // The file the walk reached last (transfersLock_).
    std::size_t lastWalked_ = 0;
    // The file of the file fields; reads of the others move only the totals.
    std::atomic<FileInfo*> shownFile_{nullptr};
    // Decides and shows the file of the file fields, one decision at a time.
    std::mutex showLock_;
    // Keeps the received total the sum of the files' counts while several transfers add to both.
    std::mutex totalsLock_;
    // The survey's sources of the file whose size it could not learn, with their causes. Survey thread.
    SurveyFailures surveyFailures_;

    std::atomic<std::uint64_t> speedLimit_{0};
    // The player's choices kept from earlier starts.
    SettingsFile settings_;
    std::optional<std::string> savedFolder_;
    // The folder came from the Folder button and is not kept yet.
    bool folderChosen_ = false;

    // View thread.
    State state_ = State::Starting;
    int busy_ = 0;
    bool timing_ = false;
    // Download was pressed during the start survey.
    bool runRequested_ = false;
};
