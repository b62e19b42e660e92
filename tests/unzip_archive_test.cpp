#include "support/log_capture.h"
#include "support/zip_fixture.h"
#include "zip/unzip_archive.h"

#include <filesystem>
#include <random>

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

// Bytes that deflate does not shrink, as in the skin's JPEG images.
std::string Incompressible(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    return bytes;
}

std::uintmax_t TreeBytes(const std::string& folder) {
    std::uintmax_t total = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        total += entry.is_regular_file() ? entry.file_size() : 0;
    }
    return total;
}

// A skin archive that unpacks to far more than it holds is refused part-way, counted in the bytes
// written, and ends as a failed extraction with a line that says why.
TEST_F(UnzipArchiveTest, ArchivesThatUnpackBeyondTheLimitsAreRefusedPartWay) {
    const ZipLimits small{.totalBytes = 100 << 10, .entryRatio = 20, .denseFreeBytes = 16 << 10};
    struct Case {
        const char* what;
        std::vector<ZipEntry> entries;
        ZipLimits limits;
        std::uintmax_t mostWritten;
        std::string failed; // the entry refused
        std::string reason;
    } const cases[] = {
        {"one deflated entry of 8 MiB of zeros, under the skin's limits",
         {{.name = "a.jpg", .data = "a"}, {.name = "zeros.jpg", .data = std::string(8 << 20, '\0'), .method = 8}},
         ZipLimits{},
         2 << 20,
         "zeros.jpg",
         "Entry [zeros.jpg] unpacks to more than 100 times its packed size."},
        {"dense beyond the part that may be dense",
         {{.name = "zeros.jpg", .data = std::string(64 << 10, '\0'), .method = 8}},
         small,
         16 << 10,
         "zeros.jpg",
         "Entry [zeros.jpg] unpacks to more than 20 times its packed size."},
        {"more in all than the limit, each entry as large as it is packed",
         {{.name = "a.jpg", .data = Incompressible(40 << 10, 1), .method = 8},
          {.name = "b.jpg", .data = Incompressible(40 << 10, 2)},
          {.name = "c.jpg", .data = Incompressible(40 << 10, 3), .method = 8},
          {.name = "d.jpg", .data = "never reached"}},
         small,
         100 << 10,
         "c.jpg",
         "The archive unpacks to more than 102400 bytes."},
    };
    for (const Case& c : cases) {
        WriteZip(archive, c.entries);
        LogCapture fresh;
        EXPECT_FALSE(UnzipArchiveIntoCurrentFolder(archive, c.limits)) << c.what;
        EXPECT_LE(TreeBytes(base), c.mostWritten) << c.what;
        EXPECT_FALSE(std::filesystem::exists("d.jpg")) << c.what;
        const std::vector<std::string> messages = fresh.Messages();
        ASSERT_EQ(messages.size(), 2u) << c.what;
        EXPECT_EQ(messages[0].rfind(
                      "[ERROR][COstrelDlg::UnzipFile][787] Failed to unzip file [" + c.failed + "]: ZIPCODE [0x", 0),
                  0u)
            << messages[0];
        EXPECT_EQ(messages[1].rfind("[ERROR][COstrelDlg::UnzipFile][", 0), 0u) << messages[1];
        EXPECT_NE(messages[1].find("] " + c.reason), std::string::npos) << messages[1];
        for (const auto& entry : std::filesystem::directory_iterator(base)) {
            std::filesystem::remove_all(entry.path());
        }
    }
    // Within the limits, an archive as large as they allow unpacks.
    WriteZip(archive, {{.name = "a.jpg", .data = Incompressible(50 << 10, 4), .method = 8},
                       {.name = "zeros.jpg", .data = std::string(16 << 10, '\0'), .method = 8},
                       {.name = "b.jpg", .data = Incompressible((100 - 50 - 16) << 10, 5)}});
    EXPECT_TRUE(UnzipArchiveIntoCurrentFolder(archive, small));
    EXPECT_EQ(TreeBytes(base), 100u << 10);
}

} // namespace
