#include "launcher/run_downloader.h"

#include "config/config_records.h"
#include "net/download_file.h"
#include "res/string_table.h"

CRunDownloader::CRunDownloader(RunDownloaderHooks hooks) : hooks_(std::move(hooks)) {
    // The run goes on over the connections the survey kept alive: a new one costs its handshake.
    UseSharedConnections(true);
    // Pieces of the write buffer's size reach the file without a copy, and a gibibyte costs 65536
    // progress reports instead of a million.
    readBufferSize = static_cast<int>(DownloadFile::kBufferSize);
}

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
