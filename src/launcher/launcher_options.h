#pragma once

#include "net/end_report.h"

#include <cstdint>
#include <optional>
#include <string>

// How a view wants the launcher to behave, fixed when it makes the launcher.
struct LauncherOptions {
    // Whether the player's choices (the folder a run starts with, the speed limit) are kept for the next
    // start; a view that is no player's (a service's script) leaves them alone.
    bool keepChoices = true;
    // Where the end report goes (host[:port]); no report at all when empty.
    std::string reportHost = DefaultReportHost();
    // Whether a complete run starts the installer the configuration names.
    bool executeAfterRun = true;
    // Pause between the attempts of the size survey.
    unsigned long surveyRetryPauseMs = 1000;
    // The answer of the overwrite question to start with (8: none yet).
    int overwriteChoice = 8;
    // The speed limit in bytes per second (0: none) in place of the one kept from earlier starts or
    // configured.
    std::optional<std::uint64_t> speedLimit;
};
