#include "launcher_fixture.h"
#include "net/file_validator.h"

#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using Clock = std::chrono::steady_clock;
using Texts = std::vector<std::string>;
using Outcomes = std::vector<RunOutcome>;

const std::string kIncomplete = "일부 파일을 완전히 다운로드 하지 못했습니다.\n다운로드를 다시 실행해 주십시오.";

class LauncherDeliveryTest : public LauncherTest {
protected:
    // The If-Range headers of the GETs of `target`, in order.
    Texts IfRanges(const std::string& target) const {
        Texts values;
        for (const auto& r : served.server().Requests()) {
            if (r.method == "GET" && r.target == target) {
                values.push_back(r.Header("If-Range"));
            }
        }
        return values;
    }
    std::string Flipped(std::string bytes) const {
        bytes[bytes.size() / 2] ^= 0x01;
        return bytes;
    }
};

TEST_F(LauncherDeliveryTest, AFlippedByteSetsTheFileAsideAndTheNextRunFetchesItFresh) {
    const std::string data = PatternBytes(40000);
    const std::string setup = "#!/bin/sh\ntouch started\n";
    served.Write("setup.sh", setup);
    served.Write("data.pak", Flipped(data)); // the right size, one bit wrong on the way
    Open(Configuration(File("setup.sh", R"(autoexecute="true" waitexecute="true" Sha256=")" + HexDigest(setup) + "\"") +
                       File("data.pak", "Sha256=\"" + HexDigest(data) + "\"")));
    ASSERT_TRUE(Run());
    EXPECT_EQ(RowStates(), (Texts{"완료", "실패"}));
    EXPECT_FALSE(FileExists(Local("data.pak")));
    EXPECT_EQ(ReadWholeFile(Local("data.pak.corrupt")), Flipped(data));
    EXPECT_EQ(view.MessageTexts(), Texts{kIncomplete});
    EXPECT_EQ(view.outcomes, Outcomes{RunOutcome::Incomplete});
    EXPECT_EQ(CountRequests("GET", "/launcher/tirrareport.sb?status=end"), 0u);
    EXPECT_FALSE(FileExists(Local("started")));
    EXPECT_NE(log.Text().find("SHA-256 differs: Expected [" + HexDigest(data) + "] vs Local [" +
                              HexDigest(Flipped(data)) + "][" + served.Url("/data.pak") + "]; the file is kept as [" +
                              Local("data.pak.corrupt") + "]."),
              std::string::npos);

    served.Write("data.pak", data);
    served.server().ClearRequests();
    ASSERT_TRUE(Run());
    EXPECT_EQ(Ranges("/data.pak"), Texts{""}); // fresh, nothing of the bad copy kept
    EXPECT_EQ(ReadWholeFile(Local("data.pak")), data);
    EXPECT_EQ(view.outcomes.back(), RunOutcome::Complete);
    EXPECT_TRUE(FileExists(Local("started")));
}

TEST_F(LauncherDeliveryTest, ACompleteLookingFileIsCheckedBytesAndAll) {
    const std::string data = PatternBytes(30000);
    served.Write("data.pak", data);
    WriteLocal("data.pak", Flipped(data));
    view.overwriteFallback = 1; // continue: the size says it is complete
    CLauncher& l = Open(Configuration(File("data.pak", "Sha256=\"" + HexDigest(data) + "\"")));
    ASSERT_TRUE(Run());
    EXPECT_EQ(RowStates(), Texts{"실패"});
    EXPECT_TRUE(FileExists(Local("data.pak.corrupt")));
    EXPECT_EQ(CountRequests("GET", "/data.pak"), 0u);

    ASSERT_TRUE(Run()); // fetched fresh and checked as it is written
    EXPECT_EQ(RowStates(), Texts{"완료"});
    EXPECT_EQ(view.outcomes.back(), RunOutcome::Complete);

    // The completion check of the Execution button reads a file changed since.
    WriteLocal("data.pak", Flipped(data));
    EXPECT_FALSE(l.CheckDownloadedFiles());
    EXPECT_TRUE(FileExists(Local("data.pak.corrupt")));
}

TEST_F(LauncherDeliveryTest, AContinuedFileWhoseServerVersionChangedIsFetchedWhole) {
    const std::string version1 = PatternBytes(60000);
    const std::string version2(60000, 'v');
    served.Write("data.pak", version1);
    Open(Configuration(File("data.pak")));
    ASSERT_TRUE(Run());
    const std::optional<std::string> validator = LoadFileValidator(Local("data.pak"));
    ASSERT_TRUE(validator.has_value());                         // kept with the file
    ASSERT_EQ(::truncate(Local("data.pak").c_str(), 20000), 0); // as a cut-off transfer leaves it

    served.Write("data.pak", version2); // same size, new bytes, a later time
    const timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
    ::utimensat(AT_FDCWD, served.folder().File("data.pak").c_str(), later, 0);
    view.overwriteFallback = 1; // continue
    served.server().ClearRequests();
    ASSERT_TRUE(Run());
    EXPECT_EQ(Ranges("/data.pak"), Texts{"bytes=20000-"});
    EXPECT_EQ(IfRanges("/data.pak"), Texts{*validator});
    EXPECT_EQ(ReadWholeFile(Local("data.pak")), version2); // not version 1's head with version 2's tail
    EXPECT_EQ(view.outcomes.back(), RunOutcome::Complete);
    EXPECT_NE(log.Text().find("The server's file changed since [" + Local("data.pak") + "] was begun"),
              std::string::npos);
}

