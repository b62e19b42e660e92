#include "support/zip_fixture.h"
#include "zip/zip_item_name.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint64_t kSecondsFrom1601To1970 = 11644473600;

std::uint64_t FileTime(std::int64_t unixSeconds) {
    return static_cast<std::uint64_t>(unixSeconds + static_cast<std::int64_t>(kSecondsFrom1601To1970)) * 10000000;
}

ZipItemInfo Info(const ZipPtr& zip, int index, ZIPCODE expected = ZIPCODE_OK) {
    ZipItemInfo info;
    EXPECT_EQ(GetZipItemInfo(zip.get(), index, &info), expected) << "entry " << index;
    return info;
}

std::string PatternText(std::size_t size) {
    std::string text;
    unsigned value = 7;
    while (text.size() < size) {
        value = value * 1103515245u + 12345u;
        text += static_cast<char>('a' + (value >> 16) % 26);
        if (value % 11 == 0) {
            text += "\n";
        }
    }
    text.resize(size);
    return text;
}

// Keeps the local time zone fixed for the test.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* value = std::getenv("TZ")) {
            previous_ = value;
            hadPrevious_ = true;
        }
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (hadPrevious_) {
            ::setenv("TZ", previous_.c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

private:
    std::string previous_;
    bool hadPrevious_ = false;
};

using ZipArchiveTest = ZipFolderTest;

TEST(CleanZipItemName, DropsDrivesLeadingSeparatorsAndEverythingUpToAParentElement) {
    const struct {
        const char *stored, *cleaned;
    } cases[] = {
        {"D:\\skin\\a.jpg", "skin\\a.jpg"},
        {"a\\..\\b.jpg", "b.jpg"},
        {"/abs/b.jpg", "abs/b.jpg"},
        {"\\\\server\\share\\c.jpg", "server\\share\\c.jpg"},
        {"C:/x/../y.jpg", "y.jpg"}, // drive, separator, then the parent element
        {"a/b\\../c/..\\d", "d"},   // "\../" first, then "/..\"
        {"a/b/../../c", "../c"},    // only up to the first occurrence: the rest still climbs
        {"../x", "../x"},           // a leading parent element is left alone
        {"x:..\\y", "..\\y"},
        {"a/..", "a/.."},
        {"스킨/그림.jpg", "스킨/그림.jpg"}, // UTF-8 bytes are never part of a match
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CleanZipItemName(c.stored), c.cleaned) << c.stored;
    }
}

TEST_F(ZipArchiveTest, ExtractsStoredDeflatedNestedEmptyAndFolderEntries) {
    const std::string big = PatternText(50000); // several rounds of the 16 384-byte copy buffer
    auto zip = Open({
        {.name = "a.txt", .data = "stored text"},
        {.name = "dir\\sub/b.txt", .data = big, .method = 8},
        {.name = "empty.txt", .data = ""},
        {.name = "folder/", .externalAttributes = 0x10},
        {.name = "unix/", .versionMadeBy = 0x031E, .externalAttributes = 0x41ED0010},
    });
    ASSERT_TRUE(zip);

    const ZipItemInfo summary = Info(zip, -1);
    EXPECT_EQ(summary.index, 5);
    EXPECT_STREQ(summary.name, "");
    EXPECT_EQ(summary.attributes | summary.modificationTime | summary.accessTime | summary.creationTime, 0u);
    EXPECT_EQ(summary.compressedSize | summary.uncompressedSize, 0);

    for (int index = 0; index < 5; ++index) {
        const ZipItemInfo info = Info(zip, index);
        EXPECT_EQ(info.index, index);
        EXPECT_EQ(ExtractZipItem(zip.get(), index, info.name), ZIPCODE_OK) << info.name;
    }
    EXPECT_EQ(Info(zip, 1).uncompressedSize, 50000);
    EXPECT_LT(Info(zip, 1).compressedSize, 50000);
    EXPECT_EQ(ListTree(base),
              (std::vector<std::string>{"a.txt", "dir", "dir/sub", "dir/sub/b.txt", "empty.txt", "folder", "unix"}));
    EXPECT_EQ(ReadWholeFile("a.txt"), "stored text");
    EXPECT_EQ(ReadWholeFile("dir/sub/b.txt"), big);
    EXPECT_EQ(std::filesystem::file_size("empty.txt"), 0u);
    EXPECT_TRUE(std::filesystem::is_directory("folder"));
    ExpectNothingOutsideBase();
}

