#pragma once

#include <string>
#include <vector>

// What the program was asked to do by its arguments.
struct CommandLine {
    enum class Action { Run, ShowVersion, ShowHelp, Fail };
    Action action = Action::Run;
    // --config FILE: read only this configuration; empty for the usual sources.
    std::string configFile;
    // The program name and every argument that is not ours, for Qt (-platform, -display, ...).
    std::vector<std::string> passedOn;
    // Why the arguments were refused (Fail).
    std::string error;
};

// `arguments` starts with the program name. --help and --version win over everything else.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// "ostrel VERSION" and the file name of the configuration compiled in ("none" without one).
std::string VersionText(const std::string& embeddedConfigName);

std::string HelpText();
