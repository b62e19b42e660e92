#include "launcher/child_environment.h"

#include <gtest/gtest.h>

namespace {

TEST(ChildEnvironment, GivesBackThePlayersValuesOfWhatTheBundleChanged) {
    struct Case {
        const char* what;
        std::vector<std::string> current;
        std::vector<std::string> child;
    };
    const Case cases[] = {
        {"no record: unchanged",
         {"HOME=/home/p", "LD_LIBRARY_PATH=/opt/x", "QT_QPA_PLATFORM=wayland"},
         {"HOME=/home/p", "LD_LIBRARY_PATH=/opt/x", "QT_QPA_PLATFORM=wayland"}},
        {"added by the bundle: removed",
         {"HOME=/home/p", "LD_LIBRARY_PATH=/b/lib", "QT_PLUGIN_PATH=/b/plugins", "USER_PWD=/home/p",
          "OSTREL_CHANGED_ENV=LD_LIBRARY_PATH QT_PLUGIN_PATH USER_PWD"},
         {"HOME=/home/p"}},
        {"replaced by the bundle: the player's value again",
         {"QT_QPA_PLATFORM=xcb", "PATH=/usr/bin", "OSTREL_PLAYER_QT_QPA_PLATFORM=wayland;xcb",
          "OSTREL_CHANGED_ENV=QT_QPA_PLATFORM QT_QPA_PLATFORMTHEME"},
         {"PATH=/usr/bin", "QT_QPA_PLATFORM=wayland;xcb"}},
        {"unset by the bundle: back, also when empty or holding '='",
         {"OSTREL_PLAYER_QT_PLUGIN_PATH=", "OSTREL_PLAYER_QT_STYLE_OVERRIDE=a=b",
          "OSTREL_CHANGED_ENV=QT_PLUGIN_PATH QT_STYLE_OVERRIDE"},
         {"QT_PLUGIN_PATH=", "QT_STYLE_OVERRIDE=a=b"}},
        {"a saved value of a variable not named as changed is dropped with the record",
         {"OSTREL_PLAYER_HOME=/elsewhere", "HOME=/home/p", "OSTREL_CHANGED_ENV="},
         {"HOME=/home/p"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChildEnvironment(c.current), c.child) << c.what;
    }
}

} // namespace
