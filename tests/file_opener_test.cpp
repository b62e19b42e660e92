#include "launcher/disk_space.h"
#include "launcher/file_opener.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
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
    EXPECT_EQ(GetFreeDiskBytes("relative/without/root"), 0u);
}

} // namespace
