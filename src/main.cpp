#include "app/command_line.h"
#include "app/config_signature.h"
#include "res/embedded.h"
#include "ui/ostrel_app.h"

#include <cstdio>

int main(int argc, char** argv) {
    CommandLine line = ParseCommandLine({argv, argv + argc});
    switch (line.action) {
    case CommandLine::Action::ShowVersion:
        std::fputs((VersionText(EmbeddedConfigName()) + SignatureVersionText(BuildReleaseKeys())).c_str(), stdout);
        return 0;
    case CommandLine::Action::ShowHelp:
        std::fputs(HelpText().c_str(), stdout);
        return 0;
    case CommandLine::Action::Fail:
        std::fprintf(stderr, "ostrel: %s\n\n%s", line.error.c_str(), HelpText().c_str());
        return 2;
    case CommandLine::Action::Run:
        break;
    }
    // Qt keeps pointers into these for the application's lifetime.
    std::vector<char*> qtArguments;
    for (std::string& argument : line.passedOn) {
        qtArguments.push_back(argument.data());
    }
    qtArguments.push_back(nullptr);
    int qtArgumentCount = static_cast<int>(line.passedOn.size());
    COstrelApp app(qtArgumentCount, qtArguments.data());
    app.sources.commandLineFile = line.configFile;
    app.InitInstance();
    return app.ExitStatus();
}
