#pragma once

#include "net/http_downloader.h"

class CLauncher;

// The downloader of a run: its hooks report to the launcher that owns it.
class CRunDownloader : public CHttpDownloader2 {
public:
    explicit CRunDownloader(CLauncher& launcher) : launcher_(launcher) {}

    void SetStatus(const std::string& text) override;
    void SetStatusId(int stringId) override;
    bool PromptForCredentials(std::uint32_t* code) override;
    void OnContentLength(std::uint64_t length) override;
    void OnProgress(std::uint64_t transferred, std::uint32_t bytesRead, bool lengthKnown,
                    std::uint64_t expectedFileSize, void* context) override;
    void OnRangeIgnored() override;

private:
    CLauncher& launcher_;
};
