#include "launcher/run_downloader.h"

#include "config/config_records.h"
#include "res/string_table.h"

void CRunDownloader::SetStatus(const std::string& text) {
    hooks_.showStatus(text);
}

void CRunDownloader::SetStatusId(int stringId) {
    SetStatus(LoadStringId(stringId));
}

bool CRunDownloader::PromptForCredentials(std::uint32_t*) {
    // Send again: the credentials of the configuration may be applied by then (at most three times).
    return true;
}

void CRunDownloader::OnContentLength(std::uint64_t) {}

void CRunDownloader::OnProgress(std::uint64_t transferred, std::uint32_t bytesRead, bool lengthKnown, std::uint64_t,
                                void* context) {
    hooks_.progress(transferred, bytesRead, lengthKnown, static_cast<FileInfo*>(context));
}

void CRunDownloader::OnRangeIgnored() {
    hooks_.rangeIgnored(static_cast<FileInfo*>(progressContext));
}
