#pragma once

#include "net/http_downloader.h"

#include <chrono>
#include <cstdint>
#include <string>

// The downloader of ostrel-fetch: shows how far the transfer is on one line of standard error,
// at most four times a second, and keeps in plain words why a transfer failed.
class FetchDownloader : public CHttpDownloader2 {
public:
    void OnProgress(std::uint64_t transferred, std::uint32_t bytesRead, bool lengthKnown,
                    std::uint64_t expectedFileSize, void* context) override;
    // Ends the progress line, if one was written.
    void FinishProgressLine();

    void ReportError(int stringId, std::uint32_t code) override;
    void ReportErrorCode(int stringId, std::uint32_t number) override;
    bool PromptForCredentials(std::uint32_t* code) override;
    void OnContentLength(std::uint64_t length) override;
    // Why the last transfer failed, for a transfer that did.
    std::string FailureReason();

private:
    void PrintProgress(std::uint64_t transferred, bool lengthKnown, std::uint64_t expectedFileSize);

    using Clock = std::chrono::steady_clock;
    Clock::time_point started_ = Clock::now();
    Clock::time_point lastShown_{};
    std::uint32_t callsSinceCheck_ = 0;
    bool lineOpen_ = false;
    std::string reason_;
    bool sizeAnnounced_ = false;
};
