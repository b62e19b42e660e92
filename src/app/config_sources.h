#pragma once

#include "config/config_loader.h"
#include "net/release_signature.h"
#include "res/embedded.h"

#include <optional>
#include <string>
#include <vector>

// Where start-up looks for the configuration, in this order: the embedded copy, the configuration
// URL, config.xml beside the program. A file named on the command line replaces all three. With
// release keys, a configuration from any of them but the embedded copy is taken only with a good
// signature beside it (NAME.sig), and only when it pins the bytes of every file it may start.
struct ConfigSources {
    EmbeddedBytes embedded;
    std::string configUrl;
    std::string programPath;
    std::string commandLineFile;
    std::optional<std::vector<ReleaseKey>> releaseKeys = std::nullopt; // nothing: no signature is asked for
};

// The sources of this build and this process.
ConfigSources DefaultConfigSources();

// Fills `config` from the first source that yields text and returns that loader's result.
int LoadConfigurationFromSources(CConfigLoader& config, const ConfigSources& sources);

// config.xml in the program's folder, however deep that folder lies.
std::string ConfigPathBeside(const std::string& programPath);

// The string ID of the message start-up shows for a load result; 0 for none.
int StartupMessageId(int result);

// Tells the player which attribute of which element the configuration lacks.
void ShowMissingAttributeWarning(const MissingAttribute& missing);

// Tells the player why `config` did not load: the missing attribute, or the message of the result.
void ShowStartupMessage(int result, const CConfigLoader& config);

// Text without leading and trailing space, tab, line feed, vertical tab, form feed and carriage return.
std::string TrimWhiteSpace(const std::string& text);
