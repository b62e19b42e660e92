#include "launcher_fixture.h"

#include "net/byte_ranges.h"
#include "net/file_validator.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace {

using Outcomes = std::vector<RunOutcome>;
using Texts = std::vector<std::string>;

constexpr std::size_t kSize = 20 << 20;
// Four connections at 2 MB/s each: the file takes over two seconds.
const std::string kSlow = "big.pak?rate=2000000";

// The byte ranges "bytes=first-last" headers ask for.
ByteRanges Asked(const Texts& headers) {
    ByteRanges asked;
    for (const std::string& header : headers) {
        std::uint64_t first = 0;
        std::uint64_t last = 0;
        EXPECT_EQ(std::sscanf(header.c_str(), "bytes=%lu-%lu", &first, &last), 2) << header;
        asked.Add(first, last + 1);
    }
    return asked;
}

class LauncherSegmentsTest : public MirroredLauncherTest {
protected:
    LauncherSegmentsTest() {
        served.Write("big.pak", content);
        mirror.Write("big.pak", content);
    }

    std::string Part(const std::string& name) const { return Local(name) + ".part"; }

    // Starts a run of `name` over four connections and stops it once its pieces are under way.
    void RunAndStop(const std::string& name, const std::string& attributes = "") {
        CLauncher& l = Open(Configuration(File(name, attributes), Connections(4)));
        view.OnViewThread([&] { ASSERT_TRUE(l.OnBnClickedBtnDownload()); });
        ASSERT_TRUE(view.WaitUntil([&] { return Ranges("/" + name).size() >= 4; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        const auto stop = std::chrono::steady_clock::now();
        view.OnViewThread([&] { l.OnBnClickedBtnStop(); });
        ASSERT_TRUE(view.WaitUntil([&] { return !view.outcomes.empty(); }));
        EXPECT_LT(std::chrono::steady_clock::now() - stop, std::chrono::seconds(1));
        ASSERT_EQ(view.outcomes, Outcomes{RunOutcome::Stopped});
        view.outcomes.clear();
        view.failures.clear();
    }

    const std::string content = PatternBytes(kSize);
};

TEST_F(LauncherSegmentsTest, AStoppedFileContinuesWithOnlyTheBytesItLacks) {
    // Its digest covers the bytes of both runs.
    const std::string digest = "Sha256=\"" + HexDigest(content) + "\"";
    RunAndStop(kSlow, digest);
    EXPECT_FALSE(std::filesystem::exists(Local(kSlow)));
    const std::optional<ByteRanges> kept = LoadFileSegments(Part(kSlow), kSize);
    if (!kept) {
        GTEST_SKIP() << "the temporary folder's file system keeps no user extended attributes";
    }
    ASSERT_GT(kept->Total(), 0u);
    ASSERT_LT(kept->Total(), kSize);
    // What the record vouches for is on the disk, byte for byte.
    const std::string part = ReadWholeFile(Part(kSlow));
    for (const ByteRanges::Range& r : kept->ranges()) {
        ASSERT_LE(r.end, part.size());
        EXPECT_TRUE(part.compare(r.first, r.end - r.first, content, r.first, r.end - r.first) == 0)
            << r.first << "-" << r.end;
    }

    served.server().ClearRequests();
    Open(Configuration(File(kSlow, digest), Connections(4)));
    ASSERT_TRUE(Run());
    EXPECT_EQ(view.outcomes, Outcomes{RunOutcome::Complete});
    EXPECT_TRUE(view.failures.empty());
    const ByteRanges asked = Asked(Ranges("/" + kSlow));
    for (const ByteRanges::Range& r : asked.ranges()) {
        EXPECT_EQ(kept->FirstGap(r.first, r.end, r.end - r.first), (ByteRanges::Range{r.first, r.end}))
            << "asked again for bytes it had: " << r.first << "-" << r.end;
    }
    ByteRanges whole = *kept;
    whole.Add(asked);
    EXPECT_TRUE(whole.Covers(kSize)) << whole.Format();
    EXPECT_TRUE(ReadWholeFile(Local(kSlow)) == content);
    EXPECT_FALSE(std::filesystem::exists(Part(kSlow)));
    EXPECT_FALSE(LoadFileSegments(Local(kSlow), kSize).has_value());
}

TEST_F(LauncherSegmentsTest, AFileChangedOnTheServerSinceIsFetchedWholeAgain) {
    RunAndStop(kSlow);
    const std::string changed = PatternBytes(kSize + 7).substr(7);
    std::this_thread::sleep_for(std::chrono::milliseconds(10)); // another modification time, another version
    served.Write("big.pak", changed);
    served.server().ClearRequests();
    Open(Configuration(File(kSlow), Connections(4)));
    ASSERT_TRUE(Run());
    EXPECT_EQ(view.outcomes, Outcomes{RunOutcome::Complete});
    EXPECT_TRUE(Asked(Ranges("/" + kSlow)).Covers(kSize));
    EXPECT_TRUE(ReadWholeFile(Local(kSlow)) == changed);
}

TEST_F(LauncherSegmentsTest, AServerThatDoesNotKeepToRangesGetsOneConnection) {
    // Without a version nothing is asked in pieces; with ranges not kept to, the pieces give way to one
    // whole transfer.
    for (const char* name : {"big.pak?no_validators=1", "big.pak?ignore_range=1", "big.pak?range_from=0"}) {
        served.server().ClearRequests();
        Open(Configuration(File(name), Connections(4)));
        ASSERT_TRUE(Run()) << name;
        EXPECT_EQ(view.outcomes.back(), RunOutcome::Complete) << name;
        const Texts ranges = Ranges(std::string("/") + name);
        ASSERT_FALSE(ranges.empty()) << name;
        EXPECT_EQ(ranges.back(), "") << name;
        EXPECT_TRUE(ReadWholeFile(Local(name)) == content) << name;
        EXPECT_FALSE(std::filesystem::exists(Part(name))) << name;
    }
    EXPECT_EQ(Ranges("/big.pak?range_from=0").size() > 1, true); // it was tried in pieces first
}

TEST_F(LauncherSegmentsTest, APartFileThatIsNotOursStaysAsItIs) {
    WriteLocal("big.pak.part", "a browser's half of it");
    Open(Configuration(File("big.pak"), Connections(4)));
    ASSERT_TRUE(Run());
    EXPECT_EQ(view.outcomes, Outcomes{RunOutcome::Complete});
    EXPECT_EQ(Ranges("/big.pak"), Texts{""});
    EXPECT_TRUE(ReadWholeFile(Local("big.pak")) == content);
    EXPECT_EQ(ReadWholeFile(Part("big.pak")), "a browser's half of it");
}

TEST_F(LauncherSegmentsTest, TheWholeFileIsCheckedAgainstItsDigest) {
    const std::string name = "big.pak";
    Open(Configuration(File(name, "Sha256=\"" + HexDigest("other bytes") + "\""), Connections(4)));
    ASSERT_TRUE(Run());
    EXPECT_EQ(view.outcomes, Outcomes{RunOutcome::Incomplete});
    EXPECT_GT(Ranges("/" + name).size(), 1u);
    ASSERT_EQ(view.failures.size(), 1u);
    EXPECT_EQ(view.failures[0].second, "damaged in transfer (SHA-256 differs); kept as big.pak.corrupt");
    EXPECT_FALSE(std::filesystem::exists(Local(name)));
    EXPECT_FALSE(std::filesystem::exists(Part(name)));
    EXPECT_TRUE(ReadWholeFile(Local(name + ".corrupt")) == content);

    view.failures.clear();
    Open(Configuration(File(name, "Sha256=\"" + HexDigest(content) + "\""), Connections(4)));
    ASSERT_TRUE(Run());
    EXPECT_EQ(view.outcomes.back(), RunOutcome::Complete);
    EXPECT_TRUE(view.failures.empty());
    EXPECT_TRUE(ReadWholeFile(Local(name)) == content);
}

TEST_F(LauncherSegmentsTest, AFileInPiecesThatTheMirrorCompletesLeavesNoPart) {
    const std::string name = "big.pak?reset_after=500000";
    Open(Configuration(WithMirror(served.Url("/" + name), "big.pak"), Connections(4)));
    ASSERT_TRUE(Run());
    EXPECT_EQ(view.outcomes, Outcomes{RunOutcome::Complete});
    ASSERT_FALSE(Ranges("/" + name).empty());
    EXPECT_EQ(Ranges("/" + name)[0].rfind("bytes=0-", 0), 0u); // a piece, not the rest of a file
    EXPECT_EQ(Gets(mirror, "/big.pak").size(), 1u);
    EXPECT_TRUE(ReadWholeFile(Local(name)) == content);
    EXPECT_FALSE(std::filesystem::exists(Part(name)));
}

TEST_F(LauncherSegmentsTest, TheSpeedLimitHoldsAllPiecesTogether) {
    // Each connection brings 4 MB/s: one is too slow for the limit, so the file takes four.
    const std::string name = "big.pak?rate=4000000";
    CLauncher& l = Open(Configuration(File(name), Connections(4)));
    l.SetSpeedLimit(6 << 20);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(Run());
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    // Four connections at the whole limit each would take under two seconds; together under it, over three.
    EXPECT_GE(elapsed.count(), 2600) << "the pieces together went faster than the limit";
    EXPECT_TRUE(ReadWholeFile(Local(name)) == content);
    std::set<int> connections;
    for (const auto& r : served.server().Requests()) {
        if (r.method == "GET") {
            connections.insert(r.remotePort);
        }
    }
    EXPECT_GE(connections.size(), 4u);
}

TEST_F(LauncherSegmentsTest, AFailedPieceIsAskedForAgainOnTheRetry) {
    const std::string name = "big.pak?fail_first=1";
    Open(Configuration(File(name), [](std::string& text) {
        Retries(1)(text);
        Connections(4)(text);
    }));
    ASSERT_TRUE(Run());
    EXPECT_EQ(view.outcomes, Outcomes{RunOutcome::Complete});
    EXPECT_TRUE(ReadWholeFile(Local(name)) == content);
    EXPECT_GT(Ranges("/" + name).size(), 1u);
}

} // namespace
