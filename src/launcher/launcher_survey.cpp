#include "base/log.h"
#include "base/user_folders.h"
#include "launcher/format_text.h"
#include "launcher/launcher.h"
#include "net/host_lookup.h"
#include "net/transfer_failure.h"
#include "res/string_table.h"

#include <limits>
#include <unistd.h>

namespace {

constexpr int IDS_SIZE_UNKNOWN = 154;

// The survey's scratch file: private to this user and, by its name, to this process.
std::string SurveyScratchFile() {
    std::string temp;
    if (!PrivateTempFolder(temp)) {
        return {};
    }
    return temp + "dummy-" + std::to_string(::getpid());
}

} // namespace

bool CLauncher::GetContentSize(const std::string& fileUrl, std::uint64_t& size) {
    CHttpDownloader2 downloader;
    downloader.UseSharedConnections(true);
    downloader.url = fileUrl;
    downloader.localFileName = SurveyScratchFile();
    downloader.headOnly = 1;
    {
        // A shutdown from now on breaks this transfer; one that came before stops it before it starts.
        std::lock_guard lock(surveyLock_);
        surveyTransfer_ = &downloader;
        if (cancel_.IsSet()) {
            downloader.abortFlag.exchange(1);
        }
    }
    const bool sized = downloader.Download();
    {
        std::lock_guard lock(surveyLock_);
        surveyTransfer_ = nullptr;
    }
    if (sized) {
        size = downloader.contentLength;
    } else {
        WriteLog("[ERROR][%s][%d] Failed to get content size of Server IP [%s].", "COstrelDlg::GetContentSize", 506,
                 HostAddressForLog(fileUrl).c_str());
        const std::string cause = DescribeTransferFailure(downloader.lastFailure());
        WriteLog("[ERROR][%s][%d] Size of [%s] unknown: %s.", "COstrelDlg::GetContentSize", __LINE__, fileUrl.c_str(),
                 cause.c_str());
        surveyFailures_.emplace_back(fileUrl, cause);
    }
    downloader.DeleteDownloadedFile();
    return sized;
}

bool CLauncher::GetTotalFilesSize(std::uint64_t& total) {
    const char* const origin = "COstrelDlg::GetTotalFilesSize";
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < config_.files.size(); ++i) {
        FileInfo& entry = *config_.files[i];
        if (!selection.IsFileSelected(i)) {
            continue;
        }
        // A dead main server is no end while a mirror answers.
        std::uint64_t size = 0;
        bool sized = false;
        surveyFailures_.clear(); // what tells the player is this file's, should its size stay unknown
        for (const std::string& source : SourcesOf(entry)) {
            sized = GetContentSize(source, size);
            if (sized) {
                break;
            }
            WriteLog("[ERROR][%s][%d] Failed to get content size of URL [%s].", origin, 546, source.c_str());
        }
        if (!sized) {
            total = 0;
            return false;
        }
        WriteLog("[DEBUG][%s][%d] URL [%s] size: [%I64u]", origin, 553, entry.url.c_str(), size);
        // Each size is one a file can have, but enough of them would wrap the total around.
        if (__builtin_add_overflow(sum, size, &sum)) {
            WriteLog("[ERROR][%s][%d] The sizes of the files add up to more than [%I64u] bytes with URL [%s].", origin,
                     __LINE__, std::numeric_limits<std::uint64_t>::max(), entry.url.c_str());
            surveyFailures_.assign(1, {entry.url, "the sizes of the files add up to more than any disk holds"});
            total = 0;
            return false;
        }
        entry.size.store(size);
    }
    WriteLog("[INFO][%s][%d] Total size of contents: [%I64u]", origin, 560, sum);
    stats.totalSize.store(sum);
    total = sum;
    return true;
}

int CLauncher::InitTotalInfo() {
    std::uint64_t total = 0;
    bool sized = GetTotalFilesSize(total);
    for (const char* retry :
         {"Failed to get total files size, retry.\n", "Failed to get total files size, 2nd retry.\n"}) {
        if (sized || cancel_.WaitFor(std::chrono::milliseconds(options_.surveyRetryPauseMs))) {
            break;
        }
        WriteLog(retry); // the program's own text, passed as the format so that its line feed stays one
        sized = GetTotalFilesSize(total);
    }
    if (cancel_.IsSet()) {
        return 0; // shutting down: nobody to tell
    }
    if (!sized) {
        WriteLog("[ERROR][%s][%d] Failed to get total files size.", "COstrelDlg::InitTotalInfo", 1122);
        OnView([this] {
            for (const auto& [url, cause] : surveyFailures_) {
                view_.SurveyFailed(url, cause);
            }
            ShowMessage(IDS_SIZE_UNKNOWN, IDS_TITLE_ERROR, MessageIcon::Error);
            view_.SetButtonStates(false, false, false, false);
            EndView(IDCANCEL);
        });
        return 0;
    }
    WriteLog("[INFO][%s][%d] Sucessfully get total files size.", "COstrelDlg::InitTotalInfo", 1135);
    OnView([this, total] {
        SetLabel(ST_TOTAL_SIZE, FormatSize(total));
        SetLabel(ST_FILE_SIZE, FormatSize(0));
        const int count = selection.RowCount() > 0 ? selection.CheckedCount() : static_cast<int>(config_.files.size());
        ShowCount(count, ST_TOTAL_COUNT);
        RefreshTotals();
    });
    return 1;
}
