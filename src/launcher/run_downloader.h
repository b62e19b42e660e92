#pragma once

#include "net/http_downloader.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

struct FileInfo;

// What a run's downloader reports, and to whom: the owner of the run.
struct RunDownloaderHooks {
    std::function<void(const std::string& text)> showStatus;
    // `entry` is the file of the transfer (its progress context).
    std::function<void(std::uint64_t transferred, std::uint32_t bytesRead, bool lengthKnown, FileInfo* entry)> progress;
    std::function<void(FileInfo* entry)> rangeIgnored;
};

// The downloader of a run: its hooks report to the owner of the run.
class CRunDownloader : public CHttpDownloader2 {
public:
    explicit CRunDownloader(RunDownloaderHooks hooks);

    void SetStatus(const std::string& text) override;
    void SetStatusId(int stringId) override;
    bool PromptForCredentials(std::uint32_t* code) override;
    void OnContentLength(std::uint64_t length) override;
    void OnProgress(std::uint64_t transferred, std::uint32_t bytesRead, bool lengthKnown,
                    std::uint64_t expectedFileSize, void* context) override;
    void OnRangeIgnored() override;

private:
    RunDownloaderHooks hooks_;
};
