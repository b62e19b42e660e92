#include "app/log.h"
#include "app/user_folders.h"
#include "launcher/format_text.h"
#include "launcher/launcher.h"
#include "launcher/local_files.h"
#include "launcher/retry_policy.h"
#include "launcher/row_states.h"
#include "launcher/tick_count.h"
#include "launcher/url_names.h"
#include "net/file_validator.h"
#include "net/url_parser.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int IDS_DOWNLOADING = 147;
constexpr const char* kOrigin = "COstrelDlg::_DownloadThread";
// Our own: the status while a failed transfer waits for its retry.
constexpr const char* kRetryWait = "%lld초 후 다시 시도합니다...";

} // namespace

std::string CLauncher::MakeLocalPath(const std::string& fileUrl) const {
    return LocalPathForUrl(downloadFolder, fileUrl).value_or(std::string());
}

void CLauncher::EnsureDownloadFolder() {
    MakeFolderPath(downloadFolder);
}

void CLauncher::SetRowState(std::size_t fileIndex, const std::string& state) {
    WriteLog("[INFO][%s][%d] File [%s] state: [%s]", kOrigin, __LINE__, config_.files[fileIndex]->url.c_str(),
             state.c_str());
    if (selection.RowOfFile(fileIndex) >= 0) {
        OnView([this, fileIndex, state] { view_.SetRowState(fileIndex, state); });
    }
}

int CLauncher::AskOverwriteChoice(const std::string& localPath) {
    if (::access(localPath.c_str(), F_OK) != 0) {
        return 6;
    }
    const int remembered = overwriteChoice.load();
    if (remembered == 1 || remembered == 3) {
        return remembered;
    }
    std::optional<int> answer;
    OnView([this, &answer, &localPath] { answer = view_.AskOverwrite(localPath); });
    if (!answer) {
        // Dismissed: continue, which never destroys what is there, whatever was answered before.
        return 0;
    }
    overwriteChoice.store(*answer);
    return *answer;
}

unsigned CLauncher::_DownloadThread(CLauncher* launcher) {
    if (launcher == nullptr) {
        return 0;
    }
    CLauncher& l = *launcher;
    l.downloader_.SetStatusId(IDS_DOWNLOADING);
    l.OnView([&l] {
        for (std::size_t row = 0; row < l.selection.RowCount(); ++row) {
            l.view_.SetRowState(l.selection.FileOfRow(row), l.selection.IsRowChecked(row) ? kStateWaiting : "");
        }
    });

    int started = 0;
    for (std::size_t k = 0; k < l.config_.files.size(); ++k) {
        if (l.selection.RowCount() > 0 && !l.selection.IsFileSelected(k)) {
            continue;
        }
        ++started;
        l.WalkFile(k, started);
        if (l.downloader_.IsAbortRequested()) {
            break;
        }
        l.stats.lastFilePercent.store(-1);
        l.downloader_.startOffset = 0;
    }
    l.OnDownloadEnd();
    return 0;
}

void CLauncher::MarkFailed(std::size_t k) {
    SetRowState(k, kStateFailed);
    WriteLog("[%s][%d] Failed to download file [%s]", kOrigin, 692, config_.files[k]->url.c_str());
}

void CLauncher::WalkFile(std::size_t k, int started) {
    FileInfo& entry = *config_.files[k];
    CRunDownloader& d = downloader_;
    entry.localPath = MakeLocalPath(entry.url);
    EnsureDownloadFolder();
    d.url = entry.url;
    d.localFileName = entry.localPath;
    OnView([this, k, &entry, started] {
        if (selection.RowOfFile(k) >= 0) {
            view_.SelectRow(k);
        }
        SetLabel(ST_FILE_NAME, FileNameOfUrl(entry.url));
        SetLabel(ST_FILE_SIZE, FormatSize(entry.size.load()));
        ShowCount(started, ST_RECV_COUNT);
    });
    d.SetProgressContext(&entry);
    WriteLog("[%s][%d] File downloading: [%s][%s][%s]", kOrigin, 623, entry.url.c_str(), d.url.c_str(),
             d.localFileName.c_str());

    if (entry.localPath.empty()) {
        // A URL without a usable file name is never turned into a path.
        MarkFailed(k);
        return;
    }
    const int answer = AskOverwriteChoice(d.localFileName);
    const bool overwrite = answer == 2 || answer == 3 || answer == 6;
    const std::uint64_t local = overwrite ? 0 : GetLocalFileSize(d.localFileName);
    const std::uint64_t size = entry.size.load();
    if (!overwrite && local > size) {
        // More than the server has cannot be continued; kept, it would fail every size check.
        WriteLog("[INFO][%s][%d] Local file [%s] is larger than the server's [%I64u > %I64u]; downloading it again "
                 "from the start.",
                 kOrigin, __LINE__, d.localFileName.c_str(), local, size);
    }
    if (overwrite || local > size) {
        d.startOffset = 0;
        entry.receivedSize.store(0);
        UpdateTotalReceived();
    } else if (local == size) {
        stats.lastFilePercent.store(-1);
        entry.receivedSize.store(local);
        const int percent = UpdateTotalReceived();
        OnView([this, percent] { ShowPercent(ST_TOTAL_DOWNLOAD_RATE, CT_TOTAL_DOWNLOAD_RATE, percent); });
        d.startOffset = 0;
        // Complete by its size; with a digest configured, by its bytes too.
        if (!VerifyOnDisk(k, kOrigin)) {
            entry.receivedSize.store(0);
            UpdateTotalReceived();
            MarkFailed(k);
            return;
        }
        SetRowState(k, kStateSkipped);
        return;
    } else {
        entry.receivedSize.store(local);
        stats.lastSpeedTick.store(TickCount());
        const int percent = UpdateTotalReceived();
        OnView([this, percent] { ShowPercent(ST_TOTAL_DOWNLOAD_RATE, CT_TOTAL_DOWNLOAD_RATE, percent); });
        d.startOffset = local;
        WriteLog("[INFO][%s][%d] Resuming download: from [%I64u]", kOrigin, 663, local);
    }

    if (!TransferFile(k)) {
        MarkFailed(k);
        return;
    }
    SetRowState(k, kStateDone);
    WriteLog("[%s][%d] Successfully downloaded file [%s]", kOrigin, 699, entry.url.c_str());
}

