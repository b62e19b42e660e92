#pragma once

#include <string>
#include <sys/types.h>

// Paths of this user and this program. None of them ends with a separator unless stated.

// $XDG_STATE_HOME when it is an absolute path, else ~/.local/state.
std::string StateHomeFolder();

// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
std::string ConfigHomeFolder();

// The name of this program's folder under those two, which holds its log and its settings.
std::string DataFolderName();

// The user's home folder ($HOME, else the password database).
std::string HomeFolder();

// The user's documents folder: XDG_DOCUMENTS_DIR of $XDG_CONFIG_HOME/user-dirs.dirs, else ~/Documents.
std::string DocumentsFolder();

// The private temporary folder ${TMPDIR:-/tmp}/ostrel-<uid>/, created with mode 0700. When that name
// is taken by something that is not a real folder of this user's (whoever comes first takes a fixed
// name in a shared folder), it is left alone and a stand-in is used, told in the log:
// $XDG_RUNTIME_DIR/ostrel/, else ${TMPDIR:-/tmp}/ostrel-<uid>-XXXXXX/, made once for the process. False
// when no folder can be made in ${TMPDIR:-/tmp} at all or no stand-in can be had. On success `path`
// ends with '/'.
bool PrivateTempFolder(std::string& path);

// Full path of the running program (/proc/self/exe); empty when it cannot be read.
std::string ProgramPath();

// Creates `path` and any missing parents with `mode`; existing levels are left alone, failures are ignored.
void MakeFolderPath(const std::string& path, mode_t mode = 0755);
