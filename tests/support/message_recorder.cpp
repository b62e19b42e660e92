#include "support/message_recorder.h"

MessageRecorder::MessageRecorder(int answer) : answer_(answer) {
    previous_ = SetMessageBoxHandler([this](const MessageBoxRequest& request) {
        std::lock_guard lock(lock_);
        seen_.push_back(request);
        return answer_;
    });
}

MessageRecorder::~MessageRecorder() {
    SetMessageBoxHandler(previous_);
}

std::vector<MessageBoxRequest> MessageRecorder::Seen() const {
    std::lock_guard lock(lock_);
    return seen_;
}

void MessageRecorder::SetAnswer(int answer) {
    std::lock_guard lock(lock_);
    answer_ = answer;
}
