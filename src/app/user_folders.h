#pragma once

#include <string>

// Paths of this user and this program. None of them ends with a separator unless stated.

// $XDG_STATE_HOME when it is an absolute path, else ~/.local/state.
std::string StateHomeFolder();

// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
std::string ConfigHomeFolder();

// The user's home folder ($HOME, else the password database).
std::string HomeFolder();

// The user's documents folder: XDG_DOCUMENTS_DIR of $XDG_CONFIG_HOME/user-dirs.dirs, else ~/Documents.
std::string DocumentsFolder();

// The private temporary folder ${TMPDIR:-/tmp}/ostrel-<uid>/, created with mode 0700. Refused (false)
// when the path is not a real folder owned by this user, since fixed names in a shared folder are unsafe.
// On success `path` ends with '/'.
bool PrivateTempFolder(std::string& path);

// Full path of the running program (/proc/self/exe); empty when it cannot be read.
std::string ProgramPath();

// Creates `path` and any missing parents; existing levels are left alone, failures are ignored.
void MakeFolderPath(const std::string& path);