bool CLauncher::TransferFile(std::size_t k) {
    FileInfo& entry = *config_.files[k];
    CRunDownloader& d = downloader_;
    const std::vector<std::string> sources = SourcesOf(entry);
    SetRowState(k, kStateTransferring);
    bool arrived = false;
    for (std::size_t source = 0; source < sources.size() && !arrived && !d.IsAbortRequested(); ++source) {
        if (source > 0) {
            TakeUpOnMirror(k, source, sources[source]);
        }
        d.url = sources[source];
        arrived = TransferFrom(k);
    }
    d.validateResume = true;
    return arrived && (entry.sha256.empty() || AcceptDigest(k, d.FileDigest(), kOrigin));
}

void CLauncher::TakeUpOnMirror(std::size_t k, std::size_t mirror, const std::string& mirrorUrl) {
    FileInfo& entry = *config_.files[k];
    CRunDownloader& d = downloader_;
    WriteLog("[INFO][%s][%d] File [%s] from mirror [%zu]: [%s]", kOrigin, __LINE__, entry.url.c_str(), mirror,
             mirrorUrl.c_str());
    SetRowState(k, MirrorState(mirror));
    const std::uint64_t local = GetLocalFileSize(d.localFileName);
    d.startOffset = local;
    d.validateResume = true;
    ParsedUrl parsed;
    const std::string mirrorServer =
        ParseUrl(mirrorUrl, parsed) ? FormatAuthority(parsed.serverName, parsed.serverPort) : std::string();
    if (local == 0 || LoadFileOrigin(d.localFileName) == mirrorServer) {
        // Nothing to continue, or the part's version came from this very server: it decides as usual.
    } else if (!entry.sha256.empty()) {
        d.validateResume = false; // another server's version would never match; the digest decides
        WriteLog("[INFO][%s][%d] Continuing [%s] from [%I64u] on [%s]: its SHA-256 decides whether it is whole.",
                 kOrigin, __LINE__, d.localFileName.c_str(), local, mirrorUrl.c_str());
    } else {
        d.startOffset = 0;
        WriteLog("[INFO][%s][%d] Fetching [%s] again from the start on [%s]: the part on disk came from another "
                 "server, and versions of different servers do not compare.",
                 kOrigin, __LINE__, d.localFileName.c_str(), mirrorUrl.c_str());
    }
    entry.receivedSize.store(d.startOffset);
    UpdateTotalReceived();
}

bool CLauncher::TransferFrom(std::size_t k) {
    FileInfo& entry = *config_.files[k];
    CRunDownloader& d = downloader_;
    const bool hashed = !entry.sha256.empty();
    const auto retries = static_cast<unsigned>(std::max(config_.retries, 0));
    for (unsigned attempt = 0;; ++attempt) {
        stats.speedBaseline.store(entry.receivedSize.load());
        if (hashed && !d.HashFile(d.startOffset)) {
            WriteLog("[ERROR][%s][%d] Cannot read the first [%I64u] bytes of [%s] to check its SHA-256.", kOrigin,
                     __LINE__, d.startOffset, d.localFileName.c_str());
            return false;
        }
        if (d.Download()) {
            return true;
        }
        const TransferFailure failure = d.lastFailure();
        const bool passing =
            failure.status != 0 ? IsRetriedStatus(failure.status) : IsRetriedTransportError(failure.error);
        if (attempt >= retries || !passing || d.IsAbortRequested()) {
            return false;
        }
        const std::chrono::seconds pause =
            RetryPause(attempt + 1, failure.retryAfter, std::chrono::system_clock::now());
        const std::string reason = failure.status != 0 ? "HTTP status " + std::to_string(failure.status)
                                                       : CHttpDownloader2::FormatErrorText(failure.error);
        WriteLog("[INFO][%s][%d] Retry [%u] of [%u] of [%s] in [%lld] s after: [%s]", kOrigin, __LINE__, attempt + 1,
                 retries, d.url.c_str(), static_cast<long long>(pause.count()), reason.c_str());
        char waiting[64];
        std::snprintf(waiting, sizeof waiting, kRetryWait, static_cast<long long>(pause.count()));
        ShowStatus(waiting);
        if (WaitBeforeRetry(pause)) {
            return false;
        }
        d.SetStatusId(IDS_DOWNLOADING);
        // On from the bytes on disk; their version decides whether the server continues them.
        const std::uint64_t local = GetLocalFileSize(d.localFileName);
        d.startOffset = local;
        entry.receivedSize.store(local);
        UpdateTotalReceived();
    }
}

bool CLauncher::WaitBeforeRetry(std::chrono::seconds pause) {
    std::unique_lock lock(pauseLock_);
    return pauseWake_.wait_for(lock, pause, [this] { return downloader_.IsAbortRequested() || cancel_.IsSet(); });
}
