#include "app/log.h"
#include "ui/ostrel_dlg.h"
#include "ui/overwrite_option_dlg.h"
#include "workflow/tick_count.h"

#include <QTreeWidget>
#include <unistd.h>

namespace {

constexpr int IDS_DOWNLOADING = 147;

constexpr const char* kWaiting = "대기중";
constexpr const char* kTransferring = "전송중";
constexpr const char* kDone = "완료";
constexpr const char* kFailed = "실패";
constexpr const char* kSkipped = "건너뜀";

} // namespace

void COstrelDlg::SetRowState(std::size_t fileIndex, const char* state) {
    WriteLog("[INFO][%s][%d] File [%s] state: [%s]", "COstrelDlg::_DownloadThread", __LINE__,
             config_.files[fileIndex]->url.c_str(), state);
    const int row = selection.RowOfFile(fileIndex);
    if (row < 0) {
        return;
    }
    ui_.Call([this, row, state] {
        if (QTreeWidgetItem* item = fileList->topLevelItem(row)) {
            item->setText(1, QString::fromUtf8(state));
        }
    });
}

int COstrelDlg::AskOverwriteChoice(const std::string& localPath) {
    if (::access(localPath.c_str(), F_OK) != 0) {
        return 6;
    }
    const int remembered = overwriteChoice.load();
    if (remembered == 1 || remembered == 3) {
        return remembered;
    }
    std::optional<int> answer;
    ui_.Call([this, &answer] { answer = overwriteQuestion ? overwriteQuestion() : AskOverwriteDialog(); });
    if (!answer) {
        // Dismissed: continue, which never destroys what is there, whatever was answered before.
        return 0;
    }
    overwriteChoice.store(*answer);
    return *answer;
}

std::optional<int> COstrelDlg::AskOverwriteDialog() {
    COverwriteOptionDlg dialog(this);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.result;
}

unsigned COstrelDlg::_DownloadThread(COstrelDlg* window) {
    if (window == nullptr) {
        return 0;
    }
    COstrelDlg& w = *window;
    const char* const origin = "COstrelDlg::_DownloadThread";
    w.SetStatusId(IDS_DOWNLOADING);
    w.ui_.Call([&w] {
        for (int row = 0; row < w.fileList->topLevelItemCount(); ++row) {
            QTreeWidgetItem* item = w.fileList->topLevelItem(row);
            item->setText(1, QString());
            if (item->checkState(0) != Qt::Unchecked) {
                item->setText(1, QString::fromUtf8(kWaiting));
            }
        }
    });

    int started = 0;
    for (std::size_t k = 0; k < w.config_.files.size(); ++k) {
        FileInfo& entry = *w.config_.files[k];
        if (w.selection.RowCount() > 0 && !w.selection.IsFileSelected(k)) {
            continue;
        }
        ++started;
        w.ui_.Call([&w, k] {
            if (QTreeWidgetItem* item = w.fileList->topLevelItem(w.selection.RowOfFile(k))) {
                w.fileList->setCurrentItem(item);
                w.fileList->scrollToItem(item);
            }
        });
        entry.localPath = w.MakeLocalPath(entry.url, false);
        w.EnsureDownloadFolder();
        w.url = entry.url;
        w.localFileName = entry.localPath;
        w.ui_.Call([&w, &entry, started] {
            w.ShowFileName(entry.url);
            w.ShowFileSize(entry.size.load());
            w.ShowCount(started, ST_RECV_COUNT);
        });
        w.SetProgressContext(&entry);
        WriteLog("[%s][%d] File downloading: [%s][%s][%s]", origin, 623, entry.url.c_str(), w.url.c_str(),
                 w.localFileName.c_str());

        bool transfer = !entry.localPath.empty();
        if (!transfer) {
            // A URL without a usable file name is never turned into a path.
            w.SetRowState(k, kFailed);
            WriteLog("[%s][%d] Failed to download file [%s]", origin, 692, entry.url.c_str());
        } else {
            const int answer = w.AskOverwriteChoice(w.localFileName);
            const bool overwrite = answer == 2 || answer == 3 || answer == 6;
            const std::uint64_t local = overwrite ? 0 : GetLocalFileSize(w.localFileName);
            const std::uint64_t size = entry.size.load();
            if (!overwrite && local > size) {
                // More than the server has cannot be continued; kept, it would fail every size check.
                WriteLog("[INFO][%s][%d] Local file [%s] is larger than the server's [%I64u > %I64u]; downloading it "
                         "again from the start.",
                         origin, __LINE__, w.localFileName.c_str(), local, size);
            }
            if (overwrite || local > size) {
                w.startOffset = 0;
                entry.receivedSize.store(0);
                w.UpdateTotalReceived();
            } else if (local == size) {
                w.stats.lastFilePercent.store(-1);
                entry.receivedSize.store(local);
                const int percent = w.UpdateTotalReceived();
                w.ui_.Call([&w, percent] { w.ShowTotalPercent(percent); });
                w.startOffset = 0;
                w.SetRowState(k, kSkipped);
                transfer = false;
            } else {
                entry.receivedSize.store(local);
                w.stats.lastSpeedTick.store(TickCount());
                const int percent = w.UpdateTotalReceived();
                w.ui_.Call([&w, percent] { w.ShowTotalPercent(percent); });
                w.startOffset = local;
                WriteLog("[INFO][%s][%d] Resuming download: from [%I64u]", origin, 663, local);
            }
        }
        if (transfer) {
            w.SetRowState(k, kTransferring);
            w.stats.speedBaseline.store(entry.receivedSize.load());
            if (w.Download()) {
                w.SetRowState(k, kDone);
                WriteLog("[%s][%d] Successfully downloaded file [%s]", origin, 699, entry.url.c_str());
            } else {
                w.SetRowState(k, kFailed);
                WriteLog("[%s][%d] Failed to download file [%s]", origin, 692, entry.url.c_str());
            }
        }
        if (w.IsAbortRequested()) {
            break;
        }
        w.stats.lastFilePercent.store(-1);
        w.startOffset = 0;
    }
    w.ui_.Post([&w] { w.OnDownloadEnd(); });
    return 0;
}
