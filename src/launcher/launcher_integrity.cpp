#include "base/log.h"
#include "launcher/launcher.h"
#include "launcher/local_files.h"
#include "launcher/url_names.h"

#include <string>
#include <sys/stat.h>

namespace {

using Proof = VerifiedFiles::Proof;

} // namespace

bool CLauncher::AcceptDigest(std::size_t fileIndex, const Sha256Bytes& digest, const char* origin,
                             std::string* whyNot) {
    const FileInfo& entry = *config_.files[fileIndex];
    const std::optional<Sha256Bytes> expected = ParseSha256(entry.sha256);
    if (!expected || digest == *expected) {
        verified_.Note(Proof::Digest, fileIndex, StampOf(entry.localPath));
        return true;
    }
    std::string corrupt;
    const bool setAside = SetAsideAsCorrupt(entry.localPath, corrupt);
    WriteLog("[ERROR][%s][%d] SHA-256 differs: Expected [%s] vs Local [%s][%s]; %s [%s].", origin, __LINE__,
             entry.sha256.c_str(), Sha256Hex(digest).c_str(), entry.url.c_str(),
             setAside ? "the file is kept as" : "the file could not be renamed to", corrupt.c_str());
    if (whyNot != nullptr) {
        const std::string name = FileNameOfPath(corrupt);
        *whyNot = "damaged in transfer (SHA-256 differs); " +
                  (setAside ? "kept as " + name : "it could not be renamed to " + name);
    }
    verified_.Note(Proof::Digest, fileIndex, std::nullopt);
    return false;
}

bool CLauncher::VerifyOnDisk(std::size_t fileIndex, const char* origin, std::string* whyNot) {
    const FileInfo& entry = *config_.files[fileIndex];
    if (entry.sha256.empty()) {
        return true;
    }
    const std::optional<FileStamp> now = StampOf(entry.localPath);
    if (verified_.Vouches(Proof::Digest, fileIndex, now)) {
        return true; // checked as it was written, and unchanged since
    }
    Sha256Digest digest;
    // A complete file of several gigabytes takes a while: a stop must not wait for it.
    const auto stopping = [this] { return Stopping(); };
    if (!now || !HashFilePrefix(entry.localPath, now->size, digest, stopping)) {
        if (stopping()) {
            WriteLog("[INFO][%s][%d] The SHA-256 check of [%s] was stopped.", origin, __LINE__,
                     entry.localPath.c_str());
            return false;
        }
        WriteLog("[ERROR][%s][%d] Cannot read [%s] to check its SHA-256.", origin, __LINE__, entry.localPath.c_str());
        if (whyNot != nullptr) {
            *whyNot = "the file cannot be read to check its SHA-256";
        }
        return false;
    }
    return AcceptDigest(fileIndex, digest.Final(), origin, whyNot);
}

bool CLauncher::FetchNotingSecurity(std::size_t fileIndex, CRunDownloader& d) {
    const std::optional<FileStamp> before = StampOf(d.localFileName);
    const bool keptSecure = d.startOffset == 0 || verified_.Vouches(Proof::Transport, fileIndex, before);
    const bool fetched = d.Download();
    const std::optional<FileStamp> after = StampOf(d.localFileName);
    if (after != before) {
        // A transfer that wrote the file from its first byte after all reads a start offset of 0.
        const bool secure = d.verifiedSecure() && (d.startOffset == 0 || keptSecure);
        verified_.Note(Proof::Transport, fileIndex, secure ? after : std::nullopt);
    }
    return fetched;
}

bool CLauncher::IsVouchedFor(std::size_t fileIndex, int fd) {
    const FileInfo& entry = *config_.files[fileIndex];
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return false;
    }
    if (entry.sha256.empty()) {
        return verified_.Vouches(Proof::Transport, fileIndex, StampOfStatus(st));
    }
    // Read through the descriptor: the bytes checked are the bytes that start.
    Sha256Digest digest;
    const std::string opened = "/proc/self/fd/" + std::to_string(fd);
    return HashFilePrefix(opened, static_cast<std::uint64_t>(st.st_size), digest, [this] { return Stopping(); }) &&
           ParseSha256(entry.sha256) == digest.Final();
}

std::uint64_t CLauncher::MissingBytes(const std::string& folder) const {
    // Without an answer yet, existing files are counted as continued, which is what a closed question does.
    const bool overwriteAll = overwriteChoice.load() == 3;
    std::uint64_t missing = 0;
    for (std::size_t i = 0; i < config_.files.size(); ++i) {
        if (!selection.IsFileSelected(i)) {
            continue;
        }
        const FileInfo& entry = *config_.files[i];
        const std::uint64_t size = entry.size.load();
        const std::uint64_t local =
            overwriteAll ? 0 : GetLocalFileSize(LocalPathForUrl(folder, entry.url).value_or(std::string()));
        missing += local <= size ? size - local : size; // a larger file is set aside and fetched again whole
    }
    return missing;
}
