#include "app/command_line.h"

#include "build_options.h"

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    if (!arguments.empty()) {
        line.passedOn.push_back(arguments.front());
    }
    bool configGiven = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            line.action = CommandLine::Action::ShowHelp;
            return line;
        }
        if (argument == "--version") {
            line.action = CommandLine::Action::ShowVersion;
            return line;
        }
        std::string value;
        if (argument == "--config") {
            if (i + 1 == arguments.size()) {
                line.action = CommandLine::Action::Fail;
                line.error = "--config needs a file name";
                continue; // a later --help still answers
            }
            value = arguments[++i];
        } else if (argument.starts_with("--config=")) {
            value = argument.substr(9);
        } else {
            line.passedOn.push_back(argument);
            continue;
        }
        if (configGiven || value.empty()) {
            line.action = CommandLine::Action::Fail;
            line.error = configGiven ? "--config may be given once" : "--config needs a file name";
        }
        configGiven = true;
        line.configFile = value;
    }
    return line;
}

std::string VersionText(const std::string& embeddedConfigName) {
    return std::string(OSTREL_EXECUTABLE_NAME " ") + OSTREL_VERSION_TEXT +
           "\nembedded configuration: " + (embeddedConfigName.empty() ? std::string("none") : embeddedConfigName) +
           "\n";
}

std::string HelpText() {
    return "Usage: ostrel [--config FILE]\n"
           "       ostrel --version | --help\n"
           "\n"
           "Downloads the files of a game that its configuration lists, and starts its installer.\n"
           "\n"
           "  --config FILE  read the configuration from FILE instead of the copy compiled into the\n"
           "                 program, the configuration URL and config.xml beside the program\n"
           "  --version      print the version, the name of the configuration compiled in and the\n"
           "                 release keys a configuration must be signed with\n"
           "  -h, --help     print this help\n"
           "\n"
           "Other arguments go to Qt (for example -platform offscreen).\n";
}
