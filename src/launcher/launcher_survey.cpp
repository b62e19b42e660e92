#include "base/log.h"
#include "base/user_folders.h"
#include "launcher/format_text.h"
#include "launcher/launcher.h"
#include "launcher/parallel_walk.h"
#include "net/host_lookup.h"
#include "net/transfer_failure.h"
#include "res/string_table.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <unistd.h>
#include <vector>

namespace {

constexpr int IDS_SIZE_UNKNOWN = 154;
// More size requests at once than this add nothing a server would welcome.
constexpr int kMostSurveyConnections = 16;

// The scratch file of one thread of the survey: private to this user and, by its name, to this process and
// that thread.
std::string SurveyScratchFile(std::size_t worker) {
    std::string temp;
    if (!PrivateTempFolder(temp)) {
        return {};
    }
    return temp + "dummy-" + std::to_string(::getpid()) + "-" + std::to_string(worker);
}

} // namespace

bool CLauncher::GetContentSize(const std::string& fileUrl, const std::string& scratchFile, std::uint64_t& size,
                               std::optional<std::string>& rangeValidator, SurveyFailures& failures) {
    CHttpDownloader2 downloader;
    downloader.UseSharedConnections(true);
    downloader.url = fileUrl;
    downloader.localFileName = scratchFile;
    downloader.headOnly = 1;
    {
        // A shutdown from now on breaks this transfer; one that came before stops it before it starts.
        std::lock_guard lock(surveyLock_);
        surveyTransfers_.push_back(&downloader);
        if (cancel_.IsSet()) {
            downloader.abortFlag.exchange(1);
        }
    }
    const bool sized = downloader.Download();
    {
        std::lock_guard lock(surveyLock_);
        std::erase(surveyTransfers_, &downloader);
    }
    if (sized) {
        size = downloader.contentLength;
        rangeValidator = downloader.rangeValidator();
    } else {
        WriteLog("[ERROR][%s][%d] Failed to get content size of Server IP [%s].", "COstrelDlg::GetContentSize", 506,
                 HostAddressForLog(fileUrl).c_str());
        const std::string cause = DescribeTransferFailure(downloader.lastFailure());
        WriteLog("[ERROR][%s][%d] Size of [%s] unknown: %s.", "COstrelDlg::GetContentSize", __LINE__, fileUrl.c_str(),
                 cause.c_str());
        failures.emplace_back(fileUrl, cause);
    }
    downloader.DeleteDownloadedFile();
    return sized;
}

std::optional<std::uint64_t> CLauncher::SurveyFile(std::size_t fileIndex, const std::string& scratchFile,
                                                   SurveyFailures& failures) {
    const char* const origin = "COstrelDlg::GetTotalFilesSize";
    FileInfo& entry = *config_.files[fileIndex];
    // A dead main server is no end while a mirror answers.
    for (const std::string& source : SourcesOf(entry)) {
        std::uint64_t size = 0;
        std::optional<std::string> rangeValidator;
        if (GetContentSize(source, scratchFile, size, rangeValidator, failures)) {
            WriteLog("[DEBUG][%s][%d] URL [%s] size: [%I64u]", origin, 553, entry.url.c_str(), size);
            entry.size.store(size);
            std::lock_guard lock(rangeValidatorsLock_);
            // Pieces come from the main server alone; a mirror's version tells nothing of its.
            rangeValidators_[fileIndex] = source == entry.url ? rangeValidator : std::nullopt;
            return size;
        }
        WriteLog("[ERROR][%s][%d] Failed to get content size of URL [%s].", origin, 546, source.c_str());
    }
    return std::nullopt;
}

bool CLauncher::GetTotalFilesSize(std::uint64_t& total) {
    const char* const origin = "COstrelDlg::GetTotalFilesSize";
    std::vector<std::size_t> asked;
    for (std::size_t i = 0; i < config_.files.size(); ++i) {
        if (selection.IsFileSelected(i)) {
            asked.push_back(i);
        }
    }
    struct Answer {
        std::optional<std::uint64_t> size;
        SurveyFailures failures;
    };
    std::vector<Answer> answers(asked.size());
    const std::size_t connections =
        static_cast<std::size_t>(std::clamp(config_.surveyConnections, 1, kMostSurveyConnections));
    std::vector<std::string> scratchFiles;
    for (std::size_t worker = 0; worker < connections; ++worker) {
        scratchFiles.push_back(SurveyScratchFile(worker));
    }
    // Side by side, the lines of each file's requests go to the log together once its size is known or not;
    // a request alone writes them as they come, for whoever watches it.
    const bool sideBySide = std::min(connections, asked.size()) > 1;
    // After a file whose size stays unknown nothing more is asked: the attempt has failed.
    WalkInParallel(connections, asked.size(), [&](std::size_t worker, std::size_t k) {
        std::optional<HeldLogLines> held;
        if (sideBySide) {
            held.emplace();
        }
        Answer& answer = answers[k];
        answer.size = SurveyFile(asked[k], scratchFiles[worker], answer.failures);
        return answer.size.has_value();
    });

    // Added in the files' order, whatever order the answers came in: the same file ends a failed survey.
    std::uint64_t sum = 0;
    for (std::size_t k = 0; k < asked.size(); ++k) {
        const Answer& answer = answers[k];
        if (!answer.size) {
            surveyFailures_ = answer.failures; // what tells the player is this file's
            total = 0;
            return false;
        }
        const FileInfo& entry = *config_.files[asked[k]];
        // Each size is one a file can have, but enough of them would wrap the total around.
        if (__builtin_add_overflow(sum, *answer.size, &sum)) {
            WriteLog("[ERROR][%s][%d] The sizes of the files add up to more than [%I64u] bytes with URL [%s].", origin,
                     __LINE__, std::numeric_limits<std::uint64_t>::max(), entry.url.c_str());
            surveyFailures_.assign(1, {entry.url, "the sizes of the files add up to more than any disk holds"});
            total = 0;
            return false;
        }
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
