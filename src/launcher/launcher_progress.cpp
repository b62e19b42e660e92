#include "base/log.h"
#include "base/tick_count.h"
#include "launcher/format_text.h"
#include "launcher/launcher.h"
#include "launcher/local_files.h"
#include "res/string_table.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int IDS_STOPPED_MESSAGE = 144;
constexpr int IDS_STOPPED = 145;
constexpr int IDS_COMPLETED = 146;
constexpr int IDS_INCOMPLETE = 153;
// Our own: the state after a run in which some file did not arrive whole.
constexpr const char* kIncompleteState = "다운로드 미완료";

// What of the selected files is on disk after a run.
struct Arrived {
    std::uint64_t lastBytes = 0; // of the last selected file, the one a run ends with
    std::uint64_t lastSize = 0;
    int files = 0; // of their announced size
};

// Each selected file's count of present bytes becomes what is on disk, up to its announced size: a
// transfer that failed may have counted bytes that never reached the disk.
Arrived TakeStockOfArrived(const std::vector<std::unique_ptr<FileInfo>>& files, const FileSelection& selection) {
    Arrived arrived;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!selection.IsFileSelected(i)) {
            continue;
        }
        FileInfo& entry = *files[i];
        const std::uint64_t size = entry.size.load();
        const std::uint64_t present = std::min(GetLocalFileSize(entry.localPath), size);
        entry.receivedSize.store(present);
        arrived.files += present == size ? 1 : 0;
        arrived.lastBytes = present;
        arrived.lastSize = size;
    }
    return arrived;
}

} // namespace

void CLauncher::OnProgress(std::uint64_t transferred, std::uint32_t bytesRead, bool lengthKnown, FileInfo* entry) {
    if (entry == nullptr) {
        WriteLog("[ERROR][%s][%d] Invalid file pointer.", "COstrelDlg::OnProgress", 13);
        return;
    }
    ProgressDisplay shown;
    {
        std::lock_guard lock(totalsLock_);
        shown = entry == shownFile_.load()
                    ? stats.OnRead(TickCount(), transferred, bytesRead, lengthKnown,
                                   entry->size.load(std::memory_order_relaxed), entry->receivedSize)
                    : stats.OnOtherRead(bytesRead, lengthKnown, entry->receivedSize);
    }
    // Most reads change nothing on screen and cost no call into the view.
    if (!shown.Empty()) {
        OnView([this, shown] { ShowProgress(shown); });
    }
}

void CLauncher::OnRangeIgnored(FileInfo* entry) {
    // The server sends the whole file, which is written from its first byte again.
    if (entry != nullptr) {
        entry->receivedSize.store(0);
    }
    if (entry == shownFile_.load()) {
        stats.speedBaseline.store(0);
        stats.lastFilePercent.store(-1);
    }
    UpdateTotalReceived();
}

void CLauncher::ShowProgress(const ProgressDisplay& shown) {
    if (shown.filePercent) {
        ShowPercent(ST_FILE_DOWNLOAD_RATE, CT_FILE_DOWNLOAD_RATE, *shown.filePercent);
    }
    if (shown.totalPercent) {
        ShowPercent(ST_TOTAL_DOWNLOAD_RATE, CT_TOTAL_DOWNLOAD_RATE, *shown.totalPercent);
    }
    if (shown.speed) {
        SetLabel(ST_SPEED, FormatSpeed(static_cast<std::uint32_t>(static_cast<std::uint64_t>(*shown.speed))));
    }
    if (shown.remainingSeconds) {
        SetLabel(ST_REMAIN_TIME, FormatDuration(*shown.remainingSeconds));
    }
    if (shown.totalReceived) {
        SetLabel(ST_TOTAL_RECV_SIZE, FormatSize(*shown.totalReceived));
        SetLabel(ST_FILE_RECV_SIZE, FormatSize(shown.fileReceived));
    }
}

int CLauncher::UpdateTotalReceived() {
    std::lock_guard lock(totalsLock_);
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < config_.files.size(); ++i) {
        if (selection.IsFileSelected(i)) {
            sum += config_.files[i]->receivedSize.load(std::memory_order_relaxed);
        }
    }
    return stats.UpdateTotalReceived(sum);
}

void CLauncher::RefreshTotals() {
    if (downloadFinished == 1) {
        return; // outside a run the labels show what the survey and the last run left
    }
    const int percent = UpdateTotalReceived();
    stats.lastTotalPercent.store(percent);
    ShowPercent(ST_TOTAL_DOWNLOAD_RATE, CT_TOTAL_DOWNLOAD_RATE, percent);
    SetLabel(ST_TOTAL_RECV_SIZE, FormatSize(stats.totalReceived.load()));
}

