#include "base/fd_io.h"
#include "base/log.h"
#include "launcher/launcher.h"
#include "launcher/local_files.h"
#include "launcher/url_names.h"
#include "net/file_validator.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kOrigin = "COstrelDlg::_DownloadThread";

using Proof = VerifiedFiles::Proof;

std::string PartPathOf(const std::string& localPath) {
    return localPath + ".part";
}

} // namespace

std::optional<SegmentedDownload::Plan> CLauncher::SegmentPlanFor(std::size_t k, const Transfer& t) {
    const FileInfo& entry = *config_.files[k];
    const int connections = std::clamp(config_.connections, 1, CConfigLoader::kMaxConnections);
    const std::uint64_t size = entry.size.load();
    std::optional<std::string> validator;
    {
        std::lock_guard lock(rangeValidatorsLock_);
        validator = rangeValidators_[k];
    }
    if (connections < 2 || size < SegmentedDownload::kSmallestFile || !validator) {
        return std::nullopt;
    }
    // A part of the file on disk is continued as it was begun; the player's own file stays until the
    // new one is whole, and only when the player chose to overwrite it.
    struct stat st {};
    const bool absent = ::lstat(entry.localPath.c_str(), &st) != 0 && errno == ENOENT;
    const bool replaced = !absent && S_ISREG(st.st_mode) && t.overwritten && StampOf(entry.localPath) == t.overwritten;
    if (!absent && !replaced) {
        return std::nullopt;
    }
    const std::string part = PartPathOf(entry.localPath);
    // Another file of the list may have that very name.
    if (std::any_of(config_.files.begin(), config_.files.end(),
                    [this, &part](const auto& other) { return MakeLocalPath(other->url) == part; })) {
        return std::nullopt;
    }
    SegmentedDownload::Plan plan;
    plan.url = entry.url;
    plan.partPath = part;
    plan.size = size;
    plan.validator = *validator;
    plan.origin = ServerOfUrl(entry.url);
    plan.connections = static_cast<std::size_t>(connections);
    plan.hashed = !entry.sha256.empty();
    return plan;
}

bool CLauncher::TransferInSegments(std::size_t k, Transfer& t, std::optional<Failure>& failure,
                                   std::optional<Sha256Bytes>& digest) {
    const std::optional<SegmentedDownload::Plan> plan = SegmentPlanFor(k, t);
    if (!plan) {
        return false;
    }
    FileInfo& entry = *config_.files[k];
    bool oneConnection = false;
    bool fetchedSecure = false;
    failure = WithRetries(t, [&]() -> std::optional<Attempted> {
        SegmentedDownload download(*plan, [this, &entry] {
            auto d = std::make_unique<CRunDownloader>(MakeDownloaderHooks());
            d->SetProgressContext(&entry);
            return d;
        });
        const std::optional<std::uint64_t> there = download.Open();
        if (!there) {
            oneConnection = true;
            return Attempted{{}, Failure{}};
        }
        entry.receivedSize.store(*there);
        UpdateTotalReceived();
        if (shownFile_.load() == &entry) {
            stats.speedBaseline.store(*there);
        }
        if (download.Run(t.downloader.abortFlag, t.downloader.maxBytesPerMs)) {
            fetchedSecure = *there == 0 && download.verifiedSecure();
            digest = download.digest();
            return std::nullopt;
        }
        const TransferFailure& why = download.failure();
        if (why.answerFault != AnswerFault::None && !Stopping()) {
            // The server does not keep to the ranges it offered: one connection, as any server gets.
            oneConnection = true;
            return Attempted{{}, Failure{}};
        }
        return Attempted{why, std::nullopt};
    });
    if (oneConnection) {
        WriteLog("[INFO][%s][%d] [%s] is fetched over one connection.", kOrigin, __LINE__, entry.url.c_str());
        if (HasFileSegments(plan->partPath)) {
            ::unlink(plan->partPath.c_str());
        }
        failure.reset();
        return false;
    }
    if (!failure) {
        failure = CompleteSegments(k, *plan, fetchedSecure);
    }
    return true;
}

void CLauncher::DropPart(std::size_t k) {
    const FileInfo& entry = *config_.files[k];
    const std::string part = PartPathOf(entry.localPath);
    // Only a part of ours: whatever else has that name is the player's.
    if (LoadFileSegments(part, entry.size.load()) && ::unlink(part.c_str()) == 0) {
        WriteLog("[INFO][%s][%d] [%s] is whole: its part [%s] is gone.", kOrigin, __LINE__, entry.localPath.c_str(),
                 part.c_str());
    }
}

std::optional<CLauncher::Failure> CLauncher::CompleteSegments(std::size_t k, const SegmentedDownload::Plan& plan,
                                                              bool fetchedSecure) {
    const FileInfo& entry = *config_.files[k];
    if (std::rename(plan.partPath.c_str(), entry.localPath.c_str()) != 0) {
        WriteLog("[ERROR][%s][%d] Cannot make [%s] the file [%s]: %s.", kOrigin, __LINE__, plan.partPath.c_str(),
                 entry.localPath.c_str(), std::strerror(errno));
        return Failure{FileNameOfPath(plan.partPath) + " could not be renamed to " + FileNameOfPath(entry.localPath),
                       true};
    }
    SyncFolderOf(entry.localPath);
    verified_.Note(Proof::Transport, k, fetchedSecure ? StampOf(entry.localPath) : std::nullopt);
    return std::nullopt;
}
