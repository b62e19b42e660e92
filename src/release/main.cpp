// ostrel-release: the game service's side of a signed release. It makes the key pair, writes the
// <Files> element of the files on the download server, and signs and checks the configuration. See --help.

#include "base/printable_text.h"
#include "build_options.h"
#include "release/release_arguments.h"
#include "release/release_commands.h"

#include <cstdio>

int main(int argc, char** argv) {
    std::string error;
    const auto args = ParseReleaseArguments(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!args) {
        std::fprintf(stderr, "ostrel-release: %s\n%s", PrintableText(error).c_str(), kReleaseUsageText);
        return kReleaseExitUsage;
    }
    if (args->help) {
        std::fputs(kReleaseUsageText, stdout);
        return kReleaseExitDone;
    }
    if (args->version) {
        std::printf("%s-release %s\n", OSTREL_EXECUTABLE_NAME, OSTREL_VERSION_TEXT);
        return kReleaseExitDone;
    }
    switch (args->command) {
    case ReleaseCommand::Keygen:
        return RunKeygen(*args);
    case ReleaseCommand::Files:
        return RunFiles(*args);
    case ReleaseCommand::Sign:
        return RunSign(*args);
    case ReleaseCommand::Verify:
        return RunVerify(*args);
    case ReleaseCommand::None:
        break;
    }
    return kReleaseExitUsage;
}
