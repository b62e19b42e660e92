#include "cli/terminal_view.h"

#include "base/printable_text.h"
#include "launcher/row_states.h"
#include "launcher/url_names.h"
#include "res/string_table.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr auto kLiveLineInterval = std::chrono::milliseconds(100);

// The launcher's messages, said plainly for the logs of scripts.
struct PlainMessage {
    int stringId;
    const char* text;
};
constexpr PlainMessage kPlainMessages[] = {
    {140, "not enough free space in the download folder"},
    {144, "the download was stopped"},
    {152, "the downloaded installer could not be started"},
    // Each failed file has told its own cause and remedy; a damaged one is not mended by running again.
    {153, "some files are incomplete"},
    {154, "the server did not tell the size of every file"},
    {161, "the downloaded installer was not started: nothing vouches for its bytes"},
};

std::string Plain(const std::string& text) {
    for (const PlainMessage& message : kPlainMessages) {
        if (text == LoadStringId(message.stringId)) {
            return message.text;
        }
    }
    return text;
}

} // namespace

TerminalView::TerminalView(const CConfigLoader& config, std::FILE* out, std::FILE* err, bool live, bool canAsk)
    : config_(config), out_(out), err_(err), live_(live), canAsk_(canAsk) {}

bool TerminalView::Call(std::function<void()> change) {
    std::lock_guard lock(lock_);
    change();
    return true;
}

void TerminalView::SetLabel(int sectionType, const std::string& text) {
    std::lock_guard lock(lock_);
    labels_[sectionType] = PrintableText(text);
    DrawLiveLine(false);
}

void TerminalView::SetBar(int, int) {}

void TerminalView::SetButtonStates(bool, bool, bool, bool) {}

void TerminalView::SetRowState(std::size_t fileIndex, const std::string& state) {
    std::lock_guard lock(lock_);
    const std::string name = NameOf(fileIndex);
    if (state == kStateTransferring || !MirrorOfState(state).empty()) {
        inFlight_.insert(fileIndex);
    } else {
        inFlight_.erase(fileIndex);
    }
    if (state == kStateTransferring) {
        if (!live_) {
            PrintLine(out_, "started " + name);
        }
    } else if (state == kStateDone) {
        PrintLine(out_, "done " + name);
    } else if (state == kStateSkipped) {
        PrintLine(out_, "skipped " + name + " (already complete)");
    } else if (const std::string mirror = MirrorOfState(state); !mirror.empty()) {
        PrintLine(out_, "started " + name + " again from mirror " + mirror);
    } else if (state == kStateUnverified) {
        const auto reason = failureReasons_.extract(fileIndex);
        PrintLine(err_, "not started " + name + (reason ? ": " + PrintableText(reason.mapped()) : std::string()));
    } else if (state == kStateFailed) {
        failed_.push_back(config_.files[fileIndex]->url);
        // With its reason the line is an error; without one it is one more line of the progress.
        if (const auto reason = failureReasons_.extract(fileIndex)) {
            PrintLine(err_, "failed " + name + ": " + PrintableText(reason.mapped()));
        } else {
            PrintLine(out_, "failed " + name);
        }
    }
}

void TerminalView::FileFailed(std::size_t fileIndex, const std::string& reason) {
    std::lock_guard lock(lock_);
    failureReasons_[fileIndex] = reason;
}

void TerminalView::FileNotice(std::size_t fileIndex, const std::string& text) {
    std::lock_guard lock(lock_);
    PrintLine(err_, "ostrel-cli: " + NameOf(fileIndex) + ": " + PrintableText(text));
}

void TerminalView::SurveyFailed(const std::string& url, const std::string& reason) {
    std::lock_guard lock(lock_);
    PrintLine(err_, "ostrel-cli: the size of " + PrintableText(url) + " is unknown: " + PrintableText(reason));
}

void TerminalView::SelectRow(std::size_t) {}

