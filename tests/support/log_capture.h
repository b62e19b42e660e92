#pragma once

#include "support/temp_dir.h"

#include <string>
#include <vector>

// Points the log at a fresh folder for its lifetime and reads back what was written there.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();

    // Every log file's text, in file-name order.
    std::string Text() const;
    // The lines of Text() without their time stamps.
    std::vector<std::string> Messages() const;
    // True when some message equals `message`.
    bool Contains(const std::string& message) const;
    // How many messages begin with `prefix`.
    int CountStartingWith(const std::string& prefix) const;

    const std::string& stateHome() const { return dir_.path(); }

private:
    TempDir dir_;
    std::string previous_;
    bool hadPrevious_ = false;
};
