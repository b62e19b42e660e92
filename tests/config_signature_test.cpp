#include "app/config_signature.h"
#include "app/config_sources.h"
#include "base/user_folders.h"
#include "res/string_table.h"
#include "support/log_capture.h"
#include "support/message_recorder.h"
#include "support/scoped_env.h"
#include "support/served_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace {

// The tests' release keys (tests/keys): the build's two public keys and their private halves, for tests
// only.
std::string KeyFile(const std::string& name) {
    return ReadWholeFile(OSTREL_SOURCE_DIR "/tests/keys/" + name);
}

std::vector<ReleaseKey> TestKeys() {
    std::string error;
    const std::optional<std::vector<ReleaseKey>> keys = ParseReleaseKeys(KeyFile("release_keys.pem"), error);
    EXPECT_TRUE(keys && keys->size() == 2) << error;
    return keys.value_or(std::vector<ReleaseKey>{});
}

std::string Sign(const std::string& text, const std::string& privatePem) {
    std::string error;
    const std::optional<std::string> signature = SignRelease(text, privatePem, error);
    EXPECT_TRUE(signature) << error;
    return signature.value_or("");
}

const std::string kDigest(64, 'a');
const std::string kInstaller = "http://127.0.0.1:1/setup.sh";

// A configuration whose Base and files carry `base` and `files`.
std::string Configuration(const std::string& base, const std::string& files) {
    return "<C><Base Name=\"signed\" " + base + "/><Files>" + files + "</Files></C>";
}

const std::string kPinned = Configuration("", "<File Url=\"" + kInstaller +
                                                  "\" executable=\"true\" autoexecute=\"true\" "
                                                  "Sha256=\"" +
                                                  kDigest + "\"/><File Url=\"http://127.0.0.1:1/data.pak\"/>");

class ConfigSignatureTest : public ::testing::Test {
protected:
    ConfigSources Sources() const { return {{}, " ", program.File("ostrel"), {}, keys}; }
    // config.xml beside the program, and config.xml.sig when `signature` is given.
    void Beside(const std::string& text, const std::optional<std::string>& signature) const {
        program.Write("config.xml", text);
        if (signature) {
            program.Write("config.xml.sig", *signature);
        }
    }

    LogCapture log;
    MessageRecorder messages;
    TempDir program;
    const std::vector<ReleaseKey> keys = TestKeys();
    const std::string first = KeyFile("first_private.pem");
    const std::string second = KeyFile("second_private.pem");
};

