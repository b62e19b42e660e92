#include "zip/zip_item_name.h"

#include <array>

namespace {

// Applies the first rule that matches and says whether one did. The names are UTF-8, where every
// byte of a multi-byte character is 0x80 or above: a byte search for these ASCII sequences can
// never match inside a character, so no double-byte awareness is needed.
bool ApplyOneRule(std::string& name) {
    if (name.size() >= 2 && name[1] == ':') {
        name.erase(0, 2);
        return true;
    }
    if (!name.empty() && (name[0] == '\\' || name[0] == '/')) {
        name.erase(0, 1);
        return true;
    }
    static constexpr std::array<const char*, 4> kParentElements = {"\\..\\", "\\../", "/../", "/..\\"};
    for (const char* element : kParentElements) {
        const std::size_t found = name.find(element);
        if (found != std::string::npos) {
            name.erase(0, found + 4);
            return true;
        }
    }
    return false;
}

} // namespace

std::string CleanZipItemName(std::string name) {
    while (ApplyOneRule(name)) {
    }
    return name;
}
