#include "app/config_sources.h"
#include "support/log_capture.h"
#include "support/message_recorder.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

const char kValid[] = "<C><Base Name=\"beside\"/></C>";

EmbeddedBytes Embedded(const char* text) {
    return {reinterpret_cast<const unsigned char*>(text), std::char_traits<char>::length(text)};
}

class ConfigSourcesTest : public ::testing::Test {
protected:
    LogCapture log;
    MessageRecorder messages;
    TempDir dir;
    CConfigLoader config;
    ConfigSources Sources(EmbeddedBytes embedded, std::string commandLineFile = {}) const {
        return {embedded, " ", dir.File("ostrel"), std::move(commandLineFile)};
    }
};

TEST_F(ConfigSourcesTest, EmbeddedCopyComesFirstEvenWhenBroken) {
    dir.Write("config.xml", kValid);
    EXPECT_EQ(LoadConfigurationFromSources(config, Sources(Embedded("<C><Base Name=\"embedded\"/></C>"))), CONFIG_OK);
    EXPECT_EQ(config.name, "embedded");

    CConfigLoader broken;
    EXPECT_EQ(LoadConfigurationFromSources(broken, Sources(Embedded("<C><Base"))), CONFIG_PARSE_FAILED);
    EXPECT_EQ(broken.name, "");
    EXPECT_FALSE(log.Text().find("config.xml") != std::string::npos) << "config.xml must not be looked at";
}

TEST_F(ConfigSourcesTest, WithoutEmbeddedCopyTheFileBesideTheProgramIsRead) {
    EXPECT_EQ(LoadConfigurationFromSources(config, Sources({})), CONFIG_READ_FAILED);
    dir.Write("config.xml", kValid);
    CConfigLoader second;
    EXPECT_EQ(LoadConfigurationFromSources(second, Sources({})), CONFIG_OK);
    EXPECT_EQ(second.name, "beside");
}

TEST_F(ConfigSourcesTest, FileFromTheCommandLineReplacesEverySource) {
    dir.Write("config.xml", kValid);
    dir.Write("branded.xml", "<C><Base Name=\"branded\"/></C>");
    ConfigSources sources = Sources(Embedded("<C><Base Name=\"embedded\"/></C>"), dir.File("branded.xml"));
    sources.configUrl = "http://127.0.0.1:1/never-asked.xml";
    EXPECT_EQ(LoadConfigurationFromSources(config, sources), CONFIG_OK);
    EXPECT_EQ(config.name, "branded");

    // A file that cannot be read is not replaced by any other source.
    CConfigLoader missing;
    sources.commandLineFile = dir.File("absent.xml");
    EXPECT_EQ(LoadConfigurationFromSources(missing, sources), CONFIG_READ_FAILED);
    EXPECT_EQ(missing.name, "");
    EXPECT_EQ(StartupMessageId(CONFIG_READ_FAILED), 138);
}