// A configuration beside the program is taken only with a good signature by one of the build's keys, and
// only when it pins every file it may start; the log says why it is refused, or which key signed it.
TEST_F(ConfigSignatureTest, ABesideConfigurationIsTakenOnlyWhenSignedAndPinned) {
    std::string otherError;
    const std::optional<ReleaseKeyPair> other = MakeReleaseKeyPair(otherError);
    ASSERT_TRUE(other) << otherError;
    std::string changed = kPinned;
    changed[changed.find("signed")] = 'S';
    const std::string unpinnedExecutable = Configuration("", "<File Url=\"" + kInstaller + "\" executable=\"true\"/>");
    const std::string malformedDigest =
        Configuration("", "<File Url=\"" + kInstaller + "\" autoexecute=\"true\" Sha256=\"abc\"/>");
    const std::string unpinnedSkin = Configuration("Url=\"http://127.0.0.1:1/skin.zip\"", "");
    const std::string malformedSkinDigest =
        Configuration("Url=\"http://127.0.0.1:1/skin.zip\" SkinSha256=\"not hexadecimal\"", "");
    const std::string pinnedSkin =
        Configuration("Url=\"http://127.0.0.1:1/skin.zip\" SkinSha256=\"" + kDigest + "\"", "");
    struct Case {
        const char* what;
        std::string text;
        std::optional<std::string> signature;
        int result;
        std::string logged;
    } const cases[] = {
        {"signed and good", kPinned, Sign(kPinned, first), CONFIG_OK,
         "is signed by release key [" + keys[0].fingerprint + "]."},
        {"signed by the rolled-over key", kPinned, Sign(kPinned, second), CONFIG_OK,
         "is signed by release key [" + keys[1].fingerprint + "]."},
        {"signature missing", kPinned, std::nullopt, CONFIG_NOT_TRUSTED,
         "refused: its signature [" + program.File("config.xml.sig") + "] is missing."},
        {"signature not base64", kPinned, "not a signature\n", CONFIG_NOT_TRUSTED,
         "refused: its signature [" + program.File("config.xml.sig") + "] is malformed."},
        {"signature of another key", kPinned, Sign(kPinned, other->privatePem), CONFIG_NOT_TRUSTED,
         "refused: its signature [" + program.File("config.xml.sig") + "] was made by none of this build's 2 keys."},
        {"one byte changed after signing", changed, Sign(kPinned, first), CONFIG_NOT_TRUSTED,
         "was made by none of this build's 2 keys."},
        {"an executable file without Sha256", unpinnedExecutable, Sign(unpinnedExecutable, first), CONFIG_NOT_TRUSTED,
         "refused: File [" + kInstaller + "] may be started but has no Sha256."},
        {"an autoexecute file with a malformed Sha256", malformedDigest, Sign(malformedDigest, first),
         CONFIG_NOT_TRUSTED, "refused: File [" + kInstaller + "] may be started but has no Sha256."},
        {"a skin archive without SkinSha256", unpinnedSkin, Sign(unpinnedSkin, first), CONFIG_NOT_TRUSTED,
         "refused: its skin archive [http://127.0.0.1:1/skin.zip] (Base Url) has no SkinSha256."},
        {"a skin archive with a malformed SkinSha256", malformedSkinDigest, Sign(malformedSkinDigest, first),
         CONFIG_NOT_TRUSTED, "(Base Url) has no SkinSha256."},
        {"a skin archive with SkinSha256", pinnedSkin, Sign(pinnedSkin, first), CONFIG_OK, "is signed by release key"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(program.File("config.xml.sig").c_str());
        Beside(c.text, c.signature);
        CConfigLoader config;
        const std::size_t before = log.Text().size();
        EXPECT_EQ(LoadConfigurationFromSources(config, Sources()), c.result);
        const std::string logged = log.Text().substr(before);
        EXPECT_NE(logged.find(c.logged), std::string::npos) << logged;
        if (c.result != CONFIG_OK) {
            EXPECT_NE(logged.find("[ERROR][COstrelApp::LoadConfiguration]"), std::string::npos) << logged;
        }
    }
}

// A refused configuration tells the player what one that cannot be loaded tells.
TEST_F(ConfigSignatureTest, ARefusedConfigurationShowsTheLoadMessage) {
    Beside(kPinned, std::nullopt);
    CConfigLoader config;
    const int result = LoadConfigurationFromSources(config, Sources());
    ShowStartupMessage(result, config);
    ASSERT_EQ(messages.Seen().size(), 1u);
    EXPECT_EQ(messages.Seen()[0].text, LoadStringId(138));
    EXPECT_EQ(StartupMessageId(result), StartupMessageId(CONFIG_READ_FAILED));
}

// Each source's signature is the file beside it: FILE.sig for --config FILE, URL.sig fetched as the
// configuration is; the embedded copy needs none.
TEST_F(ConfigSignatureTest, EverySourceButTheEmbeddedCopyNeedsItsOwnSignature) {
    TempDir temp;
    const ScopedEnv scopedTemp("TMPDIR", temp.path());
    ServedFolder served;
    served.Write("config.xml", kPinned);
    program.Write("branded.xml", kPinned);
    struct Case {
        const char* what;
        std::function<void(ConfigSources&)> choose;
        std::function<void()> sign;
        std::string name;
    } const cases[] = {
        {"--config FILE", [&](ConfigSources& s) { s.commandLineFile = program.File("branded.xml"); },
         [&] { program.Write("branded.xml.sig", Sign(kPinned, first)); }, program.File("branded.xml")},
        {"the configuration URL", [&](ConfigSources& s) { s.configUrl = served.Url("/config.xml"); },
         [&] { served.Write("config.xml.sig", Sign(kPinned, first)); }, served.Url("/config.xml")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ConfigSources sources = Sources();
        c.choose(sources);
        CConfigLoader unsigned_;
        EXPECT_EQ(LoadConfigurationFromSources(unsigned_, sources), CONFIG_NOT_TRUSTED);
        EXPECT_NE(
            log.Text().find("Configuration [" + c.name + "] refused: its signature [" + c.name + ".sig] is missing."),
            std::string::npos)
            << log.Text();
        c.sign();
        CConfigLoader signed_;
        EXPECT_EQ(LoadConfigurationFromSources(signed_, sources), CONFIG_OK) << log.Text();
        EXPECT_EQ(signed_.name, "signed");
    }
    // The signature of the URL's copy was fetched as the configuration is, and its copy deleted.
    std::string folder;
    ASSERT_TRUE(PrivateTempFolder(folder));
    EXPECT_TRUE(std::filesystem::is_empty(folder));

    const std::string unpinned = Configuration("", "<File Url=\"" + kInstaller + "\" executable=\"true\"/>");
    ConfigSources sources = Sources();
    sources.embedded = {reinterpret_cast<const unsigned char*>(unpinned.c_str()), unpinned.size()};
    CConfigLoader embedded;
    EXPECT_EQ(LoadConfigurationFromSources(embedded, sources), CONFIG_OK);
}

TEST(SignatureVersionText, SaysWhetherSignaturesAreRequiredAndNamesEveryKey) {
    EXPECT_EQ(SignatureVersionText(std::nullopt), "signed configuration: not required\n");
    const std::vector<ReleaseKey> keys = TestKeys();
    EXPECT_EQ(SignatureVersionText(keys), "signed configuration: required\nrelease key: " + keys[0].fingerprint +
                                              "\nrelease key: " + keys[1].fingerprint + "\n");
}

} // namespace
