#include "release/release_arguments.h"

#include <utility>

const char* const kReleaseUsageText =
    "usage: ostrel-release keygen KEY\n"
    "       ostrel-release files DIR --base-url URL [--installer NAME]... [--into CONFIG]\n"
    "       ostrel-release sign CONFIG --key KEY\n"
    "       ostrel-release verify CONFIG --pub KEY.pub\n"
    "keygen writes a new Ed25519 private key to KEY (mode 0600; an existing KEY is never overwritten) and its\n"
    "public key to KEY.pub.\n"
    "files prints the <Files> element for every file below DIR as served under URL, each with its SHA-256;\n"
    "the installers (paths below DIR) are started by the launcher. --into replaces the <Files> element of\n"
    "CONFIG in place instead.\n"
    "sign writes CONFIG.sig, the signature of CONFIG under KEY; verify checks it against KEY.pub.\n"
    "Exit status: 0 done (verify: a good signature), 1 failed (verify: no good signature), 2 usage error.\n"
    "--version prints the program's name and version.\n";

namespace {

struct Command {
    const char* name;
    ReleaseCommand command;
};
constexpr Command kCommands[] = {{"keygen", ReleaseCommand::Keygen},
                                 {"files", ReleaseCommand::Files},
                                 {"sign", ReleaseCommand::Sign},
                                 {"verify", ReleaseCommand::Verify}};

// The option taking a value that `argument` names for `command`, or nothing.
std::string* ValueOption(ReleaseArguments& parsed, const std::string& argument) {
    switch (parsed.command) {
    case ReleaseCommand::Files:
        return argument == "--base-url" ? &parsed.baseUrl : argument == "--into" ? &parsed.into : nullptr;
    case ReleaseCommand::Sign:
        return argument == "--key" ? &parsed.privateKey : nullptr;
    case ReleaseCommand::Verify:
        return argument == "--pub" ? &parsed.publicKey : nullptr;
    default:
        return nullptr;
    }
}

// The option each command cannot do without, empty when none.
std::string MissingOption(const ReleaseArguments& parsed) {
    if (parsed.command == ReleaseCommand::Files && parsed.baseUrl.empty()) {
        return "--base-url";
    }
    if (parsed.command == ReleaseCommand::Sign && parsed.privateKey.empty()) {
        return "--key";
    }
    if (parsed.command == ReleaseCommand::Verify && parsed.publicKey.empty()) {
        return "--pub";
    }
    return {};
}

const char* const kPathNames[] = {"", "KEY", "DIR", "CONFIG", "CONFIG"};

} // namespace

std::optional<ReleaseArguments> ParseReleaseArguments(const std::vector<std::string>& arguments, std::string& error) {
    ReleaseArguments parsed;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "-h" || argument == "--help") {
            parsed.help = true;
            continue;
        }
        if (argument == "--version") {
            parsed.version = true;
            continue;
        }
        if (parsed.command == ReleaseCommand::None) {
            for (const Command& command : kCommands) {
                if (argument == command.name) {
                    parsed.command = command.command;
                }
            }
            if (parsed.command == ReleaseCommand::None) {
                error = "unknown command " + argument;
                return std::nullopt;
            }
            continue;
        }
        std::string* value = ValueOption(parsed, argument);
        const bool installer = parsed.command == ReleaseCommand::Files && argument == "--installer";
        if (value != nullptr || installer) {
            if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
                error = argument + " needs a value";
                return std::nullopt;
            }
            if (installer) {
                parsed.installers.push_back(arguments[++i]);
            } else {
                *value = arguments[++i];
            }
        } else if (argument.starts_with("-")) {
            error = "unknown argument " + argument;
            return std::nullopt;
        } else {
            positional.push_back(argument);
        }
    }
    if (parsed.help || parsed.version) {
        return parsed;
    }
    if (parsed.command == ReleaseCommand::None) {
        error = "no command";
        return std::nullopt;
    }
    const char* pathName = kPathNames[static_cast<int>(parsed.command)];
    if (positional.size() != 1) {
        error = positional.empty() ? std::string("no ") + pathName : "more than one " + std::string(pathName);
        return std::nullopt;
    }
    parsed.path = std::move(positional.front());
    if (const std::string missing = MissingOption(parsed); !missing.empty()) {
        error = missing + " is needed";
        return std::nullopt;
    }
    return parsed;
}
