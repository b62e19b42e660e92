#include "config/config_loader.h"
#include "config/xml_pre_scan.h"
#include "config/xml_stack_parse.h"
#include "support/log_capture.h"
#include "support/message_recorder.h"
#include "support/temp_dir.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <tinyxml.h>
#include <vector>

namespace {

std::string EmbeddedExample() {
    return ReadWholeFile(OSTREL_SOURCE_DIR "/res/config.xml");
}

const char* const kButton = R"(Visible="1" Position="1,2" Normal="n.jpg" Press="p.jpg" Over="o.jpg" Disable="d.jpg")";
const char* const kSection = R"(Visible="1" Position="1,2" Size="3,4" Color="5,6,7" FontName="돋움" FontSize="9")";

std::string Document(const std::string& body) {
    return "<?xml version=\"1.0\"?><Configuration>" + body + "</Configuration>";
}

class ConfigLoaderTest : public ::testing::Test {
protected:
    LogCapture log;
    MessageRecorder messages;
    CConfigLoader config;
};

TEST_F(ConfigLoaderTest, EmbeddedExampleLoadsEveryRecord) {
    ASSERT_EQ(config.LoadFromString(EmbeddedExample().c_str()), CONFIG_OK);
    EXPECT_EQ(config.name, "AmbrelLauncher");
    EXPECT_EQ(config.version, 8);
    EXPECT_EQ(config.url, "");
    EXPECT_EQ(config.background, "background.jpg");
    EXPECT_EQ(config.controls.size(), 8u); // 5 buttons, 2 bars, the list box
    EXPECT_EQ(config.sections.size(), 15u);
    ASSERT_EQ(config.files.size(), 2u);
    EXPECT_TRUE(config.files[0]->executable);
    EXPECT_TRUE(config.files[0]->autoExecute); // the installer starts after a complete run
    EXPECT_FALSE(config.files[0]->waitExecute || config.files[0]->autoClose);
    EXPECT_FALSE(config.files[1]->executable);
    EXPECT_EQ(config.files[0]->sha256.size(), 64u); // the demo's installer
    EXPECT_EQ(config.files[1]->sha256.size(), 64u); // the demo's data file
    EXPECT_EQ(config.retries, 0);

    const ControlInfo* folder = config.Control(CT_FOLDER);
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->x, 469);
    EXPECT_EQ(folder->y, 429);
    EXPECT_EQ(folder->width, 0);
    EXPECT_EQ(folder->normalImage, "btn_folder_normal.jpg");
    EXPECT_EQ(folder->disableImage, "btn_folder_disable.jpg");
    const ControlInfo* list = config.Control(CT_FILE_LIST);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->checked, 1);
    EXPECT_EQ(list->width, 542);

    const SectionInfo* path = config.Section(ST_DOWNLOAD_PATH);
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(path->underline, 1); // "UnderLine" counts, the ignored "Underline" does not
    EXPECT_EQ(path->fontName, "돋움");
    EXPECT_EQ(path->fontSize, 9);
    EXPECT_EQ(config.Section(ST_FILE_NAME)->underline, 0);
    EXPECT_EQ(config.Section(ST_FILE_NAME)->bold, 1);
    EXPECT_EQ(config.Section(ST_TRANS_STATE)->italic, 1);
    const SectionInfo* free = config.Section(ST_DISK_FREE_SPACE);
    EXPECT_EQ(free->colorR + free->colorG + free->colorB, 3 * 255);
    EXPECT_TRUE(messages.Seen().empty());
}