std::optional<int> TerminalView::AskOverwrite(const std::string& localPath) {
    std::lock_guard lock(lock_);
    if (!canAsk_) {
        return std::nullopt; // continue, which destroys nothing
    }
    PrintLine(err_, PrintableText(localPath) + " exists.");
    for (;;) {
        std::fprintf(err_, "[c]ontinue it, [o]verwrite it, continue [a]ll, overwrite a[l]l? [c] ");
        std::fflush(err_);
        const std::optional<std::string> answer = ReadAnswer();
        if (!answer) {
            return std::nullopt;
        }
        const char choice = answer->empty() ? 'c' : (*answer)[0];
        switch (choice) {
        case 'c':
            return 0;
        case 'a':
            return 1;
        case 'o':
            return 2;
        case 'l':
            return 3;
        default:
            break;
        }
    }
}

void TerminalView::GiveWayTo(int stopFd) {
    std::lock_guard lock(lock_);
    stopFd_ = stopFd;
}

std::optional<std::string> TerminalView::ReadAnswer() {
    std::string line;
    for (;;) {
        pollfd waits[2] = {{STDIN_FILENO, POLLIN, 0}, {stopFd_, POLLIN, 0}}; // a negative fd is left out
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (waits[1].revents != 0) {
            std::fputc('\n', err_); // the question's line ends here, not in the shell's prompt
            std::fflush(err_);
            return std::nullopt;
        }
        // One byte at a time, so that nothing after the line is taken from the next question.
        char byte = 0;
        const ssize_t n = ::read(STDIN_FILENO, &byte, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return std::nullopt;
        }
        if (byte == '\n') {
            return line;
        }
        line += byte;
    }
}

int TerminalView::ShowMessage(const MessageBoxRequest& message) {
    std::lock_guard lock(lock_);
    PrintLine(err_, "ostrel-cli: " + Plain(message.text));
    return message.buttons == MessageButtons::YesNo ? IDYES : IDOK;
}

std::optional<std::string> TerminalView::ChooseFolder(const std::string&, std::uint64_t) {
    return std::nullopt;
}

void TerminalView::RunEnded(RunOutcome outcome) {
    std::lock_guard lock(lock_);
    DrawLiveLine(true);
    if (lineOpen_) {
        std::fputc('\n', out_);
        lineOpen_ = false;
    }
    outcome_ = outcome;
    ended_.notify_all();
}

void TerminalView::EndView(int) {
    std::lock_guard lock(lock_);
    viewEnded_ = true;
    ended_.notify_all();
}

std::optional<RunOutcome> TerminalView::WaitForEnd() {
    std::unique_lock lock(lock_);
    ended_.wait(lock, [this] { return outcome_.has_value() || viewEnded_; });
    return outcome_;
}

std::vector<std::string> TerminalView::FailedFiles() const {
    std::lock_guard lock(lock_);
    return failed_;
}

void TerminalView::DrawLiveLine(bool force) {
    const auto now = Clock::now();
    if (!live_ || labels_[ST_FILE_NAME].empty() || (!force && now - lastDrawn_ < kLiveLineInterval)) {
        return;
    }
    lastDrawn_ = now;
    // The file fields tell of one file; the others in flight are counted.
    const std::string others =
        inFlight_.size() > 1 ? "  (" + std::to_string(inFlight_.size()) + " files at once)" : std::string();
    std::fprintf(out_, "\r\033[K%s %s  %s / %s (%s)  %s  %s%s", labels_[ST_FILE_NAME].c_str(),
                 labels_[ST_FILE_DOWNLOAD_RATE].c_str(), labels_[ST_TOTAL_RECV_SIZE].c_str(),
                 labels_[ST_TOTAL_SIZE].c_str(), labels_[ST_TOTAL_DOWNLOAD_RATE].c_str(), labels_[ST_SPEED].c_str(),
                 labels_[ST_REMAIN_TIME].c_str(), others.c_str());
    std::fflush(out_);
    lineOpen_ = true;
}

void TerminalView::PrintLine(std::FILE* stream, const std::string& text) {
    if (lineOpen_) {
        std::fputs("\r\033[K", out_);
        std::fflush(out_);
        lineOpen_ = false;
    }
    std::fprintf(stream, "%s\n", text.c_str());
    std::fflush(stream);
}

std::string TerminalView::NameOf(std::size_t fileIndex) const {
    return PrintableText(DisplayNameOfUrl(config_.files[fileIndex]->url));
}
