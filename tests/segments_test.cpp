#include "net/byte_ranges.h"
#include "net/file_validator.h"
#include "net/http_downloader.h"
#include "net/segmented_download.h"
#include "net/transfer_failure.h"
#include "support/served_folder.h"

#include <gtest/gtest.h>

#include <sys/xattr.h>

namespace {

using Range = ByteRanges::Range;
using Ranges = std::vector<Range>;

ByteRanges Of(const Ranges& ranges) {
    ByteRanges set;
    for (const Range& r : ranges) {
        set.Add(r.first, r.end);
    }
    return set;
}

TEST(ByteRanges, AddingMergesWhatTouchesOrOverlaps) {
    struct Case {
        Ranges added;
        Ranges kept;
    } const cases[] = {
        {{{10, 20}, {30, 40}}, {{10, 20}, {30, 40}}}, {{{30, 40}, {10, 20}}, {{10, 20}, {30, 40}}},
        {{{10, 20}, {20, 30}}, {{10, 30}}},           {{{20, 30}, {10, 20}}, {{10, 30}}},
        {{{10, 20}, {30, 40}, {15, 35}}, {{10, 40}}}, {{{10, 20}, {30, 40}, {50, 60}, {0, 55}}, {{0, 60}}},
        {{{10, 20}, {12, 18}}, {{10, 20}}},           {{{10, 10}, {5, 3}}, {}},
    };
    for (const Case& c : cases) {
        const ByteRanges set = Of(c.added);
        EXPECT_EQ(set.ranges(), c.kept) << set.Format();
    }
}

TEST(ByteRanges, TheFirstGapIsTheLowestMissingPieceUpToItsLength) {
    struct Case {
        Ranges present;
        std::uint64_t from, size, most;
        std::optional<Range> gap;
    } const cases[] = {
        {{}, 0, 100, 30, Range{0, 30}},
        {{{0, 40}}, 0, 100, 30, Range{40, 70}},
        {{{0, 40}, {50, 100}}, 0, 100, 30, Range{40, 50}},
        {{{10, 40}}, 0, 100, 30, Range{0, 10}},
        {{{0, 40}}, 60, 100, 30, Range{60, 90}},
        {{{0, 40}, {90, 100}}, 0, 100, 60, Range{40, 90}},
        {{{0, 100}}, 0, 100, 30, std::nullopt},
        {{{0, 40}}, 0, 40, 30, std::nullopt},
        {{}, 0, 100, 0, std::nullopt},
    };
    for (const Case& c : cases) {
        const ByteRanges set = Of(c.present);
        EXPECT_EQ(set.FirstGap(c.from, c.size, c.most), c.gap) << set.Format() << " from " << c.from;
    }
    EXPECT_TRUE(Of({{0, 100}}).Covers(100));
    EXPECT_FALSE(Of({{0, 99}}).Covers(100));
    EXPECT_FALSE(Of({{1, 100}}).Covers(100));
    EXPECT_EQ(Of({{0, 10}, {20, 25}}).Total(), 15u);
}

TEST(ByteRanges, OnlyAWrittenRecordWithinTheFileReadsBack) {
    const ByteRanges set = Of({{0, 10}, {20, 30}});
    EXPECT_EQ(ByteRanges::Parse(set.Format(), 30)->ranges(), set.ranges());
    EXPECT_EQ(ByteRanges::Parse("", 30)->ranges(), Ranges{});
    for (const char* text : {"0-10 20-31", "10-0", "5-5", "20-30 0-10", "0-10 10-20", "0-10  20-30", "0-10,20-30", "0-",
                             "-10", "a-b", "0-10 ", " 0-10", "0-99999999999999999999"}) {
        EXPECT_FALSE(ByteRanges::Parse(text, 30).has_value()) << text;
    }
}

TEST(SegmentedDownload, MoreConnectionsOnlyWhereOneIsSlowAndBelowTheLimit) {
    constexpr std::uint64_t kMiB = 1 << 20;
    struct Case {
        std::uint64_t arrived;
        std::uint32_t elapsedMs;
        double limitBytesPerMs;
        bool enough;
    } const cases[] = {
        {300 * kMiB, 300, 0, true},                 // a gigabyte a second: the line is full
        {76 * kMiB, 300, 0, false},                 // about a quarter of that
        {0, 300, 0, false},                         // not one piece yet
        {3 * kMiB, 1000, 3 * kMiB / 1000.0, true},  // at the speed limit
        {1 * kMiB, 1000, 3 * kMiB / 1000.0, false}, // a third of it
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SegmentedDownload::OneConnectionIsEnough(c.arrived, c.elapsedMs, c.limitBytesPerMs), c.enough)
            << c.arrived << " in " << c.elapsedMs << " ms, limit " << c.limitBytesPerMs;
    }
}

