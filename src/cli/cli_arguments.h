#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What ostrel-cli was asked to do.
struct CliArguments {
    std::string configFile;                  // empty: the usual sources
    std::string folder;                      // empty: the usual default folder
    std::vector<std::string> onlyFiles;      // empty: every file of the configuration
    std::optional<std::uint64_t> speedLimit; // bytes per second, 0: none; not given: the launcher's own
    bool overwrite = false;
    bool keep = false; // --continue
    bool report = true;
    std::string reportHost; // empty: the host built in
    bool execute = true;
    bool verbose = false;
    bool help = false;
    bool version = false;
};

// The arguments, or nothing with `error` telling what is wrong.
std::optional<CliArguments> ParseCliArguments(const std::vector<std::string>& arguments, std::string& error);

extern const char* const kCliUsage;
