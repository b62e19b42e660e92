#include "res/embedded.h"
#include "support/log_capture.h"
#include "support/zip_fixture.h"
#include "zip/unzip_archive.h"

#include <map>
#include <utility>

namespace {

using PixelSize = std::pair<int, int>;

unsigned Read16(const std::string& bytes, std::size_t at) {
    return static_cast<unsigned char>(bytes.at(at)) | static_cast<unsigned char>(bytes.at(at + 1)) << 8;
}

unsigned Read32(const std::string& bytes, std::size_t at) {
    return Read16(bytes, at) | Read16(bytes, at + 2) << 16;
}

struct StoredEntry {
    unsigned method = 0;
    std::string data;
};

// The entries of an archive without comment, read straight from its central directory.
std::map<std::string, StoredEntry> ReadEntries(const std::string& archive) {
    std::map<std::string, StoredEntry> entries;
    const std::size_t end = archive.size() - 22;
    std::size_t at = Read32(archive, end + 16);
    for (unsigned n = Read16(archive, end + 10); n > 0; --n) {
        const unsigned nameLength = Read16(archive, at + 28);
        const std::size_t local = Read32(archive, at + 42);
        StoredEntry& entry = entries[archive.substr(at + 46, nameLength)];
        entry.method = Read16(archive, at + 10);
        const std::size_t data = local + 30 + Read16(archive, local + 26) + Read16(archive, local + 28);
        entry.data = archive.substr(data, Read32(archive, at + 20));
        at += 46 + nameLength + Read16(archive, at + 30) + Read16(archive, at + 32);
    }
    return entries;
}

// Width and height from the frame header of a JPEG image; {-1, -1} when there is none.
PixelSize JpegSize(const std::string& jpeg) {
    auto byte = [&jpeg](std::size_t at) { return static_cast<unsigned char>(jpeg.at(at)); };
    auto big16 = [&byte](std::size_t at) { return byte(at) << 8 | byte(at + 1); };
    if (jpeg.size() < 4 || byte(0) != 0xFF || byte(1) != 0xD8) {
        return {-1, -1};
    }
    for (std::size_t at = 2; at + 9 < jpeg.size() && byte(at) == 0xFF;) {
        const unsigned marker = byte(at + 1);
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            return {big16(at + 7), big16(at + 5)};
        }
        at += 2 + static_cast<std::size_t>(big16(at + 2));
    }
    return {-1, -1};
}

std::map<std::string, PixelSize> ExpectedImages() {
    std::map<std::string, PixelSize> images = {
        {"background.jpg", {576, 520}}, {"progress_file.jpg", {6, 8}}, {"progress_total.jpg", {6, 8}}};
    for (const char* button : {"exec", "download", "stop", "close", "folder"}) {
        for (const char* state : {"normal", "over", "press", "disable"}) {
            images[std::string("btn_") + button + "_" + state + ".jpg"] =
                std::string(button) == "folder" ? PixelSize{84, 24} : PixelSize{84, 30};
        }
    }
    return images;
}

const std::string kDefaultSkin = OSTREL_SOURCE_DIR "/res/skin.zip";

TEST(DefaultSkin, HoldsTheTwentyThreeImagesStoredAtTheirSizes) {
    const auto entries = ReadEntries(ReadWholeFile(kDefaultSkin));
    const auto expected = ExpectedImages();
    ASSERT_EQ(expected.size(), 23u);
    ASSERT_EQ(entries.size(), expected.size());
    for (const auto& [name, size] : expected) {
        const auto found = entries.find(name);
        ASSERT_NE(found, entries.end()) << name;
        EXPECT_EQ(found->second.method, 0u) << name;
        EXPECT_EQ(JpegSize(found->second.data), size) << name;
    }
}

TEST(DefaultSkin, TheBuildCarriesTheConfiguredArchive) {
    const std::string configured = OSTREL_EMBED_SKIN_PATH;
    const EmbeddedBytes skin = EmbeddedSkin();
    if (configured.empty()) {
        EXPECT_FALSE(skin.present());
        return;
    }
    ASSERT_TRUE(skin.present());
    EXPECT_TRUE(std::string(reinterpret_cast<const char*>(skin.data), skin.size) == ReadWholeFile(configured));
}

using DefaultSkinExtraction = ZipFolderTest;

TEST_F(DefaultSkinExtraction, UnpacksCompletely) {
    LogCapture log;
    EXPECT_TRUE(UnzipArchiveIntoCurrentFolder(kDefaultSkin));
    std::vector<std::string> names;
    for (const auto& [name, size] : ExpectedImages()) {
        names.push_back(name);
        EXPECT_EQ(JpegSize(ReadWholeFile(name)), size) << name;
    }
    EXPECT_EQ(ListTree(base), names);
}

} // namespace
