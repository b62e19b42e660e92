#include "app/config_sources.h"

#include "app/user_folders.h"
#include "res/string_table.h"

namespace {

constexpr std::size_t kMaxPath = 260;

} // namespace

ConfigSources DefaultConfigSources() {
    return {EmbeddedConfig(), LoadStringId(158), ProgramPath()};
}

std::string TrimWhiteSpace(const std::string& text) {
    const char* const blanks = " \t\n\v\f\r";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string ConfigPathBeside(const std::string& programPath) {
    std::string folder = programPath.substr(0, kMaxPath - 1);
    const std::size_t slash = folder.rfind('/');
    folder.resize(slash == std::string::npos ? 0 : slash + 1);
    return (folder + "config.xml").substr(0, kMaxPath - 1);
}

int StartupMessageId(int result) {
    switch (result) {
    case CONFIG_OK:
    case CONFIG_MISSING_ATTRIBUTE: // the loader has already warned
        return 0;
    case CONFIG_PARSE_FAILED:
        return 160;
    case CONFIG_NO_BASE:
        return 159;
    default:
        return 138;
    }
}

int LoadConfigurationFromSources(CConfigLoader& config, const ConfigSources& sources) {
    if (sources.embedded.present()) {
        return config.LoadFromString(reinterpret_cast<const char*>(sources.embedded.data));
    }
    return config.Load(ConfigPathBeside(sources.programPath));
}
