#include "launcher/launcher.h"

#include "base/log.h"
#include "launcher/url_names.h"
#include "res/string_table.h"

#include <algorithm>
#include <charconv>
#include <system_error>

namespace {

constexpr int IDS_WAITING = 108;
constexpr int IDS_NOT_ENOUGH_SPACE = 140;
constexpr int IDS_ASK_STOP = 143;
// Our own: shown while the sizes are asked for at start.
constexpr const char* kSurveying = "파일 크기 확인 중...";
constexpr const char* kSpeedLimitSetting = "SpeedLimit";
constexpr const char* kFolderSetting = "DownloadFolder";

} // namespace

std::vector<std::string> SourcesOf(const FileInfo& entry) {
    std::vector<std::string> sources{entry.url};
    sources.insert(sources.end(), entry.mirrors.begin(), entry.mirrors.end());
    return sources;
}

CLauncher::CLauncher(CConfigLoader& config, std::string& appDownloadPath, LauncherView& view, LauncherOptions options)
    : overwriteChoice(options.overwriteChoice), config_(config), appDownloadPath_(appDownloadPath), view_(view),
      options_(std::move(options)), downloader_(MakeDownloaderHooks()), rangeValidators_(config.files.size()),
      verified_(config.files.size()) {
    for (int i = 0; i < std::clamp(config.connections, 1, CConfigLoader::kMaxConnections); ++i) {
        transfers_.push_back(std::make_unique<Transfer>(MakeDownloaderHooks()));
    }
    // The player's choices win over the configuration's default.
    const SettingEntries saved = settings_.LoadEntries();
    const auto find = [&](const char* setting) -> std::optional<std::string> {
        const auto it = saved.find(SettingKey(config.name, setting));
        return it == saved.end() ? std::nullopt : std::optional<std::string>(it->second);
    };
    std::uint64_t limit = static_cast<std::uint64_t>(std::max(config.maxBytesPerSecond, 0));
    if (const std::optional<std::string> chosen = find(kSpeedLimitSetting)) {
        std::uint64_t value = 0;
        const char* end = chosen->data() + chosen->size();
        if (const auto parsed = std::from_chars(chosen->data(), end, value);
            parsed.ec == std::errc() && parsed.ptr == end) {
            limit = value;
        }
    }
    SetSpeedLimit(options_.speedLimit.value_or(limit));
    savedFolder_ = find(kFolderSetting);
}

RunDownloaderHooks CLauncher::MakeDownloaderHooks() {
    return {[this](const std::string& text) { ShowStatus(text); },
            [this](std::uint64_t transferred, std::uint32_t bytesRead, bool lengthKnown, FileInfo* entry) {
                OnProgress(transferred, bytesRead, lengthKnown, entry);
            },
            [this](FileInfo* entry) { OnRangeIgnored(entry); }};
}

CLauncher::~CLauncher() {
    Shutdown();
}

void CLauncher::InitSelection(bool hasList, bool checked) {
    std::vector<std::size_t> fileOfRow;
    if (hasList) {
        // A file without a URL gets no row, and rows keep the position of their file.
        for (std::size_t i = 0; i < config_.files.size(); ++i) {
            if (!config_.files[i]->url.empty()) {
                fileOfRow.push_back(i);
            }
        }
    }
    selection.Reset(std::move(fileOfRow), config_.files.size(), checked);
}

bool CLauncher::OnView(std::function<void()> change) {
    return view_.Call(std::move(change));
}

void CLauncher::SetLabel(int sectionType, const std::string& text) {
    view_.SetLabel(sectionType, text);
}

void CLauncher::ShowStatus(const std::string& text) {
    OnView([this, text] { SetLabel(ST_TRANS_STATE, text); });
}

int CLauncher::ShowMessage(int textId, int titleId, MessageIcon icon, MessageButtons buttons) {
    return view_.ShowMessage({nullptr, LoadStringId(textId), LoadStringId(titleId), icon, buttons});
}

