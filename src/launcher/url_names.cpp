#include "launcher/url_names.h"

#include "net/url_parser.h"

#include <cctype>

namespace {

constexpr std::size_t kMaxPath = 259;

} // namespace

std::string FileNameOfUrl(const std::string& url) {
    const std::size_t slash = url.rfind('/');
    if (slash == std::string::npos) {
        return url;
    }
    if (slash == 0) {
        return {};
    }
    return url.substr(slash + 1);
}

std::string DisplayNameOfUrl(const std::string& url) {
    const std::size_t scheme = url.find("//");
    if (scheme == 0) {
        return url;
    }
    const std::size_t start = scheme == std::string::npos ? 1 : scheme + 2;
    const std::size_t slash = url.find('/', start);
    return slash == std::string::npos ? url : url.substr(slash + 1);
}

bool IsUrl(const std::string& name) {
    const std::size_t colon = name.find(':');
    // One letter before the colon is a drive, not a scheme.
    if (colon == std::string::npos || colon < 2 || !std::isalpha(static_cast<unsigned char>(name[0]))) {
        return false;
    }
    for (std::size_t i = 1; i < colon; ++i) {
        const char c = name[i];
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') {
            return false;
        }
    }
    return true;
}

std::string SafeFolderName(const std::string& name) {
    if (name == "." || name == "..") {
        return "_";
    }
    std::string safe = name;
    for (char& c : safe) {
        if (c == '/' || c == '\\') {
            c = '_';
        }
    }
    return safe;
}

std::optional<std::string> LocalPathForUrl(const std::string& folder, const std::string& url) {
    if (url.empty()) {
        return std::nullopt;
    }
    const std::string name = FileNameOfUrl(url);
    if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\") != std::string::npos) {
        return std::nullopt;
    }
    std::string path = folder + "/" + name;
    if (path.size() > kMaxPath) {
        return std::nullopt;
    }
    return path;
}

std::string ServerOfUrl(const std::string& url) {
    ParsedUrl parsed;
    return ParseUrl(url, parsed) ? FormatAuthority(parsed.serverName, parsed.serverPort) : std::string();
}
