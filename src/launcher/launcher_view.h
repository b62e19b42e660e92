#pragma once

#include "base/message_box.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// How a download run ended.
enum class RunOutcome {
    Stopped,    // the player stopped it
    Incomplete, // some file failed its check (no report), or the installer's bytes changed before its start
    Complete,   // every file passed; the report was sent and the installer started as configured
};

// What shows the launcher to the player: the window, or a terminal. The launcher calls it only
// through the hand-over, `Call`, so that every other member runs on the view's own thread.
class LauncherView {
public:
    virtual ~LauncherView() = default;

    // Runs `change` on the view's thread and returns once it has run (at once on that thread). False
    // when the view takes no more changes; `change` has then not run.
    virtual bool Call(std::function<void()> change) = 0;

    // Texts of the sections (SectionType) and positions of the bars (CT_FILE_DOWNLOAD_RATE,
    // CT_TOTAL_DOWNLOAD_RATE), 0 to 100.
    virtual void SetLabel(int sectionType, const std::string& text) = 0;
    virtual void SetBar(int controlType, int percent) = 0;
    virtual void SetButtonStates(bool execution, bool download, bool stop, bool folder) = 0;

    // The state word of a file's row, and the row of the file being fetched.
    virtual void SetRowState(std::size_t fileIndex, const std::string& state) = 0;
    virtual void SelectRow(std::size_t fileIndex) = 0;

    // The overwrite question for an existing file: 0 to 3, nothing when dismissed.
    virtual std::optional<int> AskOverwrite(const std::string& localPath) = 0;
    // A modal message; the button pressed (IDOK, IDYES or IDNO).
    virtual int ShowMessage(const MessageBoxRequest& message) = 0;
    // A download folder, starting at `start`; nothing when cancelled.
    virtual std::optional<std::string> ChooseFolder(const std::string& start, std::uint64_t neededBytes) = 0;

    // Why a file failed, in plain words: the cause, and for a server's fault its URL ("disk full",
    // "http://.../a.pak: HTTP status 404"). Told before its row turns "실패".
    virtual void FileFailed(std::size_t fileIndex, const std::string& reason) {
        (void)fileIndex;
        (void)reason;
    }
    // Something done to one of the player's files that the player should hear of, in plain words (a file
    // larger than the server's set aside).
    virtual void FileNotice(std::size_t fileIndex, const std::string& text) {
        (void)fileIndex;
        (void)text;
    }
    // The size survey could not learn the size of `url`, and why, in plain words.
    virtual void SurveyFailed(const std::string& url, const std::string& reason) {
        (void)url;
        (void)reason;
    }

    // A run is over, its completion included.
    virtual void RunEnded(RunOutcome outcome) = 0;
    // The launcher is done: the view ends with `result` (IDOK or IDCANCEL).
    virtual void EndView(int result) = 0;
};
