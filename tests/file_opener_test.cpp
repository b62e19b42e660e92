#include "launcher/disk_space.h"
#include "launcher/file_opener.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace {

TEST(FileOpener, RunsAScriptInItsFolderAnnouncesItThenWaits) {
    TempDir dir;
    ::mkdir(dir.File("game").c_str(), 0755);
    // The script finishes only after the announcement has happened.
    dir.Write("game/setup.sh", "#!/bin/sh\ni=0\nwhile [ ! -e go ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i+1)); done\n"
                               "[ -e go ] && pwd > installed.txt\n");
    ::chmod(dir.File("game/setup.sh").c_str(), 0644); // downloads arrive without execute bits
    bool announcedWhileRunning = false;
    ASSERT_TRUE(OpenDownloadedFile(dir.File("game"), "setup.sh", true, [&] {
        announcedWhileRunning = !FileExists(dir.File("game/installed.txt"));
        dir.Write("game/go", "");
    }));
    EXPECT_TRUE(announcedWhileRunning);
    EXPECT_EQ(ReadWholeFile(dir.File("game/installed.txt")), dir.File("game") + "\n");
    struct stat st {};
    ASSERT_EQ(::stat(dir.File("game/setup.sh").c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
}

TEST(FileOpener, InstallerGetsThePlayersEnvironmentNotTheBundles) {
    TempDir dir;
    dir.Write("setup.sh", "#!/bin/sh\nenv > environment.txt\n");
    // As the portable bundle's start script leaves it: the player had no LD_LIBRARY_PATH and their own
    // QT_QPA_PLATFORM, which the script replaced.
    ScopedEnv library("LD_LIBRARY_PATH", "/bundle/lib");
    ScopedEnv plugins("QT_PLUGIN_PATH", "/bundle/plugins");
    ScopedEnv platform("QT_QPA_PLATFORM", "xcb");
    ScopedEnv player("OSTREL_PLAYER_QT_QPA_PLATFORM", "wayland");
    ScopedEnv changed("OSTREL_CHANGED_ENV", "LD_LIBRARY_PATH QT_PLUGIN_PATH QT_QPA_PLATFORM");
    ScopedEnv own("PLAYER_SETTING", "kept");
    ASSERT_TRUE(OpenDownloadedFile(dir.path(), "setup.sh", true, [] {}));

    std::vector<std::string> seen;
    std::istringstream lines(ReadWholeFile(dir.File("environment.txt")));
    for (std::string line; std::getline(lines, line);) {
        seen.push_back(line);
    }
    const auto has = [&](const std::string& entry) { return std::find(seen.begin(), seen.end(), entry) != seen.end(); };
    const auto named = [&](const std::string& name) {
        return std::any_of(seen.begin(), seen.end(), [&](const std::string& e) { return e.starts_with(name + "="); });
    };
    EXPECT_TRUE(has("QT_QPA_PLATFORM=wayland"));
    EXPECT_TRUE(has("PLAYER_SETTING=kept"));
    EXPECT_TRUE(named("PATH"));
    for (const char* gone :
         {"LD_LIBRARY_PATH", "QT_PLUGIN_PATH", "OSTREL_CHANGED_ENV", "OSTREL_PLAYER_QT_QPA_PLATFORM"}) {
        EXPECT_FALSE(named(gone)) << gone;
    }
}

TEST(FileOpener, MissingFileStartsNothing) {
    TempDir dir;
    int announced = 0;
    const auto count = [&] { ++announced; };
    EXPECT_FALSE(OpenDownloadedFile(dir.path(), "absent.exe", false, count));
    EXPECT_FALSE(OpenDownloadedFile(dir.path(), "", false, count));
    EXPECT_FALSE(OpenDownloadedFile(dir.path(), ".", false, count));
    EXPECT_EQ(announced, 0);
}

TEST(DiskSpace, AsksTheNearestExistingFolder) {
    TempDir dir;
    const std::uint64_t free = GetFreeDiskBytes(dir.path());
    EXPECT_GT(free, 0u);
    // A folder that does not exist yet is measured on the file system that will hold it.
    const std::uint64_t below = GetFreeDiskBytes(dir.File("not/yet/made"));
    EXPECT_GT(below, 0u);
    EXPECT_LT(below > free ? below - free : free - below, 64ull * 1024 * 1024);
    EXPECT_EQ(GetFreeDiskBytes(""), 0u);
    // A relative path lies below the current folder, however much of it is still to be made.
    const std::uint64_t here = GetFreeDiskBytes(std::filesystem::current_path().string());
    const std::uint64_t relative = GetFreeDiskBytes("not/yet/made");
    EXPECT_GT(relative, 0u);
    EXPECT_LT(relative > here ? relative - here : here - relative, 64ull * 1024 * 1024);
}

} // namespace
