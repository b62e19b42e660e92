#include "base/log.h"
#include "base/tick_count.h"
#include "base/user_folders.h"
#include "launcher/format_text.h"
#include "launcher/launcher.h"
#include "launcher/local_files.h"
#include "launcher/progress_statistics.h"
#include "launcher/retry_policy.h"
#include "launcher/row_states.h"
#include "launcher/url_names.h"
#include "net/file_validator.h"
#include "net/transfer_failure.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>
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
        // Files are taken in list order as transfers come free, so the questions come in that order too.
        Transfer& t = l.FreeTransfer();
        l.WaitForPathToSettle(l.MakeLocalPath(l.config_.files[k]->url));
        if (l.downloader_.IsAbortRequested()) {
            break;
        }
        // Its tick is read when its turn comes, not while earlier files still hold every transfer.
        if (l.selection.RowCount() > 0 && !l.selection.IsFileSelected(k)) {
            continue;
        }
        ++started;
        if (l.PrepareFile(k, started, t)) {
            l.StartTransfer(k, t);
        }
    }
    l.JoinTransfers();
    l.OnDownloadEnd();
    return 0;
}

CLauncher::Transfer& CLauncher::FreeTransfer() {
    Transfer* free = nullptr;
    {
        std::unique_lock lock(transfersLock_);
        transferEnded_.wait(lock, [this, &free] {
            const auto it = std::find_if(transfers_.begin(), transfers_.end(), [](const auto& t) { return !t->busy; });
            free = it == transfers_.end() ? nullptr : it->get();
            return free != nullptr;
        });
    }
    // Only this thread makes a transfer busy. Its last thread has done its work and only returns; it
    // may still want the lock, so it is joined outside it.
    if (free->thread.joinable()) {
        free->thread.join();
    }
    return *free;
}

void CLauncher::WaitForPathToSettle(const std::string& path) {
    std::unique_lock lock(transfersLock_);
    transferEnded_.wait(lock, [this, &path] {
        return path.empty() || std::none_of(inFlight_.begin(), inFlight_.end(), [this, &path](std::size_t j) {
                   return config_.files[j]->localPath == path;
               });
    });
}

void CLauncher::JoinTransfers() {
    {
        std::unique_lock lock(transfersLock_);
        transferEnded_.wait(lock, [this] {
            return std::none_of(transfers_.begin(), transfers_.end(), [](const auto& t) { return t->busy; });
        });
    }
    for (const std::unique_ptr<Transfer>& t : transfers_) {
        if (t->thread.joinable()) {
            t->thread.join();
        }
    }
}

void CLauncher::StartTransfer(std::size_t k, Transfer& t) {
    {
        std::lock_guard lock(transfersLock_);
        t.busy = true;
        inFlight_.push_back(k);
    }
    ShareSpeedLimit();
    // The run's flag is looked at after this transfer's own is cleared, so a stop between the two reaches it.
    t.downloader.ClearAbortRequest();
    if (downloader_.IsAbortRequested()) {
        t.downloader.abortFlag.exchange(1);
    }
    // Before the thread: the next file's question already finds this one transferring.
    SetRowState(k, kStateTransferring);
    const auto transfer = [this, k, &t] {
        if (const std::optional<std::string> failure = TransferFile(k, t)) {
            MarkFailed(k, *failure);
        } else {
            SetRowState(k, kStateDone);
            WriteLog("[%s][%d] Successfully downloaded file [%s]", kOrigin, 699, config_.files[k]->url.c_str());
        }
        EndTransfer(k, t);
    };
    try {
        t.thread = std::thread(transfer);
    } catch (const std::system_error&) {
        transfer(); // no thread to spare: this file on the worker's own
    }
}

void CLauncher::EndTransfer(std::size_t k, Transfer& t) {
    {
        std::lock_guard show(showLock_);
        std::optional<std::size_t> next;
        {
            std::lock_guard lock(transfersLock_);
            inFlight_.erase(std::find(inFlight_.begin(), inFlight_.end(), k));
            if (!inFlight_.empty()) {
                if (shownFile_.load() == config_.files[k].get()) {
                    next = inFlight_.front();
                }
            } else if (shownFile_.load() != config_.files[lastWalked_].get()) {
                next = lastWalked_; // nothing earlier in flight: the file the walk is at, as with one connection
            }
        }
        if (next) {
            ShowFile(*next);
            ShowFileProgress(*next); // it may be part-way or done: the fields must not keep the last file's
        }
    }
    {
        std::lock_guard lock(transfersLock_);
        t.busy = false;
    }
    ShareSpeedLimit();
    transferEnded_.notify_all();
}

