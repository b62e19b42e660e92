#include "support/recording_view.h"

#include <ostream>

std::ostream& operator<<(std::ostream& out, const ButtonStates& s) {
    return out << "{exec " << s.execution << " download " << s.download << " stop " << s.stop << " folder " << s.folder
               << "}";
}

bool RecordingView::Call(std::function<void()> change) {
    std::lock_guard lock(lock_);
    if (shut_) {
        return false;
    }
    change();
    Changed();
    return true;
}

void RecordingView::SetLabel(int sectionType, const std::string& text) {
    std::lock_guard lock(lock_);
    labels[sectionType] = text;
    if (onLabel) {
        onLabel(sectionType, text);
    }
    Changed();
}

void RecordingView::SetBar(int controlType, int percent) {
    std::lock_guard lock(lock_);
    bars[controlType] = percent;
    Changed();
}

void RecordingView::SetButtonStates(bool execution, bool download, bool stop, bool folder) {
    std::lock_guard lock(lock_);
    buttons = {execution, download, stop, folder};
    Changed();
}

void RecordingView::SetRowState(std::size_t fileIndex, const std::string& state) {
    std::lock_guard lock(lock_);
    rowStates[fileIndex] = state;
    Changed();
}

void RecordingView::SelectRow(std::size_t fileIndex) {
    std::lock_guard lock(lock_);
    selectedRows.push_back(fileIndex);
    Changed();
}

std::optional<int> RecordingView::AskOverwrite(const std::string& localPath) {
    std::lock_guard lock(lock_);
    questionsAsked.push_back(localPath);
    if (duringQuestion) {
        duringQuestion();
    }
    std::optional<int> answer = overwriteFallback;
    if (!overwriteAnswers.empty()) {
        answer = overwriteAnswers.front();
        overwriteAnswers.pop_front();
    }
    Changed();
    return answer;
}

int RecordingView::ShowMessage(const MessageBoxRequest& message) {
    std::lock_guard lock(lock_);
    messages.push_back(message);
    int answer = message.buttons == MessageButtons::YesNo ? IDYES : IDOK;
    if (!messageAnswers.empty()) {
        answer = messageAnswers.front();
        messageAnswers.pop_front();
    }
    Changed();
    return answer;
}

std::optional<std::string> RecordingView::ChooseFolder(const std::string& start, std::uint64_t neededBytes) {
    std::lock_guard lock(lock_);
    foldersAsked.emplace_back(start, neededBytes);
    std::optional<std::string> answer;
    if (!folderAnswers.empty()) {
        answer = folderAnswers.front();
        folderAnswers.pop_front();
    }
    Changed();
    return answer;
}

void RecordingView::RunEnded(RunOutcome outcome) {
    std::lock_guard lock(lock_);
    outcomes.push_back(outcome);
    Changed();
}

void RecordingView::EndView(int result) {
    std::lock_guard lock(lock_);
    endResult = result;
    Changed();
}

void RecordingView::OnViewThread(const std::function<void()>& action) {
    std::lock_guard lock(lock_);
    action();
    Changed();
}

void RecordingView::Shut() {
    std::lock_guard lock(lock_);
    shut_ = true;
    Changed();
}

void RecordingView::Reopen() {
    std::lock_guard lock(lock_);
    labels.clear();
    bars.clear();
    buttons = {};
    rowStates.clear();
    selectedRows.clear();
    messages.clear();
    questionsAsked.clear();
    foldersAsked.clear();
    outcomes.clear();
    endResult.reset();
    shut_ = false;
}

bool RecordingView::WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, timeout, condition);
}

std::vector<std::string> RecordingView::MessageTexts() const {
    std::lock_guard lock(lock_);
    std::vector<std::string> texts;
    for (const auto& message : messages) {
        texts.push_back(message.text);
    }
    return texts;
}

void RecordingView::Changed() {
    changed_.notify_all();
}