// A piece of a file whose other bytes are someone else's.
class SegmentTest : public ::testing::Test {
protected:
    SegmentTest() {
        served.Write("data.bin", content);
        local.Write("part.bin", std::string(content.size(), 'x'));
    }

    bool FetchPiece(std::uint64_t first, std::uint64_t last, const std::string& validator,
                    const std::string& query = "") {
        downloader.url = served.Url("/data.bin" + query);
        downloader.localFileName = local.File("part.bin");
        downloader.expectedSize = content.size();
        downloader.startOffset = first;
        downloader.segment = CHttpDownloader2::Segment{last, validator};
        return downloader.Download();
    }
    std::string Validator() {
        CHttpDownloader2 head;
        head.url = served.Url("/data.bin");
        head.localFileName = local.File("scratch");
        head.headOnly = 1;
        EXPECT_TRUE(head.Download());
        return head.rangeValidator().value_or("");
    }

    const std::string content = PatternBytes(50000);
    ServedFolder served;
    TempDir local;
    CHttpDownloader2 downloader;
};

TEST_F(SegmentTest, APieceIsWrittenInPlaceAndTheRestIsLeftAlone) {
    const std::string validator = Validator();
    ASSERT_FALSE(validator.empty());
    ASSERT_TRUE(FetchPiece(10000, 19999, validator));
    EXPECT_EQ(served.server().Requests().back().Header("Range"), "bytes=10000-19999");
    EXPECT_EQ(served.server().Requests().back().Header("If-Range"), validator);
    EXPECT_EQ(downloader.segmentBytesWritten(), 10000u);
    const std::string expected = std::string(10000, 'x') + content.substr(10000, 10000) + std::string(30000, 'x');
    EXPECT_TRUE(ReadWholeFile(local.File("part.bin")) == expected);
}

TEST_F(SegmentTest, AnythingButThePieceOfItsVersionIsRefusedAndWritesNothing) {
    const std::string validator = Validator();
    struct Case {
        const char* query;
        std::string validator;
        AnswerFault fault;
    } const cases[] = {
        {"", "\"another-version\"", AnswerFault::RangeRefused},    // the server sends the whole file
        {"?ignore_range=1", validator, AnswerFault::RangeRefused}, // ranges not kept to
        {"?range_from=5000", validator, AnswerFault::InvalidRange},
        {"?content_range=bytes%2010000-19999/60000", validator, AnswerFault::InvalidRange}, // another size
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(FetchPiece(10000, 19999, c.validator, c.query)) << c.query;
        EXPECT_EQ(downloader.lastFailure().answerFault, c.fault) << c.query;
        EXPECT_EQ(downloader.segmentBytesWritten(), 0u) << c.query;
        EXPECT_TRUE(ReadWholeFile(local.File("part.bin")) == std::string(content.size(), 'x')) << c.query;
    }
}

TEST_F(SegmentTest, TheSurveyTellsAVersionOnlyOfAServerThatAnswersRanges) {
    EXPECT_EQ(Validator().front(), '"');
    served.Write("data.bin", content);
    CHttpDownloader2 head;
    head.url = served.Url("/data.bin?no_validators=1");
    head.localFileName = local.File("scratch");
    head.headOnly = 1;
    ASSERT_TRUE(head.Download());
    EXPECT_FALSE(head.rangeValidator().has_value());
}

TEST_F(SegmentTest, TheRecordOfWrittenBytesBelongsToOneSize) {
    const std::string part = local.File("part.bin");
    if (!StoreFileSegments(part, 50000, Of({{0, 100}}))) {
        GTEST_SKIP() << "the temporary folder's file system keeps no user extended attributes";
    }
    EXPECT_EQ(LoadFileSegments(part, 50000)->ranges(), (Ranges{{0, 100}}));
    EXPECT_FALSE(LoadFileSegments(part, 50001).has_value());
    ASSERT_EQ(::setxattr(part.c_str(), "user.ostrel.segments", "50000:0-100 90-200", 18, 0), 0);
    EXPECT_FALSE(LoadFileSegments(part, 50000).has_value());
    EXPECT_TRUE(RemoveFileSegments(part));
    EXPECT_FALSE(LoadFileSegments(part, 50000).has_value());
}

} // namespace