void CLauncher::EndView(int result) {
    // Whatever still runs (a completion on its way to the installer) starts nothing more.
    Interrupt();
    state_ = State::Ended;
    view_.EndView(result);
}

// States and buttons.

void CLauncher::EnterState(State state) {
    state_ = state;
    ApplyButtonStates();
}

void CLauncher::SetBusy(bool busy) {
    busy_ += busy ? 1 : -1;
    ApplyButtonStates();
}

void CLauncher::ApplyButtonStates() {
    bool execution = false;
    bool download = false;
    bool stop = false;
    bool folder = false;
    switch (state_) {
    case State::Ready:
    case State::Stopped:
    case State::Incomplete:
        download = folder = true;
        break;
    case State::Running:
        stop = true;
        break;
    case State::Completed:
        execution = folder = true;
        break;
    case State::Starting:
        download = true; // pressed now, the run starts as soon as the sizes are known
        break;
    case State::Ended:
        break;
    }
    if (busy_ > 0) {
        // A survey, a completion or a started installer is under way: nothing may start a second one.
        execution = folder = false;
        download = download && state_ == State::Starting;
    }
    view_.SetButtonStates(execution, download, stop, folder);
}

// The start.

void CLauncher::Start() {
    EnterState(State::Starting);
    SetBusy(true);
    SetLabel(ST_TRANS_STATE, kSurveying);
    // The view shows during the survey: no placeholder texts until the sizes are known.
    SetLabel(ST_FILE_SIZE, "");
    SetLabel(ST_TOTAL_SIZE, "");
    const bool queued = tasks_.Push([this] {
        if (InitTotalInfo() != 0) {
            OnView([this] { BecomeReady({}); });
        }
    });
    if (!queued) {
        WriteLog("[ERROR][%s][%d] Failed to start the size survey.", "COstrelDlg::OnInitDialog", __LINE__);
        EndView(IDCANCEL);
    }
}

bool CLauncher::Prepare(const std::string& folder) {
    OnView([this] {
        EnterState(State::Starting);
        SetBusy(true);
        SetLabel(ST_TRANS_STATE, kSurveying);
    });
    return InitTotalInfo() != 0 && OnView([this, &folder] { BecomeReady(folder); });
}

void CLauncher::BecomeReady(const std::string& folder) {
    if (folder.empty()) {
        SetDownloadPath();
    } else {
        UseDownloadFolder(folder);
    }
    SetLabel(ST_TRANS_STATE, LoadStringId(IDS_WAITING));
    // The start's survey is over; one that a click queued meanwhile still counts until it ends.
    --busy_;
    EnterState(State::Ready);
    if (runRequested_) {
        runRequested_ = false;
        OnBnClickedBtnDownload();
    }
}

void CLauncher::OnRowChecked(std::size_t row, bool checked) {
    if (row >= selection.RowCount()) {
        return;
    }
    selection.SetRowChecked(row, checked);
    RefreshTotals();
}

void CLauncher::RequestSurvey() {
    if (surveyQueued_.exchange(true)) {
        return; // the survey still to come counts this change too
    }
    SetBusy(true);
    if (!tasks_.Push([this] { RunSurvey(); })) {
        surveyQueued_ = false;
        SetBusy(false);
    }
}

void CLauncher::RunSurvey() {
    surveyQueued_ = false;
    if (InitTotalInfo() != 0) {
        OnView([this] { SetBusy(false); });
    }
}

// The buttons.

void CLauncher::OnBnClickedBtnExecution() {
    SetBusy(true);
    if (!tasks_.Push([this] { RunExecution(); })) {
        SetBusy(false);
    }
}

void CLauncher::RunExecution() {
    if (CheckDownloadedFiles()) {
        ExecuteDownloadedFiles(false);
    }
    OnView([this] { SetBusy(false); });
}

