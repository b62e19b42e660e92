#include "base/user_folders.h"
#include "support/log_capture.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <cstdlib>
#include <functional>
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

    // Too open a folder of ours is closed again.
    ::chmod(folder.c_str(), 0777);
    ASSERT_TRUE(PrivateTempFolder(folder));
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

// Whether `folder` (ending in '/') is a real folder of ours that nobody else may enter.
::testing::AssertionResult IsPrivate(const std::string& folder) {
    struct stat st {};
    if (::lstat(folder.substr(0, folder.size() - 1).c_str(), &st) != 0) {
        return ::testing::AssertionFailure() << folder << " is missing";
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != getuid() || (st.st_mode & 0777) != 0700) {
        return ::testing::AssertionFailure()
               << folder << " has mode " << std::oct << st.st_mode << ", owner " << std::dec << st.st_uid;
    }
    return ::testing::AssertionSuccess();
}

void GiveToAnotherUser(const std::string& path) {
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0) << path;
}

// Whoever takes the fixed name first cannot keep this user from having a private temporary folder.
TEST(UserFolders, APrivateTempFolderThatIsNotOursGivesWayToOneElsewhere) {
    struct Case {
        const char* name;
        std::function<void(const std::string& taken, const std::string& runtime)> prepare;
        bool runtimeSet;
        bool runtimeUsed;
    };
    const auto takenByAnother = [](const std::string& taken, const std::string&) {
        ASSERT_EQ(::mkdir(taken.c_str(), 0700), 0);
        GiveToAnotherUser(taken);
    };
    const Case cases[] = {
        {"another user's folder", takenByAnother, true, true},
        {"a link in its place",
         [](const std::string& taken, const std::string& runtime) {
             ASSERT_EQ(::symlink(runtime.c_str(), taken.c_str()), 0);
         },
         true, true},
        {"a file in its place", [](const std::string& taken, const std::string&) { WriteWholeFile(taken, ""); }, true,
         true},
        {"no runtime folder", takenByAnother, false, false},
        {"a runtime folder of another user",
         [&](const std::string& taken, const std::string& runtime) {
             takenByAnother(taken, runtime);
             GiveToAnotherUser(runtime);
         },
         true, false},
        {"a runtime folder open to others",
         [&](const std::string& taken, const std::string& runtime) {
             takenByAnother(taken, runtime);
             ::chmod(runtime.c_str(), 0755);
         },
         true, false},
        {"the name in the runtime folder taken too",
         [&](const std::string& taken, const std::string& runtime) {
             takenByAnother(taken, runtime);
             takenByAnother(runtime + "/ostrel", runtime);
         },
         true, false},
    };
    for (const Case& c : cases) {
        TempDir tmp, runtime;
        ScopedEnv tmpEnv("TMPDIR", tmp.path());
        ScopedEnv runtimeEnv("XDG_RUNTIME_DIR", c.runtimeSet ? runtime.path() : "");
        LogCapture log;
        const std::string taken = tmp.File("ostrel-" + std::to_string(getuid()));
        c.prepare(taken, runtime.path());

        std::string folder, again;
        ASSERT_TRUE(PrivateTempFolder(folder)) << c.name;
        EXPECT_TRUE(IsPrivate(folder)) << c.name;
        if (c.runtimeUsed) {
            EXPECT_EQ(folder, runtime.File("ostrel/")) << c.name;
        } else {
            EXPECT_EQ(folder.rfind(taken + "-", 0), 0u) << c.name << ": " << folder;
        }
        ASSERT_TRUE(PrivateTempFolder(again)) << c.name;
        EXPECT_EQ(again, folder) << c.name;
        EXPECT_EQ(log.CountStartingWith("[WARNING][PrivateTempFolder]"), 1) << c.name << "\n" << log.Text();
        EXPECT_NE(log.Text().find("[" + taken + "] is not a folder of this user's own; using [" +
                                  folder.substr(0, folder.size() - 1) + "] instead."),
                  std::string::npos)
            << c.name << "\n"
            << log.Text();
    }
}

TEST(UserFolders, AFolderMadeInPlaceOfAnotherUsersIsCheckedEachTimeItIsUsed) {
    TempDir tmp;
    ScopedEnv tmpEnv("TMPDIR", tmp.path());
    ScopedEnv runtimeEnv("XDG_RUNTIME_DIR", "");
    const std::string taken = tmp.File("ostrel-" + std::to_string(getuid()));
    ASSERT_EQ(::mkdir(taken.c_str(), 0700), 0);
    GiveToAnotherUser(taken);
    std::string made, instead;
    ASSERT_TRUE(PrivateTempFolder(made));
    ASSERT_EQ(::rmdir(made.c_str()), 0);
    ASSERT_EQ(::symlink(tmp.path().c_str(), made.substr(0, made.size() - 1).c_str()), 0);
    ASSERT_TRUE(PrivateTempFolder(instead));
    EXPECT_NE(instead, made);
    EXPECT_TRUE(IsPrivate(instead));
}

} // namespace
