#pragma once

#include <optional>
#include <string>
#include <vector>

// What ostrel-release was asked to do.
enum class ReleaseCommand { None, Keygen, Files, Sign, Verify };

struct ReleaseArguments {
    ReleaseCommand command = ReleaseCommand::None;
    std::string path;                    // keygen: KEY; files: DIR; sign and verify: CONFIG
    std::string baseUrl;                 // files: the URL DIR is served under
    std::vector<std::string> installers; // files: relative paths of the installers
    std::string into;                    // files: the configuration whose <Files> element is replaced
    std::string privateKey;              // sign: --key
    std::string publicKey;               // verify: --pub
    bool help = false;
    bool version = false;
};

// The arguments, or nothing with `error` telling what is wrong.
std::optional<ReleaseArguments> ParseReleaseArguments(const std::vector<std::string>& arguments, std::string& error);

extern const char* const kReleaseUsageText;
