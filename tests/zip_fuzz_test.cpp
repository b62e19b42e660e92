#include "support/log_capture.h"
#include "support/random_damage.h"
#include "support/zip_fixture.h"
#include "zip/unzip_archive.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace {

constexpr int kRounds = 2000;
constexpr int kMaxEntriesTried = 24;

// Every kind of entry the reader handles, with names that need little change to climb out of their
// folder.
const std::vector<ZipEntry>& FixtureEntries() {
    static const std::string text = "Tirra skin image data, repeated. Tirra skin image data, repeated. 0123456789";
    static const std::vector<ZipEntry> entries = {
        {.name = "a.jpg", .data = text},
        {.name = "sub\\b.jpg", .data = text + text, .method = 8},
        {.name = "x/../y/c.jpg",
         .data = text,
         .method = 8,
         .localExtra = ExtraBlock("ux", "abcd") + ExtraBlock("UT", UnixTimeData(0x03, {1000000000, 1100000000}))},
        {.name = "d/", .externalAttributes = 0x10},
        {.name = "D:/e.jpg", .data = "", .versionMadeBy = 0x031E, .externalAttributes = 0x81240000},
        {.name = "f.jpg", .data = text, .method = 8, .password = ""},
        {.name = "g/./h.jpg", .data = text, .password = ""},
        {.name = "zeros.jpg", .data = std::string(32 << 10, '\0'), .method = 8},
    };
    return entries;
}

std::string Damage(const std::string& valid, RandomDamage& random) {
    auto pick = [&random](std::size_t bound) { return random.Pick(bound); };
    std::string bytes = valid;
    switch (pick(7)) {
    case 0:
        random.FlipBits(bytes);
        break;
    case 1: // cut short, but keeping the end record so that the archive still opens sometimes
        bytes.erase(pick(bytes.size() - 22), 1 + pick(64));
        break;
    case 2: // truncated
        bytes.resize(pick(bytes.size()));
        break;
    case 3: // path characters sown into the names
        for (std::size_t n = 1 + pick(6); n > 0; --n) {
            bytes[pick(bytes.size())] = "./\\:"[pick(4)];
        }
        break;
    case 4: { // a parent element written into one of the names, where it is stored centrally or locally
        const std::string& name = FixtureEntries()[pick(FixtureEntries().size())].name;
        std::vector<std::size_t> places;
        for (std::size_t at = bytes.find(name); at != std::string::npos; at = bytes.find(name, at + 1)) {
            places.push_back(at);
        }
        const std::string climb = std::vector<std::string>{"../", "..\\", "/..", "..", "\\../"}[pick(5)];
        if (!places.empty() && name.size() >= climb.size()) {
            bytes.replace(places[pick(places.size())] + pick(name.size() - climb.size() + 1), climb.size(), climb);
        }
        break;
    }
    case 5:
        random.OverwriteBytes(bytes, 32);
        break;
    default: { // noise ending in an end record that points somewhere into it
        bytes.resize(22 + pick(600));
        for (char& c : bytes) {
            c = static_cast<char>(pick(256));
        }
        const std::string endRecord = valid.substr(valid.size() - 22);
        bytes.replace(bytes.size() - 22, 22, endRecord);
        break;
    }
    }
    return bytes;
}

// The bytes of the files below `folder`.
std::uintmax_t TreeBytes(const std::string& folder) {
    std::uintmax_t total = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        total += std::filesystem::is_regular_file(entry.symlink_status()) ? entry.file_size() : 0;
    }
    return total;
}

class ZipFuzzTest : public ZipFolderTest {
protected:
    LogCapture log;
};

TEST_F(ZipFuzzTest, DamagedArchivesNeitherCrashNorWriteOutsideTheBaseFolderOrBeyondTheLimits) {
    // Extract two levels down so that short climbs out would still be seen inside base/.
    std::filesystem::create_directories("l1/l2");
    ScopedCurrentFolder deeper("l1/l2");
    const std::string valid = BuildZip(FixtureEntries());
    RandomDamage random(20120822);
    int unzipped = 0, opened = 0, extracted = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::ofstream(archive, std::ios::binary) << Damage(valid, random);
        // Now and then limits that the archive may pass, in all or in its dense entry.
        ZipLimits limits;
        if (random.Pick(3) == 0) {
            limits = {.totalBytes = random.Pick(48 << 10),
                      .entryRatio = random.Pick(200),
                      .denseFreeBytes = random.Pick(8 << 10)};
        }
        unzipped += UnzipArchiveIntoCurrentFolder(archive, limits);
        ASSERT_LE(TreeBytes("."), limits.totalBytes) << "round " << round;

        if (ZipPtr zip = Open()) {
            ++opened;
            ZipItemInfo summary;
            ASSERT_EQ(GetZipItemInfo(zip.get(), -1, &summary), ZIPCODE_OK);
            for (int index = 0; index < std::min(summary.index, kMaxEntriesTried); ++index) {
                ZipItemInfo info;
                GetZipItemInfo(zip.get(), index, &info);
                ASSERT_LT(std::char_traits<char>::length(info.name), sizeof info.name);
                extracted += ExtractZipItem(zip.get(), index, info.name) == ZIPCODE_OK;
                ExtractZipItem(zip.get(), index, "fixed/target.jpg");
            }
        }

        for (const std::string& path : ListTree(base)) {
            ASSERT_TRUE(path == "l1" || path.rfind("l1/l2", 0) == 0) << "round " << round << ": " << path;
        }
        ExpectNothingOutsideBase();
        ASSERT_FALSE(HasFailure()) << "round " << round;
        for (const auto& entry : std::filesystem::directory_iterator(".")) {
            std::filesystem::remove_all(entry.path());
        }
    }
    // The damage must leave enough archives readable for the extraction to be exercised.
    EXPECT_GT(opened, kRounds / 3);
    EXPECT_GT(extracted, kRounds);
    EXPECT_GT(unzipped, kRounds / 30);
}

} // namespace
