#include "app/config_sources.h"
#include "app/user_folders.h"
#include "support/log_capture.h"
#include "support/served_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

// Points the private temporary folder into a fresh folder for the test's lifetime.
class ScopedTempFolder {
public:
    explicit ScopedTempFolder(const std::string& path) {
        if (const char* value = std::getenv("TMPDIR")) {
            previous_ = value;
            hadPrevious_ = true;
        }
        ::setenv("TMPDIR", path.c_str(), 1);
    }
    ~ScopedTempFolder() {
        if (hadPrevious_) {
            ::setenv("TMPDIR", previous_.c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }

private:
    std::string previous_;
    bool hadPrevious_ = false;
};

class ConfigUrlTest : public ::testing::Test {
protected:
    ConfigUrlTest() { program.Write("config.xml", "<C><Base Name=\"beside\"/></C>"); }

    ConfigSources Sources(const std::string& url) const { return {{}, url, program.File("ostrel"), {}}; }
    std::string FetchedCopy() const {
        std::string folder;
        EXPECT_TRUE(PrivateTempFolder(folder));
        return folder + "Ambrel.xml";
    }

    LogCapture log;
    ServedFolder served;
    TempDir program;
    TempDir temp;
    ScopedTempFolder scopedTemp{temp.path()};
    CConfigLoader config;
};

TEST_F(ConfigUrlTest, ServedConfigurationIsLoadedAndItsCopyDeleted) {
    served.Write("cfg.xml", "<C><Base Name=\"served\"/></C>");
    EXPECT_EQ(LoadConfigurationFromSources(config, Sources(" \t" + served.Url("/cfg.xml") + "\r\n")), CONFIG_OK);
    EXPECT_EQ(config.name, "served");
    EXPECT_FALSE(FileExists(FetchedCopy()));
    const auto requests = served.server().Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/cfg.xml");
}

TEST_F(ConfigUrlTest, ParseErrorLeavesNothingBehind) {
    served.Write("cfg.xml", "<C><Base");
    EXPECT_EQ(LoadConfigurationFromSources(config, Sources(served.Url("/cfg.xml"))), CONFIG_PARSE_FAILED);
    EXPECT_FALSE(FileExists(FetchedCopy()));
}

TEST_F(ConfigUrlTest, FailedFetchEndsWithoutConfigXml) {
    // Neither a copy left by an earlier run nor the error page the server sent may pass for the answer.
    const std::string copy = FetchedCopy();
    {
        std::FILE* stale = std::fopen(copy.c_str(), "w");
        ASSERT_NE(stale, nullptr);
        std::fputs("<C><Base Name=\"stale\"/></C>", stale);
        std::fclose(stale);
    }
    EXPECT_EQ(LoadConfigurationFromSources(config, Sources(served.Url("/cfg.xml?status=404"))), CONFIG_FETCH_FAILED);
    EXPECT_EQ(config.name, "");
    EXPECT_FALSE(FileExists(copy));
    EXPECT_EQ(StartupMessageId(CONFIG_FETCH_FAILED), 138);
}

TEST_F(ConfigUrlTest, NoPrivateTempFolderCountsAsNoFetchedFile) {
    program.Write("not-a-folder", "");
    ScopedTempFolder blocked(program.File("not-a-folder"));
    served.Write("cfg.xml", "<C><Base Name=\"served\"/></C>");
    EXPECT_EQ(LoadConfigurationFromSources(config, Sources(served.Url("/cfg.xml"))), CONFIG_FETCH_FAILED);
    EXPECT_TRUE(served.server().Requests().empty());
}

TEST_F(ConfigUrlTest, BlankUrlGoesToConfigXml) {
    EXPECT_EQ(LoadConfigurationFromSources(config, Sources(" \t\r\n")), CONFIG_OK);
    EXPECT_EQ(config.name, "beside");
    EXPECT_TRUE(served.server().Requests().empty());
}

} // namespace
