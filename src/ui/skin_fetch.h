#pragma once

#include "launcher/local_files.h"

#include <QTimer>
#include <memory>
#include <string>

class QWidget;

// The skin's downloads at start-up, each on a thread of its own while this thread goes on handling
// its events. When they take a while, a small window says so; closing it gives them up.
class SkinFetch {
public:
    SkinFetch();
    ~SkinFetch();
    SkinFetch(const SkinFetch&) = delete;
    SkinFetch& operator=(const SkinFetch&) = delete;

    // Fetches `url` into the temporary folder and waits for it; true when it arrived. Once the player
    // gave up, false at once.
    bool Download(const std::string& url);
    // Whether the player closed the window.
    bool GaveUp() const { return gaveUp_; }

private:
    void ShowWindow();
    void GiveUp();

    TempFolderFetch fetch_;
    QTimer showTimer_;
    std::unique_ptr<QWidget> window_;
    bool gaveUp_ = false;
};
