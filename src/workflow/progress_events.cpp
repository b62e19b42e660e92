#include "app/log.h"
#include "app/message_box.h"
#include "res/string_table.h"
#include "ui/controls/progress_ex.h"
#include "ui/ostrel_dlg.h"
#include "workflow/format_text.h"
#include "workflow/tick_count.h"
#include "workflow/url_names.h"

#include <cstdio>

namespace {

constexpr int IDS_STOPPED_MESSAGE = 144;
constexpr int IDS_STOPPED = 145;
constexpr int IDS_COMPLETED = 146;
constexpr int IDS_INCOMPLETE = 153;

} // namespace

void COstrelDlg::OnProgress(std::uint64_t transferred, std::uint32_t bytesRead, bool lengthKnown,
                            std::uint64_t expectedFileSize, void* context) {
    auto* entry = static_cast<FileInfo*>(context);
    if (entry == nullptr) {
        WriteLog("[ERROR][%s][%d] Invalid file pointer.", "COstrelDlg::OnProgress", 13);
        return;
    }
    const ProgressDisplay shown = stats.OnRead(TickCount(), transferred, bytesRead, lengthKnown,
                                               entry->size.load(std::memory_order_relaxed), entry->receivedSize);
    // Most reads change nothing on screen and cost no call into the window.
    if (!shown.Empty()) {
        ui_.Call([this, shown, expectedFileSize] { ShowProgress(shown, expectedFileSize); });
    }
}

void COstrelDlg::OnRangeIgnored() {
    // The server sends the whole file, which is written from its first byte again.
    if (auto* entry = static_cast<FileInfo*>(progressContext)) {
        entry->receivedSize.store(0);
    }
    stats.speedBaseline.store(0);
    stats.lastFilePercent.store(-1);
    UpdateTotalReceived();
}

void COstrelDlg::ShowProgress(const ProgressDisplay& shown, std::uint64_t expectedFileSize) {
    if (shown.filePercent) {
        ShowFilePercent(*shown.filePercent);
    }
    if (shown.totalPercent) {
        ShowTotalPercent(*shown.totalPercent);
    }
    if (shown.speed) {
        ShowSpeed(*shown.speed);
    }
    if (shown.remainingSeconds) {
        ShowRemainingTime(*shown.remainingSeconds, shown.totalReceived.value_or(0), shown.fileReceived,
                          expectedFileSize);
    }
    if (shown.totalReceived) {
        ShowReceivedSizes(*shown.totalReceived, shown.fileReceived);
    }
}

int COstrelDlg::UpdateTotalReceived() {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < config_.files.size(); ++i) {
        if (selection.IsFileSelected(i)) {
            sum += config_.files[i]->receivedSize.load(std::memory_order_relaxed);
        }
    }
    return stats.UpdateTotalReceived(sum);
}

void COstrelDlg::RefreshTotals() {
    if (downloadFinished == 1) {
        return; // outside a run the labels show what the survey and the last run left
    }
    const int percent = UpdateTotalReceived();
    stats.lastTotalPercent.store(percent);
    ShowTotalPercent(percent);
    SetLabel(ST_TOTAL_RECV_SIZE, FormatSize(stats.totalReceived.load()));
}

void COstrelDlg::ShowFilePercent(int percent) {
    ShowPercent(ST_FILE_DOWNLOAD_RATE, *fileProgress, percent);
}

void COstrelDlg::ShowTotalPercent(int percent) {
    ShowPercent(ST_TOTAL_DOWNLOAD_RATE, *totalProgress, percent);
}

void COstrelDlg::ShowPercent(int sectionType, CProgressEx& bar, int percent) {
    // A hidden percentage section silences its bar too; without a section the bar still moves.
    const SectionInfo* section = config_.Section(sectionType);
    if (section != nullptr && section->visible == 0) {
        return;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%d%%", percent);
    SetLabel(sectionType, text);
    bar.SetPos(percent);
}

void COstrelDlg::ShowSpeed(double bytesPerMs) {
    SetLabel(ST_SPEED, FormatSpeed(static_cast<std::uint32_t>(static_cast<std::uint64_t>(bytesPerMs))));
}

void COstrelDlg::ShowRemainingTime(std::uint32_t seconds, std::uint64_t, std::uint64_t, std::uint64_t) {
    SetLabel(ST_REMAIN_TIME, FormatDuration(seconds));
}

void COstrelDlg::ShowReceivedSizes(std::uint64_t total, std::uint64_t fileBytes) {
    SetLabel(ST_TOTAL_RECV_SIZE, FormatSize(total));
    SetLabel(ST_FILE_RECV_SIZE, FormatSize(fileBytes));
}

void COstrelDlg::ShowFileName(const std::string& fileUrl) {
    SetLabel(ST_FILE_NAME, FileNameOfUrl(fileUrl));
}

void COstrelDlg::ShowFileSize(std::uint64_t size) {
    SetLabel(ST_FILE_SIZE, FormatSize(size));
}

void COstrelDlg::ShowCount(int count, int sectionType) {
    SetLabel(sectionType, std::to_string(count));
}

void COstrelDlg::OnElapsedTimer() {
    ++elapsedSeconds;
    SetLabel(ST_ELAPSE_TIME, FormatDuration(elapsedSeconds));
}

void COstrelDlg::OnDownloadEnd() {
    elapsedTimer_.stop();
    downloadFinished = 1;
    if (IsAbortRequested()) {
        ClearAbortRequest();
        SetStatusId(IDS_STOPPED);
        SetButtonStates(false, true, false, true);
        ShowMessageBox(LoadStringId(IDS_STOPPED_MESSAGE), LoadStringId(IDS_TITLE_WARNING), MessageIcon::Information,
                       MessageButtons::Ok, this);
        return;
    }
    SetStatusId(IDS_COMPLETED);
    SetButtonStates(true, false, false, true);
    ShowFilePercent(100);
    ShowTotalPercent(100);
    // With no file configured there is no last size to show.
    const std::uint64_t lastSize = config_.files.empty() ? 0 : config_.files.back()->size.load();
    UpdateTotalReceived(); // the running total may have met a change of the selection
    ShowReceivedSizes(stats.totalReceived.load(), lastSize);
    if (!CheckDownloadedFiles()) {
        ShowMessageBox(LoadStringId(IDS_INCOMPLETE), LoadStringId(IDS_TITLE_WARNING), MessageIcon::Warning,
                       MessageButtons::Ok, this);
        return;
    }
    SendEndReport();
    if (ExecuteDownloadedFiles(true)) {
        QMetaObject::invokeMethod(
            this, [this] { close(); }, Qt::QueuedConnection);
    }
}
