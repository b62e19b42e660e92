#include "cli/cli_arguments.h"

const char* const kCliUsage =
    "usage: ostrel-cli [--config FILE] [--dir DIR] [--only NAME]... [--overwrite | --continue]\n"
    "                  [--no-report] [--report-host HOST[:PORT]] [--no-exec] [-v]\n"
    "Fetches the files of the configuration, checks them, sends the end report and starts the installer,\n"
    "as the launcher's window does. Exit status: 0 every file passed the check, 1 the run is incomplete,\n"
    "2 usage or configuration error, 130 interrupted.\n";

std::optional<CliArguments> ParseCliArguments(const std::vector<std::string>& arguments, std::string& error) {
    CliArguments parsed;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        // Options that take a value.
        std::string* value = argument == "--config"        ? &parsed.configFile
                             : argument == "--dir"         ? &parsed.folder
                             : argument == "--report-host" ? &parsed.reportHost
                                                           : nullptr;
        if (value != nullptr || argument == "--only") {
            if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
                error = argument + " needs a value";
                return std::nullopt;
            }
            const std::string& next = arguments[++i];
            if (value != nullptr) {
                *value = next;
            } else {
                parsed.onlyFiles.push_back(next);
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
