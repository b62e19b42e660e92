#include "app/command_line.h"
#include "build_options.h"

#include <gtest/gtest.h>

namespace {

using Action = CommandLine::Action;

TEST(CommandLine, ReadsOurOptionsAndPassesTheRestToQt) {
    struct Case {
        std::vector<std::string> arguments;
        Action action;
        std::string configFile;
        std::vector<std::string> passedOn;
    };
    const Case cases[] = {
        {{"ostrel"}, Action::Run, "", {"ostrel"}},
        {{"ostrel", "--config", "a b.xml"}, Action::Run, "a b.xml", {"ostrel"}},
        {{"ostrel", "--config=branded.xml", "-platform", "offscreen"},
         Action::Run,
         "branded.xml",
         {"ostrel", "-platform", "offscreen"}},
        {{"ostrel", "-platform", "xcb", "--config", "x.xml"}, Action::Run, "x.xml", {"ostrel", "-platform", "xcb"}},
        {{"ostrel", "--version"}, Action::ShowVersion, "", {"ostrel"}},
        {{"ostrel", "--config", "x.xml", "--help"}, Action::ShowHelp, "x.xml", {"ostrel"}},
        {{"ostrel", "-h"}, Action::ShowHelp, "", {"ostrel"}},
        {{"ostrel", "--config"}, Action::Fail, "", {"ostrel"}},
        {{"ostrel", "--config="}, Action::Fail, "", {"ostrel"}},
        {{"ostrel", "--config", "a.xml", "--config", "b.xml"}, Action::Fail, "b.xml", {"ostrel"}},
    };
    for (const Case& c : cases) {
        const std::string what = ::testing::PrintToString(c.arguments);
        const CommandLine line = ParseCommandLine(c.arguments);
        EXPECT_EQ(line.action, c.action) << what;
        EXPECT_EQ(line.passedOn, c.passedOn) << what;
        if (c.action == Action::Run) {
            EXPECT_EQ(line.configFile, c.configFile) << what;
        }
        EXPECT_EQ(line.error.empty(), c.action != Action::Fail) << what;
    }
}

TEST(CommandLine, VersionNamesTheProjectVersionAndTheEmbeddedConfiguration) {
    EXPECT_EQ(VersionText("ambrel.xml"), "ostrel " OSTREL_VERSION_TEXT "\nembedded configuration: ambrel.xml\n");
    EXPECT_EQ(VersionText(""), "ostrel " OSTREL_VERSION_TEXT "\nembedded configuration: none\n");
    EXPECT_NE(HelpText().find("--config FILE"), std::string::npos);
}

} // namespace
