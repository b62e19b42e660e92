#include "support/log_capture.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

LogCapture::LogCapture() {
    if (const char* value = std::getenv("XDG_STATE_HOME")) {
        previous_ = value;
        hadPrevious_ = true;
    }
    ::setenv("XDG_STATE_HOME", dir_.path().c_str(), 1);
}

LogCapture::~LogCapture() {
    if (hadPrevious_) {
        ::setenv("XDG_STATE_HOME", previous_.c_str(), 1);
    } else {
        ::unsetenv("XDG_STATE_HOME");
    }
}

std::string LogCapture::Text() const {
    std::vector<std::string> files;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path() + "/Harnlow", ignored)) {
        files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    std::string text;
    for (const auto& file : files) {
        text += ReadWholeFile(file);
    }
    return text;
}

std::vector<std::string> LogCapture::Messages() const {
    std::vector<std::string> messages;
    std::istringstream in(Text());
    for (std::string line; std::getline(in, line);) {
        // "[hh:mm:ss:mmm] " is 15 characters; lines without it are continuations of a message.
        messages.push_back(line.size() >= 15 && line[0] == '[' && line[13] == ']' ? line.substr(15) : line);
    }
    return messages;
}

bool LogCapture::Contains(const std::string& message) const {
    const auto messages = Messages();
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

int LogCapture::CountStartingWith(const std::string& prefix) const {
    const auto messages = Messages();
    return static_cast<int>(
        std::count_if(messages.begin(), messages.end(), [&](const std::string& m) { return m.rfind(prefix, 0) == 0; }));
}
