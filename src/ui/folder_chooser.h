#pragma once

#include <cstdint>
#include <optional>
#include <string>

class QWidget;

// The text under the folder chooser: the space the selected files need and what the highlighted
// folder's file system has left.
std::string FolderStatusText(std::uint64_t neededBytes, const std::string& highlightedFolder);

// Lets the user pick a download folder, starting at `start`; nothing when cancelled.
std::optional<std::string> ChooseDownloadFolder(QWidget* owner, const std::string& start, std::uint64_t neededBytes);
