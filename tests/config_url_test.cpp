#include "app/config_sources.h"
#include "base/user_folders.h"
#include "support/log_capture.h"
#include "support/served_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>
#include <unistd.h>
#include <vector>

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
    // The names in the private temporary folder.
    std::vector<std::string> TempFiles() const {
        std::string folder;
        EXPECT_TRUE(PrivateTempFolder(folder));
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
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
    EXPECT_TRUE(TempFiles().empty());
    const auto requests = served.server().Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/cfg.xml");
}

TEST_F(ConfigUrlTest, ParseErrorLeavesNothingBehind) {
    served.Write("cfg.xml", "<C><Base");
    EXPECT_EQ(LoadConfigurationFromSources(config, Sources(served.Url("/cfg.xml"))), CONFIG_PARSE_FAILED);
    EXPECT_TRUE(TempFiles().empty());
}

TEST_F(ConfigUrlTest, FailedFetchEndsWithoutConfigXml) {
    // Neither a copy left by an earlier run nor the error page the server sent may pass for the answer.
    served.Write("cfg.xml", "<C><Base Name=\"cut short\"/></C>");
    std::string folder;
    ASSERT_TRUE(PrivateTempFolder(folder));
    WriteWholeFile(folder + "Ambrel.xml", "<C><Base Name=\"stale\"/></C>");
    for (const char* query : {"?status=404", "?reset_after=10"}) {
        EXPECT_EQ(LoadConfigurationFromSources(config, Sources(served.Url(std::string("/cfg.xml") + query))),
                  CONFIG_FETCH_FAILED)
            << query;
        EXPECT_EQ(config.name, "") << query;
        EXPECT_EQ(TempFiles(), std::vector<std::string>{"Ambrel.xml"}) << query;
    }
    EXPECT_EQ(StartupMessageId(CONFIG_FETCH_FAILED), 138);
}

TEST_F(ConfigUrlTest, AnAnswerLargerThanAnyConfigurationIsNotRead) {
    // Padded, so that the endless body comes in large pieces.
    served.Write("cfg.xml", "<C><Base Name=\"endless\"/></C><!--" + std::string(65536, '-') + "-->");
    for (const char* query : {"?endless=1", "?announce=16777217"}) {
        SCOPED_TRACE(query);
        const std::string url = served.Url(std::string("/cfg.xml") + query);
        EXPECT_EQ(LoadConfigurationFromSources(config, Sources(url)), CONFIG_FETCH_FAILED);
        EXPECT_EQ(config.name, "");
        EXPECT_TRUE(TempFiles().empty());
        EXPECT_NE(log.Text().find("The configuration at [" + url + "] is larger than [16777216] bytes: not read."),
                  std::string::npos);
    }
}

TEST_F(ConfigUrlTest, LaunchersStartedTogetherEachReadTheirOwnFetch) {
    // Both transfers are under way at once: the answers come only after a pause.
    constexpr int kLaunchers = 4;
    for (int i = 0; i < kLaunchers; ++i) {
        served.Write("cfg" + std::to_string(i) + ".xml", "<C><Base Name=\"launcher" + std::to_string(i) + "\"/></C>");
    }
    std::vector<CConfigLoader> configs(kLaunchers);
    std::vector<int> results(kLaunchers, -1);
    std::vector<std::thread> launchers;
    for (int i = 0; i < kLaunchers; ++i) {
        launchers.emplace_back([&, i] {
            const std::string url = served.Url("/cfg" + std::to_string(i) + ".xml?delay_ms=300");
            results[static_cast<std::size_t>(i)] =
                LoadConfigurationFromSources(configs[static_cast<std::size_t>(i)], Sources(url));
        });
    }
    for (std::thread& launcher : launchers) {
        launcher.join();
    }
    for (std::size_t i = 0; i < kLaunchers; ++i) {
        EXPECT_EQ(results[i], CONFIG_OK) << i;
        EXPECT_EQ(configs[i].name, "launcher" + std::to_string(i));
    }
    EXPECT_TRUE(TempFiles().empty());
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