// Start-up names the first required attribute the configuration lacks, in one warning.
TEST_F(ConfigSourcesTest, MissingRequiredAttributeWarnsOnceAndStops) {
    struct Case {
        std::string body;
        std::string message;
    };
    const std::string sections = std::string(R"(<Sections><FileName Visible="1" Position="1,2" Size="3,4" )") +
                                 R"(Color="5,6,7" FontName="돋움" FontSize="9"/></Sections>)";
    const Case cases[] = {
        {R"(<Buttons><Execution Normal="n"/></Buttons>)", "Execution 항목의 Position 속성이 없습니다."},
        {R"(<Buttons><Close Position="1,1" Press="p" Over="o" Disable="d"/></Buttons>)",
         "Close 항목의 Normal 속성이 없습니다."},
        {R"(<Buttons><Stop Position="1" Normal="n" Over="o" Disable="d"/></Buttons>)",
         "Stop 항목의 Press 속성이 없습니다."},
        {R"(<Buttons><Folder Position="1" Normal="n" Press="p" Disable="d"/></Buttons>)",
         "Folder 항목의 Over 속성이 없습니다."},
        {R"(<Buttons><Download Position="1" Normal="n" Press="p" Over="o"/></Buttons>)",
         "Download 항목의 Disable 속성이 없습니다."},
        {R"(<Buttons/><Progresses><FileDownloadRate Position="1" Image="i"/></Progresses>)",
         "FileDownloadRate 항목의 Size 속성이 없습니다."},
        {R"(<Buttons/><Progresses><TotalDownloadRate Position="1" Size="1"/></Progresses>)",
         "TotalDownloadRate 항목의 Image 속성이 없습니다."},
        {R"(<Buttons/><Progresses/><Sections><Speed Position="1" Size="1" FontName="f" FontSize="9"/></Sections>)",
         "Speed 항목의 Color 속성이 없습니다."},
        {R"(<Buttons/><Progresses/><Sections><TransState Position="1" Size="1" Color="1" FontSize="9"/></Sections>)",
         "TransState 항목의 FontName 속성이 없습니다."},
        {R"(<Buttons/><Progresses/>)" + sections + R"(<Listboxes><FileList Position="1"/></Listboxes>)",
         "FileList 항목의 Size 속성이 없습니다."},
        {R"(<Buttons/><Progresses><FileDownloadRate Size="1" Image="i"/></Progresses>)",
         "FileDownloadRate 항목의 Position 속성이 없습니다."},
        {R"(<Buttons/><Progresses/><Sections><ElapseTime Position="1" Color="1" FontName="f" FontSize="9"/></Sections>)",
         "ElapseTime 항목의 Size 속성이 없습니다."},
        {R"(<Buttons/><Progresses/>)" + sections + R"(<Listboxes><FileList Size="1"/></Listboxes>)",
         "FileList 항목의 Position 속성이 없습니다."},
    };
    for (const Case& c : cases) {
        MessageRecorder recorder;
        CConfigLoader loader;
        const std::string document = "<?xml version=\"1.0\"?><Configuration><Base/>" + c.body + "</Configuration>";
        const int result = LoadConfigurationFromSources(loader, Sources(Embedded(document.c_str())));
        EXPECT_EQ(result, CONFIG_MISSING_ATTRIBUTE) << c.message;
        ShowStartupMessage(result, loader);
        const auto seen = recorder.Seen();
        ASSERT_EQ(seen.size(), 1u) << c.message;
        EXPECT_EQ(seen[0].text, c.message);
        EXPECT_EQ(seen[0].title, "경고");
        EXPECT_EQ(seen[0].icon, MessageIcon::Error);
        EXPECT_EQ(seen[0].buttons, MessageButtons::Ok);
    }
}

TEST(ConfigPathBeside, ReplacesTheProgramNameWhateverTheDepth) {
    EXPECT_EQ(ConfigPathBeside("/opt/ostrel/bin/ostrel"), "/opt/ostrel/bin/config.xml");
    EXPECT_EQ(ConfigPathBeside("ostrel"), "config.xml");
    const std::string deep = "/" + std::string(250, 'd') + "/" + std::string(200, 'e');
    EXPECT_EQ(ConfigPathBeside(deep + "/ostrel"), deep + "/config.xml");
}

TEST_F(ConfigSourcesTest, ConfigXmlLoadsFromAFolderDeeperThan259Characters) {
    const std::string deep = dir.File(std::string(200, 'd')) + "/" + std::string(200, 'e');
    std::filesystem::create_directories(deep);
    WriteWholeFile(deep + "/config.xml", kValid);
    EXPECT_EQ(LoadConfigurationFromSources(config, {{}, " ", deep + "/ostrel", {}}), CONFIG_OK);
    EXPECT_EQ(config.name, "beside");
}

TEST(StartupMessage, OneMessagePerResult) {
    struct Case {
        int result, id;
    } const cases[] = {{0, 0}, {1, 138}, {2, 138}, {3, 160}, {4, 159}, {5, 0}, {6, 138}, {42, 138}};
    for (const auto& c : cases) {
        EXPECT_EQ(StartupMessageId(c.result), c.id) << c.result;
    }
}

TEST(TrimWhiteSpace, RemovesBlanksAtBothEnds) {
    EXPECT_EQ(TrimWhiteSpace(" "), "");
    EXPECT_EQ(TrimWhiteSpace(" \t\n\v\f\r"), "");
    EXPECT_EQ(TrimWhiteSpace("\r\n http://h/c.xml \t"), "http://h/c.xml");
    EXPECT_EQ(TrimWhiteSpace("a b"), "a b");
}

} // namespace
