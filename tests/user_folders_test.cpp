#include "app/user_folders.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(UserFolders, DocumentsFolderFollowsTheUserDirs) {
    TempDir dir;
    ScopedEnv home("HOME", dir.path());
    ScopedEnv config("XDG_CONFIG_HOME", dir.File("cfg"));
    EXPECT_EQ(DocumentsFolder(), dir.path() + "/Documents");
    ::mkdir(dir.File("cfg").c_str(), 0755);
    dir.Write("cfg/user-dirs.dirs", "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desk\"\nXDG_DOCUMENTS_DIR=\"$HOME/문서\"\n");
    EXPECT_EQ(DocumentsFolder(), dir.path() + "/문서");
}

TEST(UserFolders, PrivateTempFolderIsOursAndClosed) {
    TempDir dir;
    ScopedEnv tmp("TMPDIR", dir.path());
    std::string folder;
    ASSERT_TRUE(PrivateTempFolder(folder));
    EXPECT_EQ(folder, dir.path() + "/ostrel-" + std::to_string(getuid()) + "/");
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Too open a folder of ours is closed again; a file or link in its place is refused.
    ::chmod(folder.c_str(), 0777);
    ASSERT_TRUE(PrivateTempFolder(folder));
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ::rmdir(folder.c_str());
    ::symlink(dir.path().c_str(), folder.substr(0, folder.size() - 1).c_str());
    EXPECT_FALSE(PrivateTempFolder(folder));
}

} // namespace
