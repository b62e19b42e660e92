#include "fetch/fetch_progress.h"

#include <cstdio>

namespace {

constexpr auto kInterval = std::chrono::milliseconds(250);
constexpr std::uint32_t kCallsBetweenClockChecks = 64; // a call per KiB: the clock is read far less often
// The text the engine reports an unexpected HTTP status with.
constexpr int kStatusReport = 113;

} // namespace

void FetchDownloader::OnProgress(std::uint64_t transferred, std::uint32_t bytesRead, bool lengthKnown,
                                 std::uint64_t expectedFileSize, void*) {
    const bool last = bytesRead == 0;
    if (!last && ++callsSinceCheck_ < kCallsBetweenClockChecks) {
        return;
    }
    callsSinceCheck_ = 0;
    const auto now = Clock::now();
    if (last || now - lastShown_ >= kInterval) {
        lastShown_ = now;
        PrintProgress(transferred, lengthKnown, expectedFileSize);
    }
}

void FetchDownloader::PrintProgress(std::uint64_t transferred, bool lengthKnown, std::uint64_t expectedFileSize) {
    const std::uint64_t onDisk = expectedFileSize - (lengthKnown ? contentLength : 0) + transferred;
    const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
    const double speed = seconds > 0 ? static_cast<double>(transferred) / seconds / 1048576.0 : 0.0;
    if (lengthKnown && expectedFileSize > 0) {
        std::fprintf(stderr, "\r%llu / %llu bytes (%3.0f%%) %.1f MiB/s  ", static_cast<unsigned long long>(onDisk),
                     static_cast<unsigned long long>(expectedFileSize),
                     100.0 * static_cast<double>(onDisk) / static_cast<double>(expectedFileSize), speed);
    } else {
        std::fprintf(stderr, "\r%llu bytes %.1f MiB/s  ", static_cast<unsigned long long>(onDisk), speed);
    }
    lineOpen_ = true;
}

void FetchDownloader::FinishProgressLine() {
    if (lineOpen_) {
        std::fputc('\n', stderr);
        lineOpen_ = false;
    }
}

void FetchDownloader::ReportError(int stringId, std::uint32_t code) {
    CHttpDownloader2::ReportError(stringId, code);
    reason_ = code != 0 ? FormatErrorText(code) : std::string();
    if (reason_.empty()) {
        reason_ = "error " + std::to_string(code);
    }
}

void FetchDownloader::ReportErrorCode(int stringId, std::uint32_t number) {
    CHttpDownloader2::ReportErrorCode(stringId, number);
    if (stringId != kStatusReport) {
        reason_ = "error " + std::to_string(number);
    } else if (number == 206) {
        reason_ = "the server sent another part of the file than the one asked for";
    } else {
        reason_ = "HTTP status " + std::to_string(number);
    }
}

bool FetchDownloader::PromptForCredentials(std::uint32_t* code) {
    reason_ = "the server asks for credentials";
    return CHttpDownloader2::PromptForCredentials(code);
}

void FetchDownloader::OnContentLength(std::uint64_t length) {
    sizeAnnounced_ = true;
    CHttpDownloader2::OnContentLength(length);
}

std::string FetchDownloader::FailureReason() {
    if (IsAbortRequested()) {
        return "stopped";
    }
    if (!reason_.empty()) {
        return reason_;
    }
    if (serverName.empty()) {
        return "the URL cannot be read";
    }
    if (headOnly != 0 && !sizeAnnounced_) {
        return "the server announced no size";
    }
    return "the transfer failed";
}
