#pragma once

#include <cstdint>
#include <mutex>
#include <string>

class CHttpDownloader2;

// Files on this computer that the launcher and the skin loading share.

// Size of the regular file at `path`; 0 when there is none (a link counts as none) or it cannot be
// measured.
std::uint64_t GetLocalFileSize(const std::string& path);

// The name of the file at `path`, as the player sees it in the folder: what follows the last '/'.
std::string FileNameOfPath(const std::string& path);

// Sets a file whose bytes are wrong aside as `path`.corrupt, not deleted: the bytes may tell support what
// went wrong, and the next run fetches it anew. `corrupt` gets that name; false when it cannot be renamed.
bool SetAsideAsCorrupt(const std::string& path, std::string& corrupt);

// Where a URL is fetched to in the private temporary folder; empty when the URL gives no file name or
// there is no such folder.
std::string TempPathForUrl(const std::string& fileUrl);

// Fetches URLs into TempPathForUrl, one after another on one thread, while another thread may give
// up on them.
class TempFolderFetch {
public:
    // A skin file larger than a skin may unpack to is no skin: a server that streams without end must
    // not fill the disk.
    static constexpr std::uint64_t kMaxFileBytes = 256ULL * 1024 * 1024;
    explicit TempFolderFetch(std::uint64_t maxFileBytes = kMaxFileBytes) : maxFileBytes_(maxFileBytes) {}

    // Fetches one URL with a downloader of its own; true on success. Nothing is deleted on failure.
    bool Download(const std::string& fileUrl);
    // Any thread: the fetch under way fails at once, and every later one without a request.
    void Cancel();

private:
    std::mutex lock_;
    CHttpDownloader2* running_ = nullptr;
    bool cancelled_ = false;
    const std::uint64_t maxFileBytes_;
};
