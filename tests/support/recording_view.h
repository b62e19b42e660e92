#pragma once

#include "launcher/launcher_view.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Button states as a view shows them.
struct ButtonStates {
    bool execution = false, download = false, stop = false, folder = false;
    bool operator==(const ButtonStates&) const = default;
};
std::ostream& operator<<(std::ostream& out, const ButtonStates& states);

constexpr ButtonStates kNone{false, false, false, false};
constexpr ButtonStates kStarting{false, true, false, false};
constexpr ButtonStates kReady{false, true, false, true};
constexpr ButtonStates kRunning{false, false, true, false};
constexpr ButtonStates kStopped{false, true, false, true};
constexpr ButtonStates kCompleted{true, false, false, true};

// A view that keeps what the launcher shows and answers its questions as told. Its "thread" is
// whichever thread holds its lock: Call runs the change at once under it, so what the launcher does
// on the view's behalf never overlaps. Tests act as the view's thread through OnViewThread.
class RecordingView : public LauncherView {
public:
    bool Call(std::function<void()> change) override;
    void SetLabel(int sectionType, const std::string& text) override;
    void SetBar(int controlType, int percent) override;
    void SetButtonStates(bool execution, bool download, bool stop, bool folder) override;
    void SetRowState(std::size_t fileIndex, const std::string& state) override;
    void SelectRow(std::size_t fileIndex) override;
    std::optional<int> AskOverwrite(const std::string& localPath) override;
    int ShowMessage(const MessageBoxRequest& message) override;
    std::optional<std::string> ChooseFolder(const std::string& start, std::uint64_t neededBytes) override;
    void RunEnded(RunOutcome outcome) override;
    void EndView(int result) override;

    // Runs `action` as the view's thread would.
    void OnViewThread(const std::function<void()>& action);
    // From now on Call refuses changes, as a closed window does.
    void Shut();
    // A new view in its place, for the next start of the program: nothing shown, nothing asked yet.
    void Reopen();
    // Waits until `condition` holds (looked at under the lock after every change), at most `timeout`.
    bool WaitUntil(const std::function<bool()>& condition,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // What was shown; read them under the lock (OnViewThread or WaitUntil) while the launcher works.
    std::map<int, std::string> labels;
    std::map<int, int> bars;
    ButtonStates buttons;
    std::map<std::size_t, std::string> rowStates;
    std::vector<std::size_t> selectedRows;
    std::vector<MessageBoxRequest> messages;
    std::vector<std::string> questionsAsked;                         // local paths
    std::vector<std::pair<std::string, std::uint64_t>> foldersAsked; // start, needed
    std::vector<RunOutcome> outcomes;
    std::optional<int> endResult;

    // Answers: taken in order, then the fallback.
    std::deque<std::optional<int>> overwriteAnswers;
    std::optional<int> overwriteFallback = 1;
    std::deque<int> messageAnswers;
    std::deque<std::optional<std::string>> folderAnswers;
    // Runs inside the overwrite question before it is answered (the player acting meanwhile).
    std::function<void()> duringQuestion;
    // Runs as a label is shown (something else on the desktop acting meanwhile).
    std::function<void(int sectionType, const std::string& text)> onLabel;

    std::vector<std::string> MessageTexts() const;

private:
    void Changed();

    mutable std::recursive_mutex lock_;
    std::condition_variable_any changed_;
    bool shut_ = false;
};
