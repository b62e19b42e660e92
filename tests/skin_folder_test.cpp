#include "launcher/skin_folder.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// A lock on the folder taken through a description of its own, as another program would.
class FolderLock {
public:
    explicit FolderLock(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~FolderLock() { ::close(fd_); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    bool Take() { return ::flock(fd_, LOCK_EX | LOCK_NB) == 0; }

private:
    int fd_;
};

// Writes a file below `dir`, its folders first.
void Put(const TempDir& dir, const std::string& name, const std::string& content) {
    fs::create_directories(fs::path(dir.File(name)).parent_path());
    dir.Write(name, content);
}

// Gives `path` (itself, not what a link leads to) a time of change two minutes ago.
void Age(const std::string& path) {
    const timespec times[2] = {{::time(nullptr) - 120, 0}, {::time(nullptr) - 120, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// A skin folder with images, a nested folder and links out of it, as an extraction leaves one.
void Fill(const TempDir& dir, const std::string& name) {
    Put(dir, name + "/background.jpg", "image");
    Put(dir, name + "/sub/deeper/btn.jpg", "image");
    fs::create_directory_symlink(dir.File("outside"), dir.File(name + "/sub/to-folder"));
    fs::create_symlink(dir.File("outside/kept.txt"), dir.File(name + "/to-file"));
}

std::set<std::string> Entries(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

TEST(SkinFolderTest, IsHeldWhileItLivesAndGoesWithAllInItButNothingALinkLeadsTo) {
    TempDir dir;
    Put(dir, "outside/kept.txt", "kept");
    const std::string path = dir.File("AmbrelLauncher123");
    {
        const std::unique_ptr<SkinFolder> folder = SkinFolder::Make(path);
        ASSERT_NE(folder, nullptr);
        Fill(dir, "AmbrelLauncher123");
        EXPECT_FALSE(FolderLock(path).Take());
        // Another run does not take a folder that a running program holds.
        EXPECT_EQ(SkinFolder::Make(path), nullptr);
        EXPECT_EQ(errno, EWOULDBLOCK);
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
    EXPECT_EQ(ReadWholeFile(dir.File("outside/kept.txt")), "kept");

    // A folder left behind will do; a link in the folder's place is not followed.
    Put(dir, "AmbrelLauncher124/old.jpg", "image");
    EXPECT_NE(SkinFolder::Make(dir.File("AmbrelLauncher124")), nullptr);
    EXPECT_FALSE(fs::exists(dir.File("AmbrelLauncher124")));
    fs::create_directory_symlink(dir.File("outside"), dir.File("AmbrelLauncher125"));
    EXPECT_EQ(SkinFolder::Make(dir.File("AmbrelLauncher125")), nullptr);
    EXPECT_EQ(Entries(dir.File("outside")), std::set<std::string>{"kept.txt"});
}

TEST(SkinFolderTest, OnlyFoldersThatCrashedRunsOfThisUserLeftAreRemoved) {
    TempDir dir;
    Put(dir, "outside/kept.txt", "kept");
    Put(dir, "temp/AmbrelLauncher.xml", "a configuration");
    struct Case {
        const char* what;
        std::string name;
        bool removed;
    } const cases[] = {
        {"left by a crashed run", "AmbrelLauncher1234567", true},
        {"left, with a negative tick count", "AmbrelLauncher-1234567", true},
        {"held by a running program", "AmbrelLauncher200", false},
        {"just made, not yet held", "AmbrelLauncher300", false},
        {"another user's", "AmbrelLauncher400", false},
        {"not followed by a number", "AmbrelLauncher500x", false},
        {"no number at all", "AmbrelLauncher", false},
        {"another name", "Other600", false},
        {"a link to a left folder", "AmbrelLauncher700", false},
        {"a file", "AmbrelLauncher800", false},
    };
    const std::string temp = dir.File("temp");
    for (const Case& c : cases) {
        const std::string path = temp + "/" + c.name;
        if (std::string(c.what) == "a link to a left folder") {
            Fill(dir, "outside/left");
            Age(dir.File("outside/left"));
            fs::create_directory_symlink(dir.File("outside/left"), path);
        } else if (std::string(c.what) == "a file") {
            WriteWholeFile(path, "a download");
        } else {
            Fill(dir, "temp/" + c.name);
        }
        if (std::string(c.what) == "another user's") {
            ASSERT_EQ(::lchown(path.c_str(), 4242, 4242), 0) << "the test needs to give a folder away";
        }
        if (std::string(c.what) != "just made, not yet held") {
            Age(path);
        }
    }
    FolderLock held(temp + "/AmbrelLauncher200");
    ASSERT_TRUE(held.Take());

    RemoveLeftSkinFolders(temp + "/", "AmbrelLauncher");
    std::set<std::string> expected{"AmbrelLauncher.xml"};
    for (const Case& c : cases) {
        EXPECT_EQ(fs::exists(fs::symlink_status(temp + "/" + c.name)), !c.removed) << c.what;
        if (!c.removed) {
            expected.insert(c.name);
        }
    }
    EXPECT_EQ(Entries(temp), expected);
    EXPECT_EQ(Entries(dir.File("outside")), (std::set<std::string>{"kept.txt", "left"}));
    EXPECT_EQ(Entries(dir.File("outside/left")), (std::set<std::string>{"background.jpg", "sub", "to-file"}));
    EXPECT_EQ(ReadWholeFile(dir.File("outside/kept.txt")), "kept");
}

} // namespace
