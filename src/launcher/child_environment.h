#pragma once

#include <string>
#include <vector>

// The portable bundle's start script changes a few variables for the bundled Qt (and the archive's
// header exports a few of its own). It names every variable it changed, space-separated, in
// OSTREL_CHANGED_ENV and keeps the player's value of each in OSTREL_PLAYER_<name>. The launcher
// starts installers with the player's environment: what was changed goes back to the player's value,
// or away when the player had none, and the record itself is dropped. Without a record the
// environment passes unchanged.

// `current` and the result hold "NAME=value" entries.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& current);

// ChildEnvironment of this process's environment.
std::vector<std::string> InstallerEnvironment();
