#pragma once

#include "base/message_box.h"

#include <mutex>
#include <vector>

// Answers every message box in place of the user and keeps what was shown.
class MessageRecorder {
public:
    explicit MessageRecorder(int answer = IDOK);
    ~MessageRecorder();

    std::vector<MessageBoxRequest> Seen() const;
    void SetAnswer(int answer);

private:
    mutable std::mutex lock_;
    std::vector<MessageBoxRequest> seen_;
    int answer_;
    MessageBoxHandler previous_;
};
