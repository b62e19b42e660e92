#include "launcher/local_files.h"
#include "launcher_fixture.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using Told = LauncherRecordingView::Told;

// What the launcher does with servers whose sizes cannot be true: sizes no file can have or that add up past
// what 64 bits count, answers larger than the survey found.
class LauncherSizesTest : public MirroredLauncherTest {
protected:
    Told Failures() {
        Told told;
        view.OnViewThread([&] { told = view.failures; });
        return told;
    }
    std::optional<RunOutcome> LastOutcome() {
        std::optional<RunOutcome> outcome;
        view.OnViewThread([&] {
            if (!view.outcomes.empty()) {
                outcome = view.outcomes.back();
            }
        });
        return outcome;
    }
};

TEST_F(LauncherSizesTest, AnAnswerPastTheSurveyedSizeIsTheServersFault) {
    struct Case {
        const char* what;
        std::string query; // of the main server's GET; its HEAD tells the true size
        bool mirrored;
        RunOutcome outcome;
        std::string fileAfter;
        std::string cause; // of the main server, when no mirror mends it
    };
    const std::string data = PatternBytes(5000);
    served.Write("a.pak", data);
    mirror.Write("a.pak", data);
    // Paced, so that a body nothing stops would not fill the disk before the test gives up.
    const std::string endless = "?endless=1&rate=1000000";
    const Case cases[] = {
        {"endless", endless, false, RunOutcome::Incomplete, "",
         "the server sent more than the 5000 bytes it announced"},
        {"endless, mirrored", endless, true, RunOutcome::Complete, data, ""},
        {"announced larger, mirrored", "?announce=100000000", true, RunOutcome::Complete, data, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string url = served.Url("/a.pak" + c.query);
        std::string element = c.mirrored ? WithMirror(url, "a.pak") : "<File Url=\"" + url + "\"/>";
        for (std::size_t at = element.find('&'); at != std::string::npos; at = element.find('&', at + 1)) {
            element.insert(at + 1, "amp;");
        }
        view.OnViewThread([&] {
            view.failures.clear();
            view.outcomes.clear();
        });
        Open(Configuration(element, Retries(2)));
        served.server().ClearRequests();
        ASSERT_TRUE(Run());
        ASSERT_EQ(LastOutcome(), c.outcome);
        EXPECT_EQ(Gets(served, "/a.pak" + c.query).size(), 1u); // no retry: the server's answer is its word
        EXPECT_TRUE(ReadWholeFile(Local("a.pak" + c.query)) == c.fileAfter);
        EXPECT_EQ(Failures(), c.cause.empty() ? Told{} : (Told{{0, url + ": " + c.cause}}));
    }
}

TEST_F(LauncherSizesTest, SizesThatCannotBeAddedEndTheSurvey) {
    struct Case {
        const char* what;
        std::vector<std::string> queries; // of a.pak, one file each
        std::size_t failing;              // the file the survey ends at
        std::string cause;
    };
    const std::string largest = "?length=9223372036854775807";
    const Case cases[] = {
        {"a length past 64 bits", {"?length=18446744073709551615", "?n=2"}, 0, "the server announced an invalid size"},
        {"a length past the largest file",
         {"?n=1", "?length=9223372036854775808"},
         1,
         "the server announced an invalid size"},
        {"a sum past 64 bits",
         {largest + "&n=1", largest + "&n=2", largest + "&n=3"},
         2,
         "the sizes of the files add up to more than any disk holds"},
    };
    served.Write("a.pak", PatternBytes(1000));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string elements;
        for (const std::string& query : c.queries) {
            std::string element = File("a.pak" + query);
            if (const std::size_t at = element.find('&'); at != std::string::npos) {
                element.insert(at + 1, "amp;");
            }
            elements += element;
        }
        view.Reopen();
        view.surveyFailures.clear();
        CLauncher& l = Make(Configuration(elements));
        EXPECT_FALSE(l.Prepare());
        const std::string url = served.Url("/a.pak" + c.queries[c.failing]);
        view.OnViewThread([&] {
            EXPECT_EQ(view.surveyFailures, (std::vector<std::pair<std::string, std::string>>{{url, c.cause}}));
        });
        EXPECT_EQ(log.Text().find("Total size of contents"), std::string::npos);
    }
}

} // namespace

namespace {

// A skin file comes from a URL too: a server that streams without end fills no disk.
TEST_F(LauncherSizesTest, ASkinFileIsBoundedLikeAnyOtherDownload) {
    served.Write("skin.zip", PatternBytes(5000));
    TempFolderFetch bounded(5000);
    EXPECT_TRUE(bounded.Download(served.Url("/skin.zip")));
    const std::string endless = served.Url("/skin.zip?endless=1");
    EXPECT_FALSE(bounded.Download(endless));
    EXPECT_LE(ReadWholeFile(TempPathForUrl(endless)).size(), 5000u);
}

} // namespace