TEST_F(ZipArchiveTest, NamesEndingInASeparatorAreFoldersWhateverTheirAttributes) {
    auto zip = Open({
        {.name = "java/", .externalAttributes = 0},                                   // as Java's zip tools write it
        {.name = "unix/", .versionMadeBy = 0x031E, .externalAttributes = 0x81A40000}, // mode of a plain file
        {.name = "win\\sub\\", .externalAttributes = 0x20},
        {.name = "java/a.jpg", .data = "a"},
    });
    ASSERT_TRUE(zip);
    for (int index = 0; index < 4; ++index) {
        const ZipItemInfo info = Info(zip, index);
        EXPECT_EQ((info.attributes & ZIP_ATTRIBUTE_DIRECTORY) != 0, index < 3) << info.name;
        EXPECT_EQ(ExtractZipItem(zip.get(), index, info.name), ZIPCODE_OK) << info.name;
    }
    EXPECT_EQ(ListTree(base), (std::vector<std::string>{"java", "java/a.jpg", "unix", "win", "win/sub"}));
    EXPECT_EQ(ReadWholeFile("java/a.jpg"), "a");
}

TEST_F(ZipArchiveTest, DrivePrefixesAndLeadingSeparatorsLandUnderTheBaseFolder) {
    auto zip = Open({
        {.name = "D:\\skin\\a.jpg", .data = "a"},
        {.name = "/abs/b.jpg", .data = "b"},
        {.name = "\\\\c.jpg", .data = "c"},
        {.name = "C:/x/../d.jpg", .data = "d"},
    });
    ASSERT_TRUE(zip);
    for (int index = 0; index < 4; ++index) {
        EXPECT_EQ(ExtractZipItem(zip.get(), index, Info(zip, index).name), ZIPCODE_OK);
    }
    EXPECT_EQ(ListTree(base), (std::vector<std::string>{"abs", "abs/b.jpg", "c.jpg", "d.jpg", "skin", "skin/a.jpg"}));
    EXPECT_EQ(ReadWholeFile("skin/a.jpg"), "a");
    ExpectNothingOutsideBase();
}

TEST_F(ZipArchiveTest, NamesThatLeadOutOfTheBaseFolderAreRefused) {
    const std::vector<std::string> names = {"../x.txt", "..\\x.txt", "a/b/../../x.txt", "..", "a/..", "..\\"};
    std::vector<ZipEntry> entries;
    for (const auto& name : names) {
        entries.push_back({.name = name, .data = "escape"});
    }
    entries.push_back({.name = "../outside/", .externalAttributes = 0x10});
    auto zip = Open(entries);
    ASSERT_TRUE(zip);
    for (int index = 0; index < static_cast<int>(entries.size()); ++index) {
        const ZipItemInfo info = Info(zip, index);
        EXPECT_EQ(ExtractZipItem(zip.get(), index, info.name), ZIPCODE_BAD_NAME) << info.name;
    }
    EXPECT_EQ(ListTree(base), std::vector<std::string>{});
    ExpectNothingOutsideBase();
}

TEST_F(ZipArchiveTest, TargetsPassedInStayInsideTheBaseFolder) {
    auto zip = Open({{.name = "a.txt", .data = "data"}});
    ASSERT_TRUE(zip);
    std::filesystem::create_directory_symlink(outside, "link");
    std::filesystem::create_symlink(outside + "/file.txt", "file.txt");

    const struct {
        std::string target;
        ZIPCODE code;
    } cases[] = {
        {"sub/../../outside/x.txt", ZIPCODE_BAD_NAME},
        {outside + "/x.txt", ZIPCODE_BAD_NAME},         // absolute, elsewhere
        {root.path() + "/basex.txt", ZIPCODE_BAD_NAME}, // shares the base folder's text, not its folder
        {"C:\\x.txt", ZIPCODE_BAD_NAME},
        {"link/x.txt", ZIPCODE_BAD_NAME}, // a folder level that is a link
        {"link\\deeper\\x.txt", ZIPCODE_BAD_NAME},
        {"file.txt", ZIPCODE_BAD_NAME},       // the file itself is a link
        {"sub/", ZIPCODE_CANNOT_OPEN},        // a file entry needs a file name
        {base + "/in\\side.txt", ZIPCODE_OK}, // absolute, inside
        {"./dot//twice.txt", ZIPCODE_OK},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExtractZipItem(zip.get(), 0, c.target.c_str()), c.code) << c.target;
    }
    EXPECT_EQ(ReadWholeFile("in/side.txt"), "data");
    EXPECT_EQ(ReadWholeFile("dot/twice.txt"), "data");
    ExpectNothingOutsideBase();
}

