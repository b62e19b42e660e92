#include "cli/cli_arguments.h"

#include <charconv>
#include <limits>

const char* const kCliUsage =
    "usage: ostrel-cli [--config FILE] [--dir DIR] [--only NAME]... [--overwrite | --continue]\n"
    "                  [--limit RATE] [--no-report] [--report-host HOST[:PORT]] [--no-exec] [-v]\n"
    "Fetches the files of the configuration, checks them, sends the end report and starts the installer,\n"
    "as the launcher's window does. Exit status: 0 every file passed the check, 1 the run is incomplete,\n"
    "2 usage or configuration error, 130 interrupted.\n"
    "--limit RATE caps the download speed at RATE bytes per second; a suffix K or M multiplies by 1024\n"
    "or 1048576 (2M = 2 MiB/s), and 0 means no limit.\n"
    "--version prints the program's name and version, and whether configurations must be signed (with\n"
    "the fingerprint of each release key).\n";

namespace {

// A byte rate: digits with an optional suffix K or M (in either letter case), 1024-based; nothing when
// malformed or beyond 64 bits.
std::optional<std::uint64_t> ParseByteRate(std::string text) {
    std::uint64_t unit = 1;
    if (!text.empty() && (text.back() == 'K' || text.back() == 'k')) {
        unit = 1024;
        text.pop_back();
    } else if (!text.empty() && (text.back() == 'M' || text.back() == 'm')) {
        unit = 1024 * 1024;
        text.pop_back();
    }
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end ||
        value > std::numeric_limits<std::uint64_t>::max() / unit) {
        return std::nullopt;
    }
    return value * unit;
}

} // namespace

std::optional<CliArguments> ParseCliArguments(const std::vector<std::string>& arguments, std::string& error) {
    CliArguments parsed;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        // Options that take a value.
        std::string* value = argument == "--config"        ? &parsed.configFile
                             : argument == "--dir"         ? &parsed.folder
                             : argument == "--report-host" ? &parsed.reportHost
                                                           : nullptr;
        if (value != nullptr || argument == "--only" || argument == "--limit") {
            if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
                error = argument + " needs a value";
                return std::nullopt;
            }
            const std::string& next = arguments[++i];
            if (value != nullptr) {
                *value = next;
            } else if (argument == "--only") {
                parsed.onlyFiles.push_back(next);
            } else if (parsed.speedLimit = ParseByteRate(next); !parsed.speedLimit) {
                error = "--limit needs a byte rate such as 500K or 2M, not " + next;
                return std::nullopt;
            }
        } else if (argument == "--overwrite") {
            parsed.overwrite = true;
        } else if (argument == "--continue") {
            parsed.keep = true;
        } else if (argument == "--no-report") {
            parsed.report = false;
        } else if (argument == "--no-exec") {
            parsed.execute = false;
        } else if (argument == "-v" || argument == "--verbose") {
            parsed.verbose = true;
        } else if (argument == "-h" || argument == "--help") {
            parsed.help = true;
        } else if (argument == "--version") {
            parsed.version = true;
        } else {
            error = "unknown argument " + argument;
            return std::nullopt;
        }
    }
    if (parsed.overwrite && parsed.keep) {
        error = "--overwrite and --continue exclude each other";
        return std::nullopt;
    }
    return parsed;
}