TEST_F(LauncherDeliveryTest, WithoutExtendedAttributesResumeIsAsBefore) {
    const std::string data = PatternBytes(60000);
    served.Write("data.pak", data);
    SetFileValidatorStoreFails(true);
    Open(Configuration(File("data.pak")));
    ASSERT_TRUE(Run());
    ASSERT_EQ(::truncate(Local("data.pak").c_str(), 20000), 0);
    view.overwriteFallback = 1;
    served.server().ClearRequests();
    ASSERT_TRUE(Run());
    SetFileValidatorStoreFails(false);
    EXPECT_EQ(Ranges("/data.pak"), Texts{"bytes=20000-"});
    EXPECT_EQ(IfRanges("/data.pak"), Texts{""});
    EXPECT_EQ(ReadWholeFile(Local("data.pak")), data);
    EXPECT_NE(log.Text().find("No version of the server's file is stored with [" + Local("data.pak") +
                              "]: continuing it unvalidated."),
              std::string::npos);
}

TEST_F(LauncherDeliveryTest, RetriesContinueFromTheBytesOnDisk) {
    const std::string data = PatternBytes(2500000);
    served.Write("big.pak", data);
    Open(Configuration(File("big.pak?reset_after=1048576"), Retries(2)));
    served.server().ClearRequests();
    ASSERT_TRUE(Run());
    EXPECT_EQ(RowStates(), Texts{"완료"});
    EXPECT_TRUE(ReadWholeFile(Local("big.pak?reset_after=1048576")) == data);
    EXPECT_EQ(Ranges("/big.pak?reset_after=1048576"), (Texts{"", "bytes=1048576-", "bytes=2097152-"}));
    EXPECT_NE(log.Text().find("Retry [2] of [2] of [" + served.Url("/big.pak?reset_after=1048576") + "] in [2] s"),
              std::string::npos);
}

TEST_F(LauncherDeliveryTest, RetryAfterIsHonouredAndA404IsFinal) {
    served.Write("a.pak", PatternBytes(1000));
    served.Write("b.pak", PatternBytes(10));
    Open(Configuration(File("a.pak?fail_first=1&amp;status=503&amp;retry_after=2") + File("b.pak"), Retries(3)));
    std::remove(served.folder().File("b.pak").c_str()); // surveyed, then gone
    served.server().ClearRequests();
    const auto started = Clock::now();
    ASSERT_TRUE(Run());
    EXPECT_EQ(RowStates(), (Texts{"완료", "실패"}));
    EXPECT_GE(Clock::now() - started, std::chrono::seconds(2));
    EXPECT_EQ(Ranges("/a.pak?fail_first=1&status=503&retry_after=2").size(), 2u);
    EXPECT_EQ(CountRequests("GET", "/b.pak"), 1u); // not found is the server's last word
    EXPECT_NE(log.Text().find("in [2] s after: [HTTP status 503]"), std::string::npos);
}

TEST_F(LauncherDeliveryTest, StopEndsARetrysPauseAtOnce) {
    served.Write("a.pak", PatternBytes(1000));
    CLauncher& l = Open(Configuration(File("a.pak?fail_first=1&amp;status=503&amp;retry_after=30"), Retries(1)));
    view.OnViewThread([&] { ASSERT_TRUE(l.OnBnClickedBtnDownload()); });
    ASSERT_TRUE(view.WaitUntil([&] { return view.labels[ST_TRANS_STATE] == "30초 후 다시 시도합니다..."; }));
    const auto stopped = Clock::now();
    view.OnViewThread([&] { l.OnBnClickedBtnStop(); });
    ASSERT_TRUE(view.WaitUntil([&] { return !view.outcomes.empty(); }));
    EXPECT_LT(Clock::now() - stopped, std::chrono::seconds(1));
    EXPECT_EQ(view.outcomes, Outcomes{RunOutcome::Stopped});
    EXPECT_EQ(RowStates(), Texts{"실패"});
}

TEST_F(LauncherDeliveryTest, TheSpaceCheckCountsWhatIsStillMissing) {
    served.Write("a.pak", PatternBytes(10000));
    WriteLocal("a.pak", PatternBytes(10000).substr(0, 6000));
    view.overwriteFallback = 1;
    CLauncher& l = Open(Configuration(File("a.pak")));
    std::uint64_t free = 3999;
    l.freeDiskBytes = [&](const std::string&) { return free; };
    EXPECT_EQ(l.MissingBytes(l.downloadFolder), 4000u);
    EXPECT_FALSE(Run()); // 4 000 bytes are missing
    free = 4000;
    ASSERT_TRUE(Run());
    EXPECT_EQ(ReadWholeFile(Local("a.pak")), PatternBytes(10000));
    l.overwriteChoice = 3; // files to overwrite count whole
    EXPECT_EQ(l.MissingBytes(l.downloadFolder), 10000u);
}

} // namespace