void CLauncher::ShowPercent(int sectionType, int controlType, int percent) {
    // A hidden percentage section silences its bar too; without a section the bar still moves.
    const SectionInfo* section = config_.Section(sectionType);
    if (section != nullptr && section->visible == 0) {
        return;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%d%%", percent);
    SetLabel(sectionType, text);
    view_.SetBar(controlType, percent);
}

void CLauncher::ShowCount(int count, int sectionType) {
    SetLabel(sectionType, std::to_string(count));
}

void CLauncher::OnElapsedTimer() {
    if (!timing_) {
        return;
    }
    ++elapsedSeconds;
    SetLabel(ST_ELAPSE_TIME, FormatDuration(elapsedSeconds));
}

void CLauncher::OnDownloadEnd() {
    // Judged before anything tells how the run ended, and off the view's thread: a digest may be read.
    const bool whole = !downloader_.IsAbortRequested() && CheckDownloadedFiles();
    const Arrived arrived = whole ? Arrived{} : TakeStockOfArrived(config_.files, selection);
    const int totalPercent = whole ? 100 : UpdateTotalReceived();
    bool completing = false;
    const bool shown = OnView([&] {
        timing_ = false;
        downloadFinished = 1;
        if (downloader_.IsAbortRequested()) {
            downloader_.ClearAbortRequest();
            SetLabel(ST_TRANS_STATE, LoadStringId(IDS_STOPPED));
            EnterState(State::Stopped);
            ShowMessage(IDS_STOPPED_MESSAGE, IDS_TITLE_WARNING, MessageIcon::Information);
            view_.RunEnded(RunOutcome::Stopped);
            return;
        }
        if (!whole) {
            // What is there, and a Download that tries the rest again.
            SetLabel(ST_TRANS_STATE, kIncompleteState);
            EnterState(State::Incomplete);
            ShowPercent(ST_FILE_DOWNLOAD_RATE, CT_FILE_DOWNLOAD_RATE, PercentOf(arrived.lastBytes, arrived.lastSize));
            ShowPercent(ST_TOTAL_DOWNLOAD_RATE, CT_TOTAL_DOWNLOAD_RATE, totalPercent);
            SetLabel(ST_TOTAL_RECV_SIZE, FormatSize(stats.totalReceived.load()));
            SetLabel(ST_FILE_RECV_SIZE, FormatSize(arrived.lastBytes));
            ShowCount(arrived.files, ST_RECV_COUNT);
            ShowMessage(IDS_INCOMPLETE, IDS_TITLE_WARNING, MessageIcon::Warning);
            view_.RunEnded(RunOutcome::Incomplete);
            return;
        }
        SetLabel(ST_TRANS_STATE, LoadStringId(IDS_COMPLETED));
        busy_ += 1; // until the completion is over
        EnterState(State::Completed);
        ShowPercent(ST_FILE_DOWNLOAD_RATE, CT_FILE_DOWNLOAD_RATE, 100);
        ShowPercent(ST_TOTAL_DOWNLOAD_RATE, CT_TOTAL_DOWNLOAD_RATE, 100);
        // With no file configured there is no last size to show.
        const std::uint64_t lastSize = config_.files.empty() ? 0 : config_.files.back()->size.load();
        UpdateTotalReceived(); // the running total may have met a change of the selection
        SetLabel(ST_TOTAL_RECV_SIZE, FormatSize(stats.totalReceived.load()));
        SetLabel(ST_FILE_RECV_SIZE, FormatSize(lastSize));
        completing = true;
    });
    if (shown && completing) {
        Complete();
    }
}

void CLauncher::Complete() {
    bool close = false;
    bool refused = false;
    if (!cancel_.IsSet()) {
        SendEndReport();
        close = options_.executeAfterRun && ExecuteDownloadedFiles(true, &refused);
    }
    OnView([this, close, refused] {
        SetBusy(false);
        if (refused) {
            // Its installer changed after the check: what is there, and a Download that fetches it again.
            SetLabel(ST_TRANS_STATE, kIncompleteState);
            EnterState(State::Incomplete);
            view_.RunEnded(RunOutcome::Incomplete);
            return;
        }
        view_.RunEnded(RunOutcome::Complete);
        if (close) {
            OnClose();
        }
    });
}