void CLauncher::ShowFile(std::size_t k) {
    FileInfo& entry = *config_.files[k];
    stats.lastFilePercent.store(-1);
    stats.speedBaseline.store(entry.receivedSize.load());
    shownFile_.store(&entry);
    OnView([this, k, &entry] {
        if (selection.RowOfFile(k) >= 0) {
            view_.SelectRow(k);
        }
        SetLabel(ST_FILE_NAME, FileNameOfUrl(entry.url));
        SetLabel(ST_FILE_SIZE, FormatSize(entry.size.load()));
    });
}

void CLauncher::ShowFileProgress(std::size_t k) {
    const FileInfo& entry = *config_.files[k];
    const std::uint64_t received = entry.receivedSize.load();
    const int percent = PercentOf(received, entry.size.load());
    stats.lastFilePercent.store(percent);
    OnView([this, received, percent] {
        ShowPercent(ST_FILE_DOWNLOAD_RATE, CT_FILE_DOWNLOAD_RATE, percent);
        SetLabel(ST_FILE_RECV_SIZE, FormatSize(received));
    });
}

void CLauncher::MarkFailed(std::size_t k, const std::string& reason) {
    const std::string& url = config_.files[k]->url;
    WriteLog("[ERROR][%s][%d] File [%s] failed: %s", kOrigin, __LINE__, url.c_str(), reason.c_str());
    OnView([this, k, reason] { view_.FileFailed(k, reason); });
    SetRowState(k, kStateFailed);
    WriteLog("[%s][%d] Failed to download file [%s]", kOrigin, 692, url.c_str());
}

bool CLauncher::PrepareFile(std::size_t k, int started, Transfer& t) {
    FileInfo& entry = *config_.files[k];
    CRunDownloader& d = t.downloader;
    entry.localPath = MakeLocalPath(entry.url);
    EnsureDownloadFolder();
    d.url = entry.url;
    d.localFileName = entry.localPath;
    {
        // While earlier files are in flight, the file fields stay with the earliest of them.
        std::lock_guard show(showLock_);
        bool idle = false;
        {
            std::lock_guard lock(transfersLock_);
            idle = inFlight_.empty();
            lastWalked_ = k;
        }
        if (idle) {
            ShowFile(k);
        }
    }
    OnView([this, started] { ShowCount(started, ST_RECV_COUNT); });
    d.SetProgressContext(&entry);
    WriteLog("[%s][%d] File downloading: [%s][%s][%s]", kOrigin, 623, entry.url.c_str(), d.url.c_str(),
             d.localFileName.c_str());

    if (entry.localPath.empty()) {
        // A URL without a usable file name is never turned into a path.
        MarkFailed(k, entry.url + ": the address gives no usable file name");
        return false;
    }
    const int answer = AskOverwriteChoice(d.localFileName);
    const bool overwrite = answer == 2 || answer == 3 || answer == 6;
    t.overwritten = overwrite ? StampOf(d.localFileName) : std::nullopt;
    const std::uint64_t local = overwrite ? 0 : GetLocalFileSize(d.localFileName);
    const std::uint64_t size = entry.size.load();
    if (!overwrite && local > size) {
        // More than the server has cannot be continued, and in place it would fail every size check; the
        // player's bytes are set aside, never written over.
        WriteLog("[INFO][%s][%d] Local file [%s] is larger than the server's [%I64u > %I64u]; downloading it again "
                 "from the start.",
                 kOrigin, __LINE__, d.localFileName.c_str(), local, size);
        if (const std::optional<std::string> failure = SetAsideLarger(k)) {
            MarkFailed(k, *failure);
            return false;
        }
    }
    if (overwrite || local > size) {
        entry.receivedSize.store(0);
        UpdateTotalReceived();
    } else if (local == size) {
        stats.lastFilePercent.store(-1);
        entry.receivedSize.store(local);
        const int percent = UpdateTotalReceived();
        OnView([this, percent] { ShowPercent(ST_TOTAL_DOWNLOAD_RATE, CT_TOTAL_DOWNLOAD_RATE, percent); });
        // Complete by its size; with a digest configured, by its bytes too.
        std::string whyNot;
        if (!VerifyOnDisk(k, kOrigin, &whyNot)) {
            if (whyNot.empty()) {
                return false; // stopped during the check: the file is as it was, and the run ends
            }
            entry.receivedSize.store(0);
            UpdateTotalReceived();
            MarkFailed(k, whyNot);
            return false;
        }
        SetRowState(k, kStateSkipped);
        return false;
    } else {
        entry.receivedSize.store(local);
        stats.lastSpeedTick.store(TickCount());
        const int percent = UpdateTotalReceived();
        OnView([this, percent] { ShowPercent(ST_TOTAL_DOWNLOAD_RATE, CT_TOTAL_DOWNLOAD_RATE, percent); });
        WriteLog("[INFO][%s][%d] Resuming download: from [%I64u]", kOrigin, 663, local);
    }

    return true;
}

