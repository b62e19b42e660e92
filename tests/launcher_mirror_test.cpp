#include "launcher_fixture.h"

#include <gtest/gtest.h>

namespace {

using Texts = std::vector<std::string>;

class LauncherMirrorTest : public MirroredLauncherTest {
protected:
    // The states a file's row went through, from the log.
    Texts StatesOf(const std::string& url) const {
        Texts states;
        const std::string marker = "File [" + url + "] state: [";
        for (const std::string& line : log.Messages()) {
            if (const std::size_t at = line.find(marker); at != std::string::npos) {
                states.push_back(line.substr(at + marker.size(), line.size() - at - marker.size() - 1));
            }
        }
        return states;
    }
    const std::string data = PatternBytes(2500000);
};

TEST_F(LauncherMirrorTest, ADeadMainServerIsNoEndWhileAMirrorAnswers) {
    int deadPort = 0;
    {
        ServedFolder gone;
        deadPort = gone.server().port();
    }
    const std::string dead = "http://127.0.0.1:" + std::to_string(deadPort) + "/big.pak";
    mirror.Write("big.pak", data);
    Open(Configuration(WithMirror(dead, "big.pak")));
    EXPECT_EQ(config.files[0]->size.load(), data.size()); // the survey asked the mirror
    ASSERT_TRUE(Run());
    EXPECT_TRUE(ReadWholeFile(Local("big.pak")) == data);
    EXPECT_EQ(StatesOf(dead), (Texts{"전송중", "미러 1", "완료"}));
    EXPECT_EQ(RowStates(), Texts{"완료"});
    EXPECT_NE(log.Text().find("File [" + dead + "] from mirror [1]: [" + mirror.Url("/big.pak") + "]"),
              std::string::npos);
    EXPECT_EQ(view.outcomes.back(), RunOutcome::Complete);
}

TEST_F(LauncherMirrorTest, WithADigestTheMirrorContinuesThePart) {
    served.Write("big.pak", data);
    mirror.Write("big.pak", data);
    Open(Configuration(
        WithMirror(served.Url("/big.pak?reset_after=1048576"), "big.pak", "Sha256=\"" + HexDigest(data) + "\"")));
    ASSERT_TRUE(Run());
    const auto gets = Gets(mirror, "/big.pak");
    ASSERT_EQ(gets.size(), 1u);
    EXPECT_EQ(gets[0].Header("Range"), "bytes=1048576-");
    EXPECT_EQ(gets[0].Header("If-Range"), ""); // another server's version would never match
    EXPECT_TRUE(ReadWholeFile(Local("big.pak?reset_after=1048576")) == data);
    EXPECT_EQ(RowStates(), Texts{"완료"});
    EXPECT_EQ(view.outcomes.back(), RunOutcome::Complete);
}

TEST_F(LauncherMirrorTest, WithoutADigestTheMirrorStartsAgain) {
    served.Write("big.pak", data);
    mirror.Write("big.pak", data);
    Open(Configuration(WithMirror(served.Url("/big.pak?reset_after=1048576"), "big.pak")));
    ASSERT_TRUE(Run());
    const auto gets = Gets(mirror, "/big.pak");
    ASSERT_EQ(gets.size(), 1u);
    EXPECT_EQ(gets[0].Header("Range"), "");
    EXPECT_TRUE(ReadWholeFile(Local("big.pak?reset_after=1048576")) == data);
    EXPECT_NE(log.Text().find("on [" + mirror.Url("/big.pak") +
                              "]: the part on disk came from another server, and versions of different servers do "
                              "not compare."),
              std::string::npos);
    EXPECT_EQ(view.outcomes.back(), RunOutcome::Complete);
}

} // namespace