TEST_F(ZipArchiveTest, OverlongNamesAndPathsFailCleanly) {
    const std::string name260(260, 'n');
    const std::string name259 = std::string(200, 'd') + "/" + std::string(58, 'f');
    auto zip = Open({{.name = name260, .data = "x"}, {.name = name259, .data = "x"}, {.name = "x", .data = "x"}});
    ASSERT_TRUE(zip);
    Info(zip, 0, ZIPCODE_BAD_NAME);
    EXPECT_EQ(ExtractZipItem(zip.get(), 0, "x"), ZIPCODE_BAD_NAME);
    EXPECT_STREQ(Info(zip, 1).name, name259.c_str());
    EXPECT_EQ(ExtractZipItem(zip.get(), 1, name259.c_str()), ZIPCODE_CANNOT_OPEN);

    // The full path may use 259 characters, not 260.
    const std::size_t room = 259 - (base.size() + 1);
    const std::string fits = std::string(100, 'p') + "/" + std::string(room - 101, 'q');
    EXPECT_EQ(ExtractZipItem(zip.get(), 2, (fits + "r").c_str()), ZIPCODE_CANNOT_OPEN);
    EXPECT_EQ(ExtractZipItem(zip.get(), 2, fits.c_str()), ZIPCODE_OK);
    EXPECT_EQ(ReadWholeFile(fits), "x");
    ExpectNothingOutsideBase();
}

TEST_F(ZipArchiveTest, UnreadableRecordsGiveTheirCodeAndWriteNothing) {
    ZipEntry dataDescriptor{.name = "later.txt", .data = "x", .flags = 8, .localCrc = 0};
    const struct {
        ZipEntry entry;
        ZIPCODE code;
    } cases[] = {
        {{.name = "bzip2.bin", .data = "x", .method = 12}, ZIPCODE_BAD_HEADER},
        {{.name = "other.bin", .data = "x", .method = 99}, ZIPCODE_BAD_HEADER},
        {{.name = "crc.txt", .data = "x", .localCrc = 1}, ZIPCODE_BAD_HEADER},
        {{.name = "method.txt", .data = "x", .localMethod = 8}, ZIPCODE_BAD_HEADER},
        {{.name = "name.txt", .data = "x", .localName = "name.txt2"}, ZIPCODE_BAD_HEADER},
        {{.name = "extra.txt", .data = "x", .localExtraLength = 60000}, ZIPCODE_READ_FAILED},
        {dataDescriptor, ZIPCODE_OK}, // sizes and CRC follow the data: the local ones are not compared
    };
    for (const auto& c : cases) {
        auto zip = Open({c.entry});
        ASSERT_TRUE(zip) << c.entry.name;
        Info(zip, 0, c.code);
        EXPECT_EQ(ExtractZipItem(zip.get(), 0, c.entry.name.c_str()), c.code) << c.entry.name;
        EXPECT_EQ(FileExists(c.entry.name), c.code == ZIPCODE_OK) << c.entry.name;
    }
}