std::optional<std::string> CLauncher::SetAsideLarger(std::size_t k) {
    const std::string& path = config_.files[k]->localPath;
    const std::string previous = path + ".previous";
    const std::string name = FileNameOfPath(path);
    // Whatever was set aside before is older than this.
    if (std::rename(path.c_str(), previous.c_str()) != 0) {
        WriteLog("[ERROR][%s][%d] Cannot keep local file [%s] as [%s]: %s.", kOrigin, __LINE__, path.c_str(),
                 previous.c_str(), std::strerror(errno));
        return name + " is larger than the server's copy and could not be kept as " + name + ".previous";
    }
    WriteLog("[INFO][%s][%d] Local file [%s] is kept as [%s].", kOrigin, __LINE__, path.c_str(), previous.c_str());
    const std::string notice = "larger than the server's copy; kept as " + name + ".previous";
    OnView([this, k, notice] { view_.FileNotice(k, notice); });
    return std::nullopt;
}

std::optional<std::string> CLauncher::TransferFile(std::size_t k, Transfer& t) {
    FileInfo& entry = *config_.files[k];
    CRunDownloader& d = t.downloader;
    const std::vector<std::string> sources = SourcesOf(entry);
    std::optional<Failure> failure;
    std::optional<Sha256Bytes> digest;
    for (std::size_t source = 0; source < sources.size(); ++source) {
        if (source > 0) {
            if (failure->local || Stopping()) {
                break; // this computer's fault would meet every other server as well
            }
            WriteLog("[INFO][%s][%d] File [%s] from mirror [%zu]: [%s]", kOrigin, __LINE__, entry.url.c_str(), source,
                     sources[source].c_str());
            SetRowState(k, MirrorState(source));
        }
        d.url = sources[source];
        if (source > 0 || !TransferInSegments(k, t, failure, digest)) {
            failure = TransferFrom(k, t);
            if (!entry.sha256.empty()) {
                digest = d.FileDigest();
            }
        }
        if (!failure) {
            break;
        }
    }
    d.validateResume = true;
    if (failure) {
        return Stopping() ? "stopped" : failure->reason;
    }
    // A server's word that the transfer is over is not the file: another size is another file.
    const std::uint64_t got = GetLocalFileSize(entry.localPath);
    const std::uint64_t size = entry.size.load();
    if (got != size) {
        WriteLog("[ERROR][%s][%d] Size differs after the transfer: Server [%s][%I64u] vs Local [%s][%I64u].", kOrigin,
                 __LINE__, d.url.c_str(), size, entry.localPath.c_str(), got);
        return d.url + ": the file there has " + std::to_string(got) + " bytes, " + std::to_string(size) + " expected";
    }
    std::string whyNot;
    if (!entry.sha256.empty() && !AcceptDigest(k, digest.value_or(Sha256Bytes{}), kOrigin, &whyNot)) {
        return whyNot;
    }
    DropPart(k);
    return std::nullopt;
}

