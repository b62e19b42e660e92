#include "launcher/child_environment.h"

#include <algorithm>
#include <sstream>
#include <unistd.h>

namespace {

constexpr char kChangedList[] = "OSTREL_CHANGED_ENV";
constexpr char kPlayerPrefix[] = "OSTREL_PLAYER_";

std::string NameOf(const std::string& entry) {
    return entry.substr(0, entry.find('='));
}

std::string ValueOf(const std::string& entry) {
    const std::size_t equals = entry.find('=');
    return equals == std::string::npos ? std::string() : entry.substr(equals + 1);
}

} // namespace

std::vector<std::string> ChildEnvironment(const std::vector<std::string>& current) {
    std::vector<std::string> changed;
    for (const std::string& entry : current) {
        if (NameOf(entry) == kChangedList) {
            std::istringstream names(ValueOf(entry));
            for (std::string name; names >> name;) {
                changed.push_back(name);
            }
        }
    }
    std::vector<std::string> child;
    std::vector<std::string> restored;
    for (const std::string& entry : current) {
        const std::string name = NameOf(entry);
        if (name.starts_with(kPlayerPrefix)) {
            const std::string original = name.substr(sizeof kPlayerPrefix - 1);
            if (std::find(changed.begin(), changed.end(), original) != changed.end()) {
                restored.push_back(original + "=" + ValueOf(entry));
            }
        } else if (name != kChangedList && std::find(changed.begin(), changed.end(), name) == changed.end()) {
            child.push_back(entry);
        }
    }
    child.insert(child.end(), restored.begin(), restored.end());
    return child;
}

std::vector<std::string> InstallerEnvironment() {
    std::vector<std::string> current;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        current.emplace_back(*entry);
    }
    return ChildEnvironment(current);
}