TEST_F(ConfigLoaderTest, DumpsEveryStoredRecord) {
    ASSERT_EQ(
        config.LoadFromString(
            Document(
                std::string(R"(<Base/><Buttons><Stop )") + kButton +
                R"(/></Buttons><Progresses><TotalDownloadRate Position="30,254" Size="516,6" Image="t.jpg"/></Progresses>)"
                R"(<Sections><Speed )" +
                kSection +
                R"( Align="2" Italic="1"/></Sections>)"
                R"(<Listboxes><FileList Visible="1" Position="17,308" Size="542,74"/></Listboxes>)"
                R"(<Files><File Url="http://h/a.exe" waitexecute="TRUE"/></Files>)")
                .c_str()),
        CONFIG_OK);
    const std::string sep(64, '=');
    const std::vector<std::string> expected = {
        "[INFO][CConfigLoader::LoadFromString][" /* line varies */,
        sep,
        "[DEBUG] Control (Button) Info Type: [2]",
        "[DEBUG] Visible: [1] Position: [1,2] Size: [0,0]",
        "[DEBUG] Normal image: [n.jpg]",
        "[DEBUG] Pressed image: [p.jpg]",
        "[DEBUG] Over image: [o.jpg]",
        "[DEBUG] Disabled image: [d.jpg]",
        sep,
        "",
        sep,
        "[DEBUG] Control (Progress) Info Type: [7]",
        "[DEBUG] Visible: [0] Position: [30,254] Size: [516,6]",
        "[DEBUG] Image: [t.jpg]",
        sep,
        "",
        sep,
        "[DEBUG] Section Info Type: [11]",
        "[DEBUG] Visible: [1] Position: [1,2] Size: [3,4], Color: [5,6,7]",
        "[DEBUG] Font name: [돋움] size: [9] align: [2] bold: [0] underline: [0] italic: [1]",
        sep,
        "",
        sep,
        "[DEBUG] Control (Listbox) Info Type: [8]",
        "[DEBUG] Visible: [1] Position: [17,308] Size: [542,74]",
        sep,
        "",
        sep,
        "[DEBUG] File URL: [http://h/a.exe]",
        "[DEBUG] File executable: [FALSE]",
        "[DEBUG] File waitexecute: [TRUE]",
        sep,
        "",
    };
    const auto lines = log.Messages();
    ASSERT_EQ(lines.size(), expected.size());
    EXPECT_EQ(lines[0].rfind(expected[0], 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("] Successfully parsed XML."), std::string::npos);
    for (std::size_t i = 1; i < expected.size(); ++i) {
        EXPECT_EQ(lines[i], expected[i]) << "line " << i;
    }
}

TEST_F(ConfigLoaderTest, Sha256AndRetriesAreReadAndDumpedBesideTheOtherLines) {
    const std::string mixedCase = "A6F1347D556126038ca2f40b808ca1a8b56de0a6c34e82034662eda59160523C";
    const std::string lower = "a6f1347d556126038ca2f40b808ca1a8b56de0a6c34e82034662eda59160523c";
    ASSERT_EQ(config.LoadFromString(Document(R"(<Base Retries="3"/><Buttons/><Progresses/><Sections/><Files>)"
                                             R"(<File Url="http://h/a.pak" Sha256=")" +
                                             mixedCase +
                                             R"("/><File Url="http://h/b.pak" Sha256="12ab"/>)"
                                             R"(<File Url="http://h/c.pak"/></Files>)")
                                        .c_str()),
              CONFIG_OK);
    EXPECT_EQ(config.retries, 3);
    ASSERT_EQ(config.files.size(), 3u);
    EXPECT_EQ(config.files[0]->sha256, lower);
    EXPECT_EQ(config.files[1]->sha256, ""); // malformed: no hash
    EXPECT_EQ(config.files[2]->sha256, "");
    EXPECT_TRUE(messages.Seen().empty()); // optional attributes: never a message box

    const std::string sep(64, '=');
    const std::string variable = "]["; // the lines ending so carry a source line number next
    const std::vector<std::string> expected = {
        "[INFO][CConfigLoader::LoadFromString][",
        sep,
        "[DEBUG] Base retries: [3]",
        sep,
        "",
        sep,
        "[DEBUG] File URL: [http://h/a.pak]",
        "[DEBUG] File executable: [FALSE]",
        "[DEBUG] File waitexecute: [FALSE]",
        "[DEBUG] File sha256: [" + lower + "]",
        sep,
        "",
        "[WARNING][CConfigLoader::ParseFile][",
        sep,
        "[DEBUG] File URL: [http://h/b.pak]",
        "[DEBUG] File executable: [FALSE]",
        "[DEBUG] File waitexecute: [FALSE]",
        sep,
        "",
        sep,
        "[DEBUG] File URL: [http://h/c.pak]",
        "[DEBUG] File executable: [FALSE]",
        "[DEBUG] File waitexecute: [FALSE]",
        sep,
        "",
    };
    const auto lines = log.Messages();
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const bool prefix = expected[i].size() > 2 && expected[i].compare(expected[i].size() - 2, 2, variable) == 0;
        EXPECT_EQ(prefix ? lines[i].substr(0, expected[i].size()) : lines[i], expected[i]) << "line " << i;
    }
    EXPECT_NE(lines[12].find("] Sha256 [12ab] of file [http://h/b.pak] is not 64 hexadecimal digits: the file "
                             "has no hash."),
              std::string::npos)
        << lines[12];
}

TEST_F(ConfigLoaderTest, RetriesThatAreNoCountWarnAndCountAsNone) {
    struct Case {
        std::string base;
        int retries;
        bool warned;
    } const cases[] = {
        {"<Base/>", 0, false},
        {R"(<Base Retries="0"/>)", 0, false},
        {R"(<Base Retries="007"/>)", 7, false},
        {R"(<Base Retries="-1"/>)", 0, true},
        {R"(<Base Retries="2.5"/>)", 0, true},
        {R"(<Base Retries=" 2"/>)", 0, true},
        {R"(<Base Retries="two"/>)", 0, true},
        {R"(<Base Retries=""/>)", 0, true},
        {R"(<Base Retries="99999999999"/>)", 0, true},
    };
    for (const Case& c : cases) {
        LogCapture fresh;
        CConfigLoader loader;
        ASSERT_EQ(loader.LoadFromString(Document(c.base + "<Buttons/><Progresses/><Sections/>").c_str()), CONFIG_OK);
        EXPECT_EQ(loader.retries, c.retries) << c.base;
        EXPECT_EQ(fresh.CountStartingWith("[WARNING][CConfigLoader::LoadFromString]["), c.warned ? 1 : 0) << c.base;
        // Without the attribute the log is what it always was.
        EXPECT_EQ(fresh.CountStartingWith("[DEBUG] Base retries: ["), c.base == "<Base/>" ? 0 : 1) << c.base;
    }
    EXPECT_TRUE(messages.Seen().empty());
}

TEST_F(ConfigLoaderTest, ConnectionsAreBoundedAndWarnOtherwise) {
    struct Case {
        std::string base;
        int connections;
        bool warned;
    } const cases[] = {
        {"<Base/>", 4, false},
        {R"(<Base Connections="1"/>)", 1, false},
        {R"(<Base Connections="16"/>)", 16, false},
        {R"(<Base Connections="0"/>)", 1, true},
        {R"(<Base Connections="17"/>)", 1, true},
        {R"(<Base Connections="-2"/>)", 1, true},
        {R"(<Base Connections="many"/>)", 1, true},
    };
    for (const Case& c : cases) {
        LogCapture fresh;
        CConfigLoader loader;
        ASSERT_EQ(loader.LoadFromString(Document(c.base + "<Buttons/><Progresses/><Sections/>").c_str()), CONFIG_OK);
        EXPECT_EQ(loader.connections, c.connections) << c.base;
        EXPECT_EQ(fresh.CountStartingWith("[WARNING][CConfigLoader::LoadFromString]["), c.warned ? 1 : 0) << c.base;
        const std::string dumped = "[DEBUG] Base connections: [" + std::to_string(c.connections) + "]";
        EXPECT_EQ(fresh.CountStartingWith(dumped), c.base == "<Base/>" ? 0 : 1) << c.base;
    }
}

TEST_F(ConfigLoaderTest, SpeedLimitAndMirrorsAreRead) {
    ASSERT_EQ(config.LoadFromString(Document(R"(<Base MaxBytesPerSecond="1048576"/><Buttons/><Progresses/><Sections/>)"
                                             R"(<Files><File Url="http://main/a.pak">)"
                                             R"(<Mirror Url="http://one/a.pak"/><Mirror/><Mirror Url=""/>)"
                                             R"(<Mirror Url="http://two/a.pak"/></File>)"
                                             R"(<File Url="http://main/b.pak"/></Files>)")
                                        .c_str()),
              CONFIG_OK);
    EXPECT_EQ(config.maxBytesPerSecond, 1048576);
    ASSERT_EQ(config.files.size(), 2u);
    EXPECT_EQ(config.files[0]->mirrors, (std::vector<std::string>{"http://one/a.pak", "http://two/a.pak"}));
    EXPECT_TRUE(config.files[1]->mirrors.empty());
    EXPECT_TRUE(log.Contains("[DEBUG] Base max bytes per second: [1048576]"));
    EXPECT_TRUE(log.Contains("[DEBUG] File mirror: [http://two/a.pak]"));

    CConfigLoader odd;
    ASSERT_EQ(odd.LoadFromString(Document(R"(<Base MaxBytesPerSecond="1 MB"/>)").c_str()), CONFIG_OK);
    EXPECT_EQ(odd.maxBytesPerSecond, 0); // no limit, and a warning
    EXPECT_EQ(log.CountStartingWith("[WARNING][CConfigLoader::LoadFromString]["), 1);
}

TEST_F(ConfigLoaderTest, RecordsBeforeAFailureStay) {
    const std::string doc = Document(
        std::string("<Base/><Buttons><Close ") + kButton + "/></Buttons><Progresses/><Sections><Speed " + kSection +
        "/><TotalSize " + R"(Position="1" Size="1" Color="1" FontName="f"/><FileName )" + kSection + "/></Sections>");
    EXPECT_EQ(config.LoadFromString(doc.c_str()), CONFIG_MISSING_ATTRIBUTE);
    EXPECT_EQ(config.missingAttribute.element, "TotalSize");
    EXPECT_EQ(config.missingAttribute.attribute, "FontSize");
    EXPECT_NE(config.Control(CT_CLOSE), nullptr);
    EXPECT_NE(config.Section(ST_SPEED), nullptr);
    EXPECT_EQ(config.Section(ST_TOTAL_SIZE), nullptr); // the failing record is discarded
    EXPECT_EQ(config.Section(ST_FILE_NAME), nullptr);  // later ones are never read
}

TEST_F(ConfigLoaderTest, ContainersAreSearchedInOrder) {
    // Files before Sections is not found; a comment and a differently cased name are no buttons;
    // the second Execution replaces the first; without Listboxes, Files follows Sections.
    const std::string doc = Document(std::string("<Base/><Files><File Url=\"early\"/></Files><Buttons>") +
                                     "<!--Execution--><execution " + kButton + "/><Execution " + kButton +
                                     "/><Execution Visible=\"0\" Position=\"7,8\" Normal=\"2.jpg\" Press=\"p\" "
                                     "Over=\"o\" Disable=\"d\"/></Buttons><Progresses/><Sections/>"
                                     "<Files><File Url=\"late\"/><Other/><File/></Files>");
    ASSERT_EQ(config.LoadFromString(doc.c_str()), CONFIG_OK);
    ASSERT_EQ(config.controls.size(), 1u);
    EXPECT_EQ(config.Control(CT_EXECUTION)->normalImage, "2.jpg");
    EXPECT_EQ(config.Control(CT_EXECUTION)->x, 7);
    ASSERT_EQ(config.files.size(), 2u);
    EXPECT_EQ(config.files[0]->url, "late");
    EXPECT_EQ(config.files[1]->url, ""); // no Url: empty
}

TEST_F(ConfigLoaderTest, MissingContainersCountAsEmpty) {
    const std::string doc = Document(std::string("<Base Name=\"N\"/><Sections><Speed ") + kSection +
                                     "/></Sections><Files><File Url=\"u\"/></Files>");
    ASSERT_EQ(config.LoadFromString(doc.c_str()), CONFIG_OK);
    EXPECT_TRUE(config.controls.empty());
    EXPECT_NE(config.Section(ST_SPEED), nullptr);
    EXPECT_EQ(config.files.size(), 1u);
    EXPECT_EQ(config.name, "N");
    EXPECT_EQ(config.background, "");
}

TEST_F(ConfigLoaderTest, ResultCodesOfTheTwoEntryPoints) {
    TempDir dir;
    dir.Write("empty.xml", "");
    dir.Write("decl.xml", "<?xml version=\"1.0\"?>");
    dir.Write("nobase.xml", "<Configuration><Buttons/></Configuration>");
    dir.Write("crlf.xml", "<?xml version=\"1.0\"?>\r\n<C>\r\n<Base Name=\"x\"/>\r\n</C>\r\n");

    struct Case {
        std::string path;
        int result;
    } const cases[] = {
        {"", CONFIG_EMPTY_PATH},           {dir.File("missing.xml"), CONFIG_READ_FAILED},
        {dir.path(), CONFIG_READ_FAILED},  {dir.File("empty.xml"), CONFIG_PARSE_FAILED},
        {dir.File("decl.xml"), CONFIG_OK}, {dir.File("nobase.xml"), CONFIG_NO_BASE},
        {dir.File("crlf.xml"), CONFIG_OK},
    };
    for (const auto& c : cases) {
        CConfigLoader loader;
        EXPECT_EQ(loader.Load(c.path), c.result) << c.path;
        if (c.result == CONFIG_OK) {
            EXPECT_TRUE(loader.controls.empty() && loader.sections.empty() && loader.files.empty());
        }
    }
    EXPECT_EQ(CConfigLoader().LoadFromString(""), CONFIG_PARSE_FAILED);
    EXPECT_EQ(CConfigLoader().LoadFromString("<a><b></a>"), CONFIG_PARSE_FAILED);
    EXPECT_EQ(CConfigLoader().LoadFromString("<?xml version=\"1.0\"?>"), CONFIG_OK);
    EXPECT_EQ(CConfigLoader().LoadFromString("<Configuration/>"), CONFIG_NO_BASE);

    EXPECT_TRUE(log.CountStartingWith("[ERROR][CConfigLoader::Load][") > 0);
    const std::string text = log.Text();
    EXPECT_NE(text.find("] Failed to parse XML file. Error: [Error document empty.]"), std::string::npos);
    EXPECT_NE(text.find("] Invalid configuration data: Base node not found."), std::string::npos);
    EXPECT_NE(text.find("] Failed to load config file [" + dir.File("missing.xml") + "]."), std::string::npos);
    EXPECT_NE(text.find("] Successfully parsed XML file [" + dir.File("decl.xml") + "]."), std::string::npos);
}

TEST_F(ConfigLoaderTest, FileAndStringGiveTheSameRecords) {
    TempDir dir;
    // Without Listboxes, Files still follows Sections through both entry points.
    const std::string doc =
        Document(std::string("<Base Url=\"http://s/skin.zip\"/><Buttons/><Progresses/><Sections/>") +
                 "<Files><File Url=\"a\" autoclose=\"true\" autoexecute=\"True\"/></Files>");
    dir.Write("config.xml", doc);
    CConfigLoader fromFile;
    ASSERT_EQ(fromFile.Load(dir.File("config.xml")), CONFIG_OK);
    ASSERT_EQ(config.LoadFromString(doc.c_str()), CONFIG_OK);
    for (const CConfigLoader* loaded : {&fromFile, &config}) {
        EXPECT_EQ(loaded->url, "http://s/skin.zip");
        ASSERT_EQ(loaded->files.size(), 1u);
        EXPECT_TRUE(loaded->files[0]->autoClose);
        EXPECT_TRUE(loaded->files[0]->autoExecute);
        EXPECT_EQ(loaded->files[0]->size.load(), 0u);
        EXPECT_EQ(loaded->files[0]->localPath, "");
    }
    unsigned int size = 0;
    std::string text;
    ASSERT_TRUE(fromFile.LoadConfigFile(dir.File("config.xml"), size, text));
    EXPECT_EQ(size, doc.size());
    EXPECT_EQ(text, doc);
}

std::string Repeated(const std::string& piece, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

// `levels` levels of elements, <C> the outermost, with `inner` inside the innermost.
std::string Nested(std::size_t levels, const std::string& inner = "") {
    return "<C><Base Name=\"n\"/>" + Repeated("<a>", levels - 1) + inner + Repeated("</a>", levels - 1) + "</C>";
}

TEST_F(ConfigLoaderTest, DocumentsNestedTooDeeplyOrCutInACharacterAreRefusedBeforeParsing) {
    const std::string deep = Repeated("<a>", 20000);
    const std::string deeplyQuoted = "<x v='" + deep + "'/>";
    const std::string utf8 = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
    struct Case {
        const char* what;
        std::string text;
        int result;
        const char* refusal; // the description logged, or none when TinyXML decides
    } const cases[] = {
        {"nested without end", "<C>" + Repeated("<a>", 400000), CONFIG_PARSE_FAILED, "Elements nested too deeply."},
        {"256 levels", Nested(256), CONFIG_OK, nullptr},
        {"257 levels", Nested(257), CONFIG_PARSE_FAILED, "Elements nested too deeply."},
        {"siblings do not nest", Nested(255, Repeated("<a/>", 1000)), CONFIG_OK, nullptr},
        {"one more level in an empty element", Nested(256, "<e/>"), CONFIG_PARSE_FAILED, "Elements nested too deeply."},
        {"nesting in a comment", Nested(2, "<!--" + deep + "-->"), CONFIG_OK, nullptr},
        {"nesting in CDATA", Nested(2, "<![CDATA[" + deep + "]]>"), CONFIG_OK, nullptr},
        {"nesting in an attribute value", Nested(2, deeplyQuoted), CONFIG_OK, nullptr},
        {"nesting in a declaration's value", "<?xml version='" + deep + "'?>" + Nested(2), CONFIG_OK, nullptr},
        // TinyXML ends markup it does not know at the first '>', and reads on as elements.
        {"nesting after an instruction", Nested(2, "<?p " + deep), CONFIG_PARSE_FAILED, "Elements nested too deeply."},
        {"UTF-8 character cut at the end", utf8 + "<C><Base Name=\"\xEB\xB8", CONFIG_PARSE_FAILED,
         "A character cut off at the end of the text."},
        {"the same bytes in text of one byte per character", "<C><Base Name=\"\xEB\xB8", CONFIG_PARSE_FAILED, nullptr},
        {"an encoding that cannot be told", "<?xml version=\"1.0\" encoding=\"&#85;TF-8\"?>" + Nested(2),
         CONFIG_PARSE_FAILED, "An encoding declared through a character reference."},
    };
    TempDir dir;
    for (const Case& c : cases) {
        dir.Write("config.xml", c.text);
        LogCapture fresh;
        EXPECT_EQ(CConfigLoader().LoadFromString(c.text.c_str()), c.result) << c.what;
        EXPECT_EQ(CConfigLoader().Load(dir.File("config.xml")), c.result) << c.what;
        const std::string logged = fresh.Text();
        for (const char* refusal : {"Elements nested too deeply.", "A character cut off at the end of the text.",
                                    "An encoding declared through a character reference."}) {
            const bool expected = c.refusal != nullptr && std::string(refusal) == c.refusal;
            EXPECT_EQ(logged.find(std::string("] Failed to parse XML file. Error: [") + refusal + "]") !=
                          std::string::npos,
                      expected)
                << c.what << ": " << refusal;
        }
        if (c.refusal != nullptr) { // one line from each entry point
            EXPECT_EQ(fresh.CountStartingWith("[ERROR][CConfigLoader::"), 2) << c.what;
        }
    }
}

// Nesting too deep for the stack, hidden behind constructs that the pre-scan once read otherwise than
// TinyXML: each load runs in a child process, so that a crash fails the case instead of the test run.
TEST_F(ConfigLoaderTest, DeepNestingBehindConstructsTinyXmlReadsOnOverIsRefusedWithoutACrash) {
    const std::string deep = Repeated("<a>", 50000);
    struct Case {
        const char* what;
        std::string text;
    } const cases[] = {
        {"end tag with a space before '>'", "<C><x></x >" + deep},
        {"end tag with a tab before '>'", "<C><x></x\t>" + deep},
        {"end tag with a line break before '>'", "<C><x></x\r\n>" + deep},
        {"character reference ending past the closing quote", "<C e=\"&#\"#;\">" + deep},
        {"the same in single quotes", "<C e='&#'#;'>" + deep},
        {"hexadecimal reference ending past the closing quote", "<C e=\"&#x\"x41;\">" + deep},
        {"character reference in text ending past a comment's start", "<C>&#<!--#;" + deep},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PreScanXml(c.text), XmlPreScan::TooDeep) << c.what;
        EXPECT_EXIT(std::exit(CConfigLoader().LoadFromString(c.text.c_str())),
                    ::testing::ExitedWithCode(CONFIG_PARSE_FAILED), "")
            << c.what;
    }
}

// The parse bounds the depth by itself, for text that got past the pre-scan unseen. Each case runs in
// a child process whose own stack may grow to 256 KiB only, far less than TinyXML needs for 4000 levels,
// so that a crash fails the case instead of the test run. (TinyXML takes time quadratic in the depth.)
TEST(XmlStackParseTest, TreesDeeperThanTheLimitAreRefusedAfterTheParseWithoutACrash) {
    constexpr std::size_t kDeep = 4000;
    struct Case {
        const char* what;
        std::string text;
        XmlStackParse result;
        std::size_t nesting; // of a tree that is kept
    } const cases[] = {
        {"nested without end", Repeated("<a>", kDeep), XmlStackParse::TooDeep, 0},
        {"nested and closed", Repeated("<a>", kDeep) + Repeated("</a>", kDeep), XmlStackParse::TooDeep, 0},
        {"deep in the last branch", "<r><b/>" + Repeated("<a x='1'>t", kDeep), XmlStackParse::TooDeep, 0},
        {"one past the limit", Nested(257), XmlStackParse::TooDeep, 0},
        {"at the limit", Nested(256), XmlStackParse::Parsed, 256},
        {"siblings and text", Nested(3, Repeated("<a>t<!--c--></a>", 1000)), XmlStackParse::Parsed, 4},
        {"not well-formed", Nested(5) + "<", XmlStackParse::Parsed, 5},
    };
    for (const Case& c : cases) {
        EXPECT_EXIT(
            {
                rlimit stack{};
                ::getrlimit(RLIMIT_STACK, &stack);
                stack.rlim_cur = 256 << 10;
                ::setrlimit(RLIMIT_STACK, &stack);
                TiXmlDocument document;
                std::exit(static_cast<int>(ParseXmlOnOwnStack(c.text.c_str(), document)));
            },
            ::testing::ExitedWithCode(static_cast<int>(c.result)), "")
            << c.what;
        if (c.result == XmlStackParse::Parsed) {
            TiXmlDocument document;
            EXPECT_EQ(ParseXmlOnOwnStack(c.text.c_str(), document), XmlStackParse::Parsed) << c.what;
            EXPECT_EQ(ElementNesting(document), c.nesting) << c.what;
        }
    }
}

} // namespace
