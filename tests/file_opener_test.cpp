#include "launcher/disk_space.h"
#include "launcher/file_opener.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <filesystem>
#include <functional>
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

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Whatever is at the name that is not a regular file, a link above all, is neither made executable nor
// started, nor is what a link points at.
TEST(FileOpener, StartsNothingThroughALinkOrAnythingButARegularFile) {
    struct Case {
        const char* what;
        std::function<void(const TempDir& dir)> place;
    } const cases[] = {
        {"a link to a program outside the folder",
         [](const TempDir& dir) { ::symlink(dir.File("victim.sh").c_str(), dir.File("game/setup.sh").c_str()); }},
        {"a link to a link",
         [](const TempDir& dir) {
             ::symlink(dir.File("victim.sh").c_str(), dir.File("hop").c_str());
             ::symlink(dir.File("hop").c_str(), dir.File("game/setup.sh").c_str());
         }},
        {"a FIFO", [](const TempDir& dir) { ::mkfifo(dir.File("game/setup.sh").c_str(), 0644); }},
        {"a folder", [](const TempDir& dir) { ::mkdir(dir.File("game/setup.sh").c_str(), 0755); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        ::mkdir(dir.File("game").c_str(), 0755);
        const std::string victim = "#!/bin/sh\ntouch " + dir.File("victim-ran") + "\n";
        dir.Write("victim.sh", victim);
        ::chmod(dir.File("victim.sh").c_str(), 0644);
        c.place(dir);
        int announced = 0;
        EXPECT_FALSE(OpenDownloadedFile(dir.File("game"), "setup.sh", true, [&] { ++announced; }));
        EXPECT_EQ(announced, 0);
        EXPECT_EQ(ReadWholeFile(dir.File("victim.sh")), victim);
        EXPECT_EQ(ModeOf(dir.File("victim.sh")), 0644u);
        EXPECT_FALSE(FileExists(dir.File("victim-ran")));
    }
}

// The file that was opened and checked is the one that starts: a file put in its place after the check
// is neither started nor made executable.
TEST(FileOpener, StartsTheFileThatWasCheckedNotWhatIsAtItsNameNow) {
    struct Case {
        const char* what;
        std::function<void(const TempDir& dir)> write;
        const char* ran; // what the started program leaves in "ran"
    } const cases[] = {
        {"a script", [](const TempDir& dir) { dir.Write("setup", "#!/bin/sh\necho checked > ran\n"); }, "checked\n"},
        {"a program", [](const TempDir& dir) { std::filesystem::copy_file("/bin/true", dir.File("setup")); }, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        c.write(dir);
        ::chmod(dir.File("setup").c_str(), 0644);
        dir.Write("swapped", "#!/bin/sh\necho swapped > ran\n");
        ::chmod(dir.File("swapped").c_str(), 0644);
        int checks = 0;
        const auto check = [&](int fd) {
            struct stat opened {};
            struct stat named {};
            ++checks;
            const bool same = ::fstat(fd, &opened) == 0 && ::stat(dir.File("setup").c_str(), &named) == 0 &&
                              opened.st_ino == named.st_ino;
            // Another file takes the name between the check and the start.
            std::filesystem::rename(dir.File("swapped"), dir.File("setup"));
            return same;
        };
        ASSERT_TRUE(OpenDownloadedFile(
            dir.path(), "setup", true, [] {}, nullptr, check));
        EXPECT_EQ(checks, 1);
        EXPECT_EQ(FileExists(dir.File("ran")) ? ReadWholeFile(dir.File("ran")) : std::string(),
                  c.ran != nullptr ? c.ran : "");
        EXPECT_EQ(ModeOf(dir.File("setup")), 0644u); // the file now at the name was not made executable
    }
}

// A file the check refuses is neither made executable nor started.
TEST(FileOpener, ARefusedFileStartsNothing) {
    TempDir dir;
    dir.Write("setup.sh", "#!/bin/sh\ntouch ran\n");
    ::chmod(dir.File("setup.sh").c_str(), 0644);
    int announced = 0;
    EXPECT_FALSE(OpenDownloadedFile(
        dir.path(), "setup.sh", true, [&] { ++announced; }, nullptr, [](int) { return false; }));
    EXPECT_EQ(announced, 0);
    EXPECT_EQ(ModeOf(dir.File("setup.sh")), 0644u);
    EXPECT_FALSE(FileExists(dir.File("ran")));
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