TEST_F(ZipArchiveTest, IndexesOutOfRangeAreRefused) {
    auto empty = Open({});
    ASSERT_TRUE(empty);
    EXPECT_EQ(Info(empty, -1).index, 0);
    Info(empty, 0, ZIPCODE_BAD_INDEX);
    EXPECT_EQ(ExtractZipItem(empty.get(), 0, "x"), ZIPCODE_BAD_INDEX);

    auto zip = Open({{.name = "a", .data = "a"}});
    ASSERT_TRUE(zip);
    Info(zip, -2, ZIPCODE_BAD_INDEX);
    Info(zip, 1, ZIPCODE_BAD_INDEX);
    EXPECT_EQ(ExtractZipItem(zip.get(), -1, "x"), ZIPCODE_BAD_INDEX);
    EXPECT_EQ(ExtractZipItem(zip.get(), 1, "x"), ZIPCODE_BAD_INDEX);
    EXPECT_EQ(ListTree(base), std::vector<std::string>{});
}

TEST_F(ZipArchiveTest, FilesThatAreNoArchivesDoNotOpen) {
    root.Write("text.zip", "PK\x03\x04 this is not an archive");
    EXPECT_EQ(OpenZipArchive(root.File("missing.zip").c_str()), nullptr);
    EXPECT_EQ(OpenZipArchive(root.File("text.zip").c_str()), nullptr);
    EXPECT_EQ(OpenZipArchive(outside.c_str()), nullptr);
    EXPECT_EQ(OpenZipArchive(nullptr), nullptr);
}

TEST_F(ZipArchiveTest, ABaseFolderBeyond259CharactersRefusesTheArchive) {
    WriteZip(archive, {{.name = "a.txt", .data = "a"}});
    std::string deep = base;
    while (deep.size() < 259) {
        deep += "/" + std::string(40, 'd');
        std::filesystem::create_directory(deep);
    }
    ScopedCurrentFolder inside(deep);
    EXPECT_EQ(OpenZipArchive(archive.c_str()), nullptr);
}

TEST_F(ZipArchiveTest, RepeatedIndexComesFromTheCacheAndLowerIndexesRestart) {
    std::vector<ZipEntry> entries = {
        {.name = "zero", .data = "0"}, {.name = "one", .data = "1"}, {.name = "two", .data = "2"}};
    auto zip = Open(entries);
    ASSERT_TRUE(zip);
    EXPECT_STREQ(Info(zip, 2).name, "two");
    EXPECT_STREQ(Info(zip, 0).name, "zero"); // back to the first entry
    EXPECT_STREQ(Info(zip, 1).name, "one");

    // Break entry 1's local header under the open reader: only a fresh read can notice.
    const std::string bytes = BuildZip(entries);
    const std::size_t localHeaderOfOne = bytes.find(std::string("PK\x03\x04", 4), 1);
    ASSERT_NE(localHeaderOfOne, std::string::npos);
    std::fstream file(archive, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(localHeaderOfOne));
    file.write("XXXX", 4);
    file.close();

    EXPECT_STREQ(Info(zip, 1).name, "one");
    EXPECT_STREQ(Info(zip, 2).name, "two"); // moving on from a cached record still finds the right entry
    Info(zip, 1, ZIPCODE_BAD_HEADER);
    EXPECT_EQ(ExtractZipItem(zip.get(), 1, "one"), ZIPCODE_BAD_HEADER);
    EXPECT_EQ(ExtractZipItem(zip.get(), 0, "zero"), ZIPCODE_OK);
    EXPECT_EQ(ReadWholeFile("zero"), "0");
}

TEST_F(ZipArchiveTest, AttributesFollowTheHostSystem) {
    const struct {
        std::uint16_t versionMadeBy;
        std::uint32_t external, attributes;
    } cases[] = {
        {0x0014, 0x37, 0x37},       // DOS: read-only, hidden, system, directory, archive
        {0x0714, 0xFFFFFFC8, 0x00}, // Macintosh host reads DOS bits too; nothing else counts
        {0x0B14, 0x01, 0x01},       // NTFS
        {0x0E14, 0x10, 0x10},       // VFAT
        {0x031E, 0x81A40000, 0x20}, // Unix 0644: archive only
        {0x031E, 0x81240000, 0x21}, // Unix 0444: read-only
        {0x031E, 0x41ED0000, 0x30}, // Unix folder 0755
        {0x0A14, 0x00000037, 0x21}, // other hosts ignore the low bits
    };
    std::vector<ZipEntry> entries;
    for (const auto& c : cases) {
        entries.push_back({.name = "e" + std::to_string(entries.size()),
                           .versionMadeBy = c.versionMadeBy,
                           .externalAttributes = c.external});
    }
    auto zip = Open(entries);
    ASSERT_TRUE(zip);
    for (int index = 0; index < static_cast<int>(entries.size()); ++index) {
        EXPECT_EQ(Info(zip, index).attributes, cases[index].attributes) << index;
    }
}