bool CLauncher::OnBnClickedBtnDownload() {
    if (state_ == State::Starting) {
        runRequested_ = true;
        return false;
    }
    if (worker_.joinable()) {
        // The end of that run enabled this button again, so its worker has finished its walk.
        worker_.join();
    }
    if (freeDiskBytes(downloadFolder) < MissingBytes(downloadFolder)) {
        ShowMessage(IDS_NOT_ENOUGH_SPACE, IDS_TITLE_WARNING, MessageIcon::Warning);
        return false;
    }
    EnterState(State::Running);
    timing_ = true;
    try {
        worker_ = std::thread(&CLauncher::_DownloadThread, this);
    } catch (const std::system_error&) {
        WriteLog("[ERROR][%s][%d] Failed to start download thread.", "COstrelDlg::OnBnClickedBtnDownload", 52);
        // Nothing runs: back to the state before the click.
        timing_ = false;
        EnterState(State::Ready);
        return false;
    }
    downloadFinished = 0;
    if (folderChosen_ && options_.keepChoices) {
        // A run started in the chosen folder: the next start finds its files there.
        folderChosen_ = !settings_.SetValue(SettingKey(config_.name, kFolderSetting), downloadFolder);
    }
    return true;
}

void CLauncher::StopTransfer() {
    // The run's flag first: a transfer that starts after it looks at it and ends at once.
    downloader_.abortFlag.exchange(1);
    downloader_.CloseHandles();
    for (const std::unique_ptr<Transfer>& t : transfers_) {
        t->downloader.abortFlag.exchange(1);
        t->downloader.CloseHandles();
    }
    std::lock_guard lock(pauseLock_);
    pauseWake_.notify_all();
}

void CLauncher::OnBnClickedBtnStop() {
    if (downloadFinished == 1) {
        return;
    }
    if (ShowMessage(IDS_ASK_STOP, IDS_TITLE_NOTICE, MessageIcon::Question, MessageButtons::YesNo) != IDYES ||
        downloadFinished == 1) { // the run may have ended while the question was open
        return;
    }
    StopTransfer();
    stats.Reset();
}

void CLauncher::OnBnClickedBtnClose() {
    if (downloadFinished == 1) {
        EndView(IDOK);
        return;
    }
    if (ShowMessage(IDS_ASK_STOP, IDS_TITLE_NOTICE, MessageIcon::Question, MessageButtons::YesNo) != IDYES) {
        return;
    }
    if (downloadFinished == 0) {
        StopTransfer();
    }
    EndView(IDOK);
}

void CLauncher::OnClose() {
    if (downloadFinished == 1) {
        EndView(IDCANCEL);
        return;
    }
    // A close request during a run stops it; the end of the run shows the Stopped state.
    StopTransfer();
}

void CLauncher::SetSpeedLimit(std::uint64_t bytesPerSecond) {
    speedLimit_.store(bytesPerSecond);
    ShareSpeedLimit();
}

void CLauncher::ShareSpeedLimit() {
    std::lock_guard lock(transfersLock_);
    const auto busy = std::count_if(transfers_.begin(), transfers_.end(), [](const auto& t) { return t->busy; });
    const double share =
        static_cast<double>(speedLimit_.load()) / 1000.0 / static_cast<double>(std::max<long>(busy, 1));
    for (const std::unique_ptr<Transfer>& t : transfers_) {
        t->downloader.maxBytesPerMs = share;
    }
}

void CLauncher::ChooseSpeedLimit(std::uint64_t bytesPerSecond) {
    SetSpeedLimit(bytesPerSecond);
    if (options_.keepChoices) {
        settings_.SetValue(SettingKey(config_.name, kSpeedLimitSetting), std::to_string(bytesPerSecond));
    }
}

void CLauncher::Interrupt() {
    cancel_.Set();
    StopTransfer(); // after the signal: a retry's pause looks at both
    std::lock_guard lock(surveyLock_);
    for (CHttpDownloader2* transfer : surveyTransfers_) {
        transfer->abortFlag.exchange(1);
        transfer->CloseHandles();
    }
}

void CLauncher::Shutdown() {
    Interrupt();
    tasks_.Stop();
    if (worker_.joinable()) {
        worker_.join();
    }
}