void CLauncher::ContinueOn(std::size_t k, const std::string& url, Transfer& t) {
    FileInfo& entry = *config_.files[k];
    CRunDownloader& d = t.downloader;
    // What the player chose to overwrite is not continued while it is still there as it was.
    const bool replaced = t.overwritten && StampOf(d.localFileName) == t.overwritten;
    const std::uint64_t local = replaced ? 0 : GetLocalFileSize(d.localFileName);
    d.startOffset = local;
    d.expectedSize = entry.size.load(); // what the survey found: no answer makes the file larger
    d.validateResume = true;
    // A part that names no server is the player's, or of a server that named no version: the main URL's.
    const std::string origin = LoadFileOrigin(d.localFileName).value_or(ServerOfUrl(entry.url));
    if (local == 0 || origin == ServerOfUrl(url)) {
        // Nothing to continue, or the part's version came from this very server: it decides as usual.
    } else if (!entry.sha256.empty()) {
        d.validateResume = false; // another server's version would never match; the digest decides
        WriteLog("[INFO][%s][%d] Continuing [%s] from [%I64u] on [%s]: its SHA-256 decides whether it is whole.",
                 kOrigin, __LINE__, d.localFileName.c_str(), local, url.c_str());
    } else {
        d.startOffset = 0;
        WriteLog("[INFO][%s][%d] Fetching [%s] again from the start on [%s]: the part on disk came from another "
                 "server, and versions of different servers do not compare.",
                 kOrigin, __LINE__, d.localFileName.c_str(), url.c_str());
    }
    entry.receivedSize.store(d.startOffset);
    UpdateTotalReceived();
}

std::optional<CLauncher::Failure> CLauncher::TransferFrom(std::size_t k, Transfer& t) {
    FileInfo& entry = *config_.files[k];
    CRunDownloader& d = t.downloader;
    const bool hashed = !entry.sha256.empty();
    return WithRetries(t, [&]() -> std::optional<Attempted> {
        ContinueOn(k, d.url, t);
        if (shownFile_.load() == &entry) {
            stats.speedBaseline.store(entry.receivedSize.load());
        }
        if (hashed && !d.HashFile(d.startOffset)) {
            WriteLog("[ERROR][%s][%d] Cannot read the first [%I64u] bytes of [%s] to check its SHA-256.", kOrigin,
                     __LINE__, d.startOffset, d.localFileName.c_str());
            return Attempted{{}, Failure{"the part on disk cannot be read to check its SHA-256", true}};
        }
        if (FetchNotingSecurity(k, d)) {
            return std::nullopt;
        }
        return Attempted{d.lastFailure(), std::nullopt};
    });
}

std::optional<CLauncher::Failure> CLauncher::WithRetries(Transfer& t,
                                                         const std::function<std::optional<Attempted>()>& attempt) {
    CRunDownloader& d = t.downloader;
    const auto retries = static_cast<unsigned>(std::max(config_.retries, 0));
    for (unsigned tried = 0;; ++tried) {
        const std::optional<Attempted> ended = attempt();
        if (!ended) {
            return std::nullopt;
        }
        if (ended->final) {
            return ended->final;
        }
        const TransferFailure& failure = ended->failure;
        const std::string cause = DescribeTransferFailure(failure);
        if (failure.local) {
            // No retry and no other server mends this computer's disk; what is written stays.
            return Failure{cause, true};
        }
        const bool passing =
            failure.status != 0 ? IsRetriedStatus(failure.status) : IsRetriedTransportError(failure.error);
        if (tried >= retries || !passing || d.IsAbortRequested()) {
            return Failure{d.url + ": " + cause, false};
        }
        const std::chrono::seconds pause = RetryPause(tried + 1, failure.retryAfter, std::chrono::system_clock::now());
        const std::string reason = failure.status != 0 ? "HTTP status " + std::to_string(failure.status)
                                                       : CHttpDownloader2::FormatErrorText(failure.error);
        WriteLog("[INFO][%s][%d] Retry [%u] of [%u] of [%s] in [%lld] s after: [%s]", kOrigin, __LINE__, tried + 1,
                 retries, d.url.c_str(), static_cast<long long>(pause.count()), reason.c_str());
        char waiting[64];
        std::snprintf(waiting, sizeof waiting, kRetryWait, static_cast<long long>(pause.count()));
        ShowStatus(waiting);
        if (WaitBeforeRetry(pause)) {
            return Failure{d.url + ": " + cause, false};
        }
        d.SetStatusId(IDS_DOWNLOADING);
    }
}

bool CLauncher::Stopping() {
    return downloader_.IsAbortRequested() || cancel_.IsSet();
}

bool CLauncher::WaitBeforeRetry(std::chrono::seconds pause) {
    std::unique_lock lock(pauseLock_);
    return pauseWake_.wait_for(lock, pause, [this] { return Stopping(); });
}
