#include "support/temp_dir.h"
#include "support/tool_process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// ostrel-cli's own lines repeat what it was given; a control character in that may not reach the
// terminal as it is.
TEST(CliTextTest, WhatItWasGivenIsRepeatedWithControlCharactersEscaped) {
    TempDir home;
    home.Write("config.xml", "<Configuration><Base Name=\"game\"/></Configuration>");
    struct Case {
        std::vector<std::string> arguments;
        std::string firstLine;
    };
    const Case cases[] = {
        {{"--frobnicate\r\x1b[2J"}, "ostrel-cli: unknown argument --frobnicate\\r\\x1b[2J\n"},
        {{"--config", home.File("absent\r.xml")},
         "ostrel-cli: the configuration could not be read: " + home.File("absent\\r.xml") + "\n"},
        {{"--config", home.File("config.xml"), "--only", "게임\x1b]0;title\x07.pak"},
         "ostrel-cli: no file named 게임\\x1b]0;title\\x07.pak in the configuration\n"},
    };
    for (const Case& c : cases) {
        ToolProcess cli(OSTREL_CLI_PATH, c.arguments, home.File("stdout"), home.File("stderr"),
                        {"HOME=" + home.path(), "XDG_STATE_HOME=" + home.File("state"), "TMPDIR=" + home.path()});
        EXPECT_EQ(cli.Wait(), 2) << c.firstLine;
        const std::string errors = ReadWholeFile(home.File("stderr"));
        EXPECT_EQ(errors.substr(0, errors.find('\n') + 1), c.firstLine);
    }
}

} // namespace
