#pragma once

#include "support/log_capture.h"
#include "support/scoped_env.h"
#include "support/served_folder.h"
#include "support/temp_dir.h"

#include <functional>
#include <string>

// What a player's machine is to one test: a private home, configuration and temporary folder, the log
// captured, and the game's files served on loopback.
class PlayerSetting {
public:
    // The example configuration whose <Files> element holds `fileElements`, after `edit`.
    std::string Configuration(const std::string& fileElements,
                              const std::function<void(std::string&)>& edit = nullptr) const;
    // `<File Url="<served url of name>" <attributes>/>`
    std::string File(const std::string& name, const std::string& attributes = "") const;
    // The default download folder of the example configuration.
    std::string DownloadFolder() const { return home.path() + "/Documents/AmbrelLauncher"; }

    TempDir home;
    ScopedEnv homeEnv{"HOME", home.path()};
    ScopedEnv configEnv{"XDG_CONFIG_HOME", home.File("config")};
    ScopedEnv tmpEnv{"TMPDIR", home.path()};
    LogCapture log;
    ServedFolder served;
};