TEST_F(ZipArchiveTest, ReadOnlyEntriesLoseTheirWriteBits) {
    auto zip = Open({{.name = "ro.txt", .data = "locked", .externalAttributes = 0x21},
                     {.name = "rw.txt", .data = "open", .externalAttributes = 0x20}});
    ASSERT_TRUE(zip);
    ASSERT_EQ(ExtractZipItem(zip.get(), 0, "ro.txt"), ZIPCODE_OK);
    ASSERT_EQ(ExtractZipItem(zip.get(), 1, "rw.txt"), ZIPCODE_OK);
    struct stat ro {
    }, rw{};
    ASSERT_EQ(::stat("ro.txt", &ro), 0);
    ASSERT_EQ(::stat("rw.txt", &rw), 0);
    EXPECT_EQ(ro.st_mode & 0222, 0u);
    EXPECT_NE(rw.st_mode & 0200, 0u);
    EXPECT_EQ(ReadWholeFile("ro.txt"), "locked");
    // An existing read-only file is not replaced.
    EXPECT_EQ(ExtractZipItem(zip.get(), 1, "ro.txt"), ZIPCODE_CANNOT_OPEN);
    EXPECT_EQ(ReadWholeFile("ro.txt"), "locked");
}

TEST_F(ZipArchiveTest, TimesComeFromTheDosStampAndTheUnixTimeBlock) {
    ScopedTimeZone korea("KST-9");
    const std::int64_t dos = 1345604948; // 2012-08-22 12:09:08 in Korea
    const std::int32_t t1 = 1000000000, t2 = 1100000000, t3 = 1200000000;
    const struct {
        std::string extra;
        std::int64_t modification, access, creation;
    } cases[] = {
        {"", dos, dos, dos},
        {ExtraBlock("UT", UnixTimeData(0x01, {t1})), t1, dos, dos},
        {ExtraBlock("UT", UnixTimeData(0x07, {t1, t2, t3})), t1, t2, t3},
        {ExtraBlock("UT", UnixTimeData(0x06, {t2, t3})), dos, t2, t3},
        {ExtraBlock("ux", "12345678") + ExtraBlock("UT", UnixTimeData(0x01, {t1})), t1, dos, dos}, // skipped block
        {ExtraBlock("UT", UnixTimeData(0x01, {t1})) + ExtraBlock("UT", UnixTimeData(0x01, {t2})), t1, dos, dos},
        // Values announced by the flags but cut off by the end of the field are not read.
        {ExtraBlock("UT", UnixTimeData(0x07, {t1}), 13), t1, dos, dos},
        {ExtraBlock("UT", UnixTimeData(0x03, {t1}) + "\x01\x02", 9), t1, dos, dos},
        {ExtraBlock("UT", UnixTimeData(0x01, {}) + "\x01\x02\x03", 5), dos, dos, dos},
        // nor are values beyond the block's own length, though the field goes on
        {ExtraBlock("UT", UnixTimeData(0x03, {t1})) + ExtraBlock("zz", "abcdefgh"), t1, dos, dos},
        {ExtraBlock("UT", "") + ExtraBlock("zz", UnixTimeData(0x01, {t1})), dos, dos, dos},
    };
    std::vector<ZipEntry> entries;
    for (const auto& c : cases) {
        entries.push_back({.name = "t" + std::to_string(entries.size()),
                           .data = "x",
                           .dosDateTime = DosDateTime(2012, 8, 22, 12, 9, 8),
                           .localExtra = c.extra});
    }
    auto zip = Open(entries);
    ASSERT_TRUE(zip);
    for (int index = 0; index < static_cast<int>(entries.size()); ++index) {
        const ZipItemInfo info = Info(zip, index);
        EXPECT_EQ(info.modificationTime, FileTime(cases[index].modification)) << index;
        EXPECT_EQ(info.accessTime, FileTime(cases[index].access)) << index;
        EXPECT_EQ(info.creationTime, FileTime(cases[index].creation)) << index;
    }

    // On disk: the modification time from "UT", the access time from the DOS stamp.
    ASSERT_EQ(ExtractZipItem(zip.get(), 1, "times.txt"), ZIPCODE_OK);
    struct stat status {};
    ASSERT_EQ(::stat("times.txt", &status), 0);
    EXPECT_EQ(status.st_mtim.tv_sec, t1);
    EXPECT_EQ(status.st_atim.tv_sec, dos);
}

