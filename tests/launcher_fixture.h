#pragma once

#include "config/config_loader.h"
#include "launcher/launcher.h"
#include "net/download_file.h"
#include "support/player_setting.h"
#include "support/recording_view.h"

#include <cstddef>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The recording view with what the launcher tells of failures and notices. The launcher tells them through
// Call, so they are recorded under the view's lock; read them as the other records.
// Every write of a transfer fails with `error` (ENOSPC, EROFS, ...) while it lives.
class ScopedWriteFault {
public:
    explicit ScopedWriteFault(int error) { DownloadFile::SetWriteFault(error); }
    ~ScopedWriteFault() { DownloadFile::SetWriteFault(0); }
    ScopedWriteFault(const ScopedWriteFault&) = delete;
    ScopedWriteFault& operator=(const ScopedWriteFault&) = delete;
};

class LauncherRecordingView : public RecordingView {
public:
    void FileFailed(std::size_t fileIndex, const std::string& reason) override;
    void FileNotice(std::size_t fileIndex, const std::string& text) override;
    void SurveyFailed(const std::string& url, const std::string& reason) override;

    using Told = std::vector<std::pair<std::size_t, std::string>>;
    Told failures;
    Told notices;
    std::vector<std::pair<std::string, std::string>> surveyFailures; // URL, reason
    // The state of the failed file's row when its failure was told.
    std::vector<std::string> rowStateWhenFailed;
};

// A launcher with a recording view, in a private home, temporary folder and log, its files served on
// loopback. The configuration is the embedded example with its files (and any other text) replaced.
class LauncherTest : public ::testing::Test, protected PlayerSetting {
protected:
    LauncherTest();
    ~LauncherTest() override;

    // Loads `configuration` and makes the launcher, with `options`, with the rows its file list would have.
    CLauncher& Make(const std::string& configuration);
    // Makes it and waits for the start: the survey, the default folder, the Ready state.
    CLauncher& Open(const std::string& configuration);

    // As the view's thread: Download, then the end of the run (false when no run started).
    bool Run();
    // What the view shows, read safely.
    ButtonStates Buttons();
    std::string Label(int section);
    std::vector<std::string> RowStates();

    std::string Local(const std::string& name) const { return DownloadFolder() + "/" + name; }
    void WriteLocal(const std::string& name, const std::string& content) const;
    std::size_t CountRequests(const std::string& method, const std::string& target) const;
    // The Range headers of the GETs of `target`, in order.
    std::vector<std::string> Ranges(const std::string& target) const;

    static std::string HexDigest(const std::string& bytes);
    // The example configuration's Base asks for `retries`.
    static std::function<void(std::string&)> Retries(int retries);
    // The example configuration's Base transfers `connections` files at the same time.
    static std::function<void(std::string&)> Connections(int connections);

    CConfigLoader config;
    std::string appDownloadPath;
    // A short pause between survey attempts, and the end report to the served folder.
    LauncherOptions options;
    LauncherRecordingView view;
    std::unique_ptr<CLauncher> launcher;
};

// The same with a second server that holds the same files: a mirror.
class MirroredLauncherTest : public LauncherTest {
protected:
    // The launcher lets go of its connections before the mirror stops, which would wait for them.
    ~MirroredLauncherTest() override;

    // A <File> element of `mainUrl` with the mirror's `name` as its mirror.
    std::string WithMirror(const std::string& mainUrl, const std::string& name,
                           const std::string& attributes = "") const;
    static std::vector<RecordedRequest> Gets(const ServedFolder& server, const std::string& target);

    ServedFolder mirror;
};
