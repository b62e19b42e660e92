#include "launcher/local_files.h"

#include "base/log.h"
#include "base/user_folders.h"
#include "launcher/url_names.h"
#include "net/http_downloader.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::uint64_t GetLocalFileSize(const std::string& path) {
    if (path.empty()) {
        return 0;
    }
    // A link counts as no file: what it points at is not the player's download. Without O_NONBLOCK a
    // FIFO would hold the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return 0;
    }
    struct stat st {};
    const bool measured = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return measured ? static_cast<std::uint64_t>(st.st_size) : 0;
}

std::string FileNameOfPath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TempPathForUrl(const std::string& fileUrl) {
    std::string folder;
    if (!PrivateTempFolder(folder)) {
        return {};
    }
    folder.pop_back(); // the trailing separator
    return LocalPathForUrl(folder, fileUrl).value_or(std::string());
}

bool TempFolderFetch::Download(const std::string& fileUrl) {
    if (fileUrl.empty()) {
        WriteLog("[ERROR][%s][%d] Invalid URL.", "COstrelDlg::DownloadFile", 732);
        return false;
    }
    const std::string path = TempPathForUrl(fileUrl);
    if (path.empty()) {
        WriteLog("[ERROR][%s][%d] No local file name for URL [%s].", "COstrelDlg::DownloadFile", __LINE__,
                 fileUrl.c_str());
        return false;
    }
    CHttpDownloader2 downloader;
    downloader.url = fileUrl;
    downloader.localFileName = path;
    downloader.expectedSize = maxFileBytes_;
    {
        std::lock_guard lock(lock_);
        if (cancelled_) {
            return false;
        }
        running_ = &downloader;
    }
    const bool fetched = downloader.Download();
    std::lock_guard lock(lock_);
    running_ = nullptr;
    return fetched && !cancelled_;
}

void TempFolderFetch::Cancel() {
    std::lock_guard lock(lock_);
    cancelled_ = true;
    if (running_ != nullptr) {
        running_->abortFlag.exchange(1);
        running_->CloseHandles();
    }
}

bool SetAsideAsCorrupt(const std::string& path, std::string& corrupt) {
    corrupt = path + ".corrupt";
    return std::rename(path.c_str(), corrupt.c_str()) == 0;
}
