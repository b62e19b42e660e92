#pragma once

#include "net/http_downloader.h"

#include <cstdint>
#include <ostream>
#include <vector>

// One OnProgress call.
struct ProgressCall {
    std::uint64_t transferred;
    std::uint32_t bytesRead;
    bool lengthKnown;
    std::uint64_t expectedFileSize;

    bool operator==(const ProgressCall&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const ProgressCall& call) {
    return out << "{" << call.transferred << ", " << call.bytesRead << ", " << call.lengthKnown << ", "
               << call.expectedFileSize << "}";
}

// The calls a transfer of `bodyBytes` in pieces of `pieceSize` makes, ending with the empty read.
inline std::vector<ProgressCall> ExpectedProgress(std::uint64_t bodyBytes, std::uint32_t pieceSize, bool lengthKnown,
                                                  std::uint64_t expectedFileSize) {
    std::vector<ProgressCall> calls;
    std::uint64_t done = 0;
    while (done < bodyBytes) {
        const auto piece = static_cast<std::uint32_t>(std::min<std::uint64_t>(pieceSize, bodyBytes - done));
        done += piece;
        calls.push_back({done, piece, lengthKnown, expectedFileSize});
    }
    calls.push_back({done, 0, lengthKnown, expectedFileSize});
    return calls;
}

// A downloader that keeps its progress calls and can stand in for the window's hooks.
class RecordingDownloader : public CHttpDownloader2 {
public:
    std::vector<ProgressCall> progress;
    std::vector<void*> contexts;
    int abortAtCall = 0;                // sets abortFlag inside this OnProgress call (1-based); 0: never
    bool alwaysResend = false;          // PromptForCredentials answers "send again", as the window's does
    bool abortInOnDownloadData = false; // a stop arrives while the first piece is handed over
    int prompts = 0;

    void OnProgress(std::uint64_t transferred, std::uint32_t bytesRead, bool lengthKnown,
                    std::uint64_t expectedFileSize, void* context) override {
        progress.push_back({transferred, bytesRead, lengthKnown, expectedFileSize});
        contexts.push_back(context);
        if (static_cast<int>(progress.size()) == abortAtCall) {
            abortFlag.exchange(1);
        }
    }

    bool OnDownloadData(const char* data, std::uint32_t size) override {
        if (abortInOnDownloadData) {
            abortFlag.exchange(1);
        }
        return CHttpDownloader2::OnDownloadData(data, size);
    }

    bool PromptForCredentials(std::uint32_t* code) override {
        ++prompts;
        return alwaysResend || CHttpDownloader2::PromptForCredentials(code);
    }
};
