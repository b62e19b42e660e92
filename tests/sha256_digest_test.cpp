#include "net/sha256_digest.h"
#include "support/served_folder.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

const std::string kEmpty = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
// Computed once with sha256sum over PatternBytes(700001) and its first 300000 bytes.
const std::string kPattern = "a6f1347d556126038ca2f40b808ca1a8b56de0a6c34e82034662eda59160523c";
const std::string kPatternHead = "24591658fd88d06ca7da58118225d4debef89faee747351ab2b559b339d26d59";
constexpr std::size_t kPatternSize = 700001;
constexpr std::size_t kHeadSize = 300000;

std::string HexOf(const std::string& data, std::size_t piece) {
    Sha256Digest digest;
    for (std::size_t at = 0; at < data.size(); at += piece) {
        digest.Update(data.data() + at, std::min(piece, data.size() - at));
    }
    return Sha256Hex(digest.Final());
}

TEST(Sha256Digest, KnownVectorsWholeAndInPieces) {
    struct Case {
        std::string data, hex;
    } const cases[] = {
        {"", kEmpty},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {PatternBytes(kPatternSize), kPattern},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data.size());
        // Pieces that straddle the hash's 64-byte blocks in every way.
        for (const std::size_t piece : {c.data.size() + 1, std::size_t{1}, std::size_t{63}, std::size_t{1000}}) {
            EXPECT_EQ(HexOf(c.data, piece), c.hex) << "pieces of " << piece;
        }
    }
}

TEST(Sha256Digest, StartsAfreshAfterFinalAndReset) {
    Sha256Digest digest;
    digest.Update("abc", 3);
    EXPECT_NE(Sha256Hex(digest.Final()), kEmpty);
    EXPECT_EQ(Sha256Hex(digest.Final()), kEmpty);

    digest.Update("a file written once", 19);
    digest.Reset(); // written again from its first byte
    const std::string pattern = PatternBytes(kPatternSize);
    digest.Update(pattern.data(), pattern.size());
    EXPECT_EQ(Sha256Hex(digest.Final()), kPattern);
}

TEST(Sha256Digest, ParsesOnlySixtyFourHexDigits) {
    const std::string lower = kPattern;
    std::string upper = kPattern;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    std::string mixed = kPattern;
    mixed[0] = 'A';
    mixed[63] = 'C';
    for (const std::string& text : {lower, upper, mixed}) {
        const auto parsed = ParseSha256(text);
        ASSERT_TRUE(parsed.has_value()) << text;
        EXPECT_EQ(Sha256Hex(*parsed), kPattern);
    }

    const std::string refused[] = {
        "",
        kPattern.substr(0, 63),
        kPattern + "0",
        kPattern.substr(0, 63) + "g",
        " " + kPattern.substr(1),
        kPattern.substr(0, 63) + " ",
        "0x" + kPattern.substr(2),
        kPattern.substr(0, 32) + std::string(1, '\0') + kPattern.substr(33),
        "sha256:" + kPattern.substr(7),
    };
    for (const std::string& text : refused) {
        EXPECT_FALSE(ParseSha256(text).has_value()) << text;
    }
}

TEST(Sha256Digest, HashesAFilePrefixThatTheRestContinues) {
    TempDir dir;
    const std::string pattern = PatternBytes(kPatternSize);
    dir.Write("part.bin", pattern);
    const std::string path = dir.File("part.bin");

    Sha256Digest digest;
    ASSERT_TRUE(HashFilePrefix(path, kHeadSize, digest));
    EXPECT_EQ(Sha256Hex(digest.Final()), kPatternHead);

    // A continued download: the bytes on disk once, then the new ones as they arrive.
    ASSERT_TRUE(HashFilePrefix(path, kHeadSize, digest));
    digest.Update(pattern.data() + kHeadSize, pattern.size() - kHeadSize);
    EXPECT_EQ(Sha256Hex(digest.Final()), kPattern);

    ASSERT_TRUE(HashFilePrefix(path, kPatternSize, digest)); // more than one read buffer
    EXPECT_EQ(Sha256Hex(digest.Final()), kPattern);
    ASSERT_TRUE(HashFilePrefix(path, 0, digest));
    EXPECT_EQ(Sha256Hex(digest.Final()), kEmpty);

    EXPECT_FALSE(HashFilePrefix(path, kPatternSize + 1, digest));
    EXPECT_FALSE(HashFilePrefix(dir.File("missing.bin"), 1, digest));
    EXPECT_FALSE(HashFilePrefix(dir.path(), 1, digest)); // a folder has no bytes to read
}

} // namespace
