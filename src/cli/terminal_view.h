#pragma once

#include "config/config_loader.h"
#include "launcher/launcher_view.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

// The launcher on a terminal. On a terminal one live progress line, redrawn at most ten times a
// second, with the totals and, while several files transfer at once, how many; elsewhere one line per file start and
// end, so that the logs of scripts stay readable. Errors go to standard error in plain words. Names, URLs, paths and
// reasons come from servers and configurations and are shown with their control characters escaped. There is no thread
// of its own: the hand-over runs a change at once, under the view's lock.
class TerminalView : public LauncherView {
public:
    TerminalView(const CConfigLoader& config, std::FILE* out, std::FILE* err, bool live, bool canAsk);

    bool Call(std::function<void()> change) override;
    void SetLabel(int sectionType, const std::string& text) override;
    void SetBar(int controlType, int percent) override;
    void SetButtonStates(bool execution, bool download, bool stop, bool folder) override;
    void SetRowState(std::size_t fileIndex, const std::string& state) override;
    void SelectRow(std::size_t fileIndex) override;
    std::optional<int> AskOverwrite(const std::string& localPath) override;
    int ShowMessage(const MessageBoxRequest& message) override;
    std::optional<std::string> ChooseFolder(const std::string& start, std::uint64_t neededBytes) override;
    void FileFailed(std::size_t fileIndex, const std::string& reason) override;
    void FileNotice(std::size_t fileIndex, const std::string& text) override;
    void SurveyFailed(const std::string& url, const std::string& reason) override;
    void RunEnded(RunOutcome outcome) override;
    void EndView(int result) override;

    // The overwrite question gives way once `stopFd` is readable, as if dismissed.
    void GiveWayTo(int stopFd);
    // Waits until the run has ended or the launcher ended the view; the outcome of the run, if any.
    std::optional<RunOutcome> WaitForEnd();
    // The files whose transfer failed, in order.
    std::vector<std::string> FailedFiles() const;

private:
    using Clock = std::chrono::steady_clock;

    // One line of standard input without its line feed; nothing at its end or once the stop fd is readable.
    std::optional<std::string> ReadAnswer();
    void DrawLiveLine(bool force);
    // Prints a whole line, the live line moved out of the way first.
    void PrintLine(std::FILE* stream, const std::string& text);
    std::string NameOf(std::size_t fileIndex) const;

    const CConfigLoader& config_;
    std::FILE* out_;
    std::FILE* err_;
    const bool live_;
    const bool canAsk_;
    mutable std::recursive_mutex lock_;
    std::condition_variable_any ended_;
    std::map<int, std::string> labels_;
    bool lineOpen_ = false;
    Clock::time_point lastDrawn_;
    std::vector<std::string> failed_;
    std::set<std::size_t> inFlight_;                    // the files whose rows say they transfer
    std::map<std::size_t, std::string> failureReasons_; // told, and not yet printed with the failed row
    std::optional<RunOutcome> outcome_;
    bool viewEnded_ = false;
    int stopFd_ = -1;
};
