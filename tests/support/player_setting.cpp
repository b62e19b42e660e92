#include "support/player_setting.h"

#include "support/example_config.h"

std::string PlayerSetting::Configuration(const std::string& fileElements,
                                         const std::function<void(std::string&)>& edit) const {
    return ExampleConfiguration(fileElements, edit);
}

std::string PlayerSetting::File(const std::string& name, const std::string& attributes) const {
    return FileElement(served.Url("/" + name), attributes);
}