TEST_F(ZipArchiveTest, ImpossibleDosDatesLeaveTheFileTimesAlone) {
    const std::uint32_t february31 = DosDateTime(2012, 2, 31, 10, 0, 0);
    const std::uint32_t month0 = DosDateTime(2012, 0, 1, 10, 0, 0);
    auto zip = Open({{.name = "feb", .data = "x", .dosDateTime = february31},
                     {.name = "zero", .data = "x", .dosDateTime = month0}});
    ASSERT_TRUE(zip);
    const std::time_t before = std::time(nullptr);
    for (int index = 0; index < 2; ++index) {
        const ZipItemInfo info = Info(zip, index);
        EXPECT_EQ(info.modificationTime, 0u);
        ASSERT_EQ(ExtractZipItem(zip.get(), index, info.name), ZIPCODE_OK);
        struct stat status {};
        ASSERT_EQ(::stat(info.name, &status), 0);
        EXPECT_GE(status.st_mtim.tv_sec, before - 1) << info.name;
    }
}

TEST_F(ZipArchiveTest, EncryptedEntriesOpenUnderTheEmptyPassword) {
    const std::string text = PatternText(40000);
    const std::uint32_t crc = Crc32(text);
    auto zip = Open({
        {.name = "stored.txt", .data = text, .password = ""},
        {.name = "deflated.txt", .data = text, .method = 8, .password = ""},
        {.name = "later.txt", .data = text, .method = 8, .flags = 8, .password = ""}, // check byte from the time
        {.name = "empty.txt", .data = "", .password = ""},
        {.name = "wrong.txt", .data = text, .password = "", .checkByte = static_cast<std::uint8_t>(~crc >> 24)},
        {.name = "other.txt", .data = text, .method = 8, .password = "pw"},
    });
    ASSERT_TRUE(zip);
    for (int index = 0; index < 4; ++index) {
        const ZipItemInfo info = Info(zip, index);
        ASSERT_EQ(ExtractZipItem(zip.get(), index, info.name), ZIPCODE_OK) << info.name;
        EXPECT_TRUE(ReadWholeFile(info.name) == (index == 3 ? "" : text)) << info.name;
    }
    EXPECT_EQ(ExtractZipItem(zip.get(), 4, "wrong.txt"), ZIPCODE_BAD_PASSWORD);
    EXPECT_EQ(ReadWholeFile("wrong.txt"), ""); // created before the check, left as it is
    // Another password passes the check only by chance (1 in 256); its data then cannot be inflated.
    const ZIPCODE other = ExtractZipItem(zip.get(), 5, "other.txt");
    EXPECT_TRUE(other == ZIPCODE_BAD_PASSWORD || other == ZIPCODE_INFLATE_FAILED) << other;
}

TEST_F(ZipArchiveTest, CorruptDataFailsToInflate) {
    ZipEntry entry{.name = "broken.txt", .data = std::string(1000, 'z'), .method = 8};
    std::string bytes = BuildZip({entry});
    // Replace the deflated stream with a block of the reserved type 3.
    const std::size_t dataStart = 30 + entry.name.size();
    bytes[dataStart] = '\x07';
    std::ofstream(archive, std::ios::binary) << bytes;
    auto zip = Open();
    ASSERT_TRUE(zip);
    EXPECT_EQ(ExtractZipItem(zip.get(), 0, "broken.txt"), ZIPCODE_INFLATE_FAILED);
}

} // namespace
