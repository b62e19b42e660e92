#include "support/log_capture.h"
#include "support/zip_fixture.h"
#include "zip/unzip_archive.h"

#include <filesystem>

namespace {

class UnzipArchiveTest : public ZipFolderTest {
protected:
    LogCapture log;
};

TEST_F(UnzipArchiveTest, EmptyPathAndUnopenableArchivesAreLogged) {
    EXPECT_FALSE(UnzipArchiveIntoCurrentFolder(""));
    EXPECT_FALSE(UnzipArchiveIntoCurrentFolder(archive));
    EXPECT_EQ(log.Messages(), (std::vector<std::string>{
                                  "[ERROR][COstrelDlg::UnzipFile][757] Invalid archiving path.",
                                  "[ERROR][COstrelDlg::UnzipFile][765] Failed to open archive file: [" + archive + "]",
                              }));
}

TEST_F(UnzipArchiveTest, WritesEveryEntryAndReplacesOldFiles) {
    WriteZip(archive, {{.name = "a.txt", .data = "new a"},
                       {.name = "D:\\sub\\b.txt", .data = "new b", .method = 8},
                       {.name = "link.txt", .data = "a file, no longer a link"}});
    root.Write("base/a.txt", "old a, longer than the new one");
    std::filesystem::create_symlink(outside + "/victim.txt", "link.txt");

    EXPECT_TRUE(UnzipArchiveIntoCurrentFolder(archive));
    EXPECT_EQ(ReadWholeFile("a.txt"), "new a");
    EXPECT_EQ(ReadWholeFile("sub/b.txt"), "new b");
    EXPECT_FALSE(std::filesystem::is_symlink("link.txt"));
    EXPECT_EQ(ReadWholeFile("link.txt"), "a file, no longer a link");
    EXPECT_EQ(log.Messages(), std::vector<std::string>{});
    ExpectNothingOutsideBase();
}

TEST_F(UnzipArchiveTest, StopsAtTheFirstEntryThatFails) {
    WriteZip(archive, {{.name = "first.txt", .data = "1"},
                       {.name = "bad\\method.bin", .data = "2", .method = 14},
                       {.name = "third.txt", .data = "3"}});
    EXPECT_FALSE(UnzipArchiveIntoCurrentFolder(archive));
    EXPECT_EQ(ListTree(base), std::vector<std::string>{"first.txt"});
    EXPECT_EQ(log.Messages(), std::vector<std::string>{
                                  "[ERROR][COstrelDlg::UnzipFile][787] Failed to unzip file []: ZIPCODE [0x00000700]"});
}

TEST_F(UnzipArchiveTest, ReadOnlyOldFileIsKeptAndReported) {
    WriteZip(archive, {{.name = "locked.txt", .data = "new"}});
    root.Write("base/locked.txt", "old");
    std::filesystem::permissions("locked.txt", std::filesystem::perms::owner_read | std::filesystem::perms::group_read);

    EXPECT_FALSE(UnzipArchiveIntoCurrentFolder(archive));
    EXPECT_EQ(ReadWholeFile("locked.txt"), "old");
    EXPECT_TRUE(log.Contains("[ERROR][COstrelDlg::UnzipFile][787] Failed to unzip file [locked.txt]: ZIPCODE "
                             "[0x00000200]"));
}

TEST_F(UnzipArchiveTest, ParentElementsNeitherWriteNorDeleteOutside) {
    root.Write("x.txt", "must survive");
    WriteZip(archive, {{.name = "../x.txt", .data = "escape"}});
    EXPECT_FALSE(UnzipArchiveIntoCurrentFolder(archive));
    EXPECT_EQ(ReadWholeFile(root.File("x.txt")), "must survive");
    EXPECT_TRUE(log.Contains("[ERROR][COstrelDlg::UnzipFile][787] Failed to unzip file [../x.txt]: ZIPCODE "
                             "[0x00000900]"));
    std::filesystem::remove(root.File("x.txt"));
    ExpectNothingOutsideBase();
}

TEST_F(UnzipArchiveTest, ArchiveWithoutEntriesSucceedsAndWritesNothing) {
    WriteZip(archive, {});
    EXPECT_TRUE(UnzipArchiveIntoCurrentFolder(archive));
    EXPECT_EQ(ListTree(base), std::vector<std::string>{});
    EXPECT_EQ(log.Messages(), std::vector<std::string>{});
}

} // namespace
