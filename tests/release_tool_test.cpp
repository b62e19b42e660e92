#include "build_options.h"
#include "config/config_loader.h"
#include "launcher/url_names.h"
#include "net/release_signature.h"
#include "support/served_folder.h"
#include "support/tool_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sys/stat.h>

namespace {

class ReleaseToolTest : public ::testing::Test {
protected:
    int Release(const std::vector<std::string>& arguments) {
        return ToolProcess(OSTREL_RELEASE_PATH, arguments, home.File("stdout"), home.File("stderr")).Wait();
    }
    std::string Output() const { return ReadWholeFile(home.File("stdout")); }
    std::string Errors() const { return ReadWholeFile(home.File("stderr")); }
    std::string Fingerprint(const std::string& publicKey) const {
        std::string error;
        const auto keys = ParseReleaseKeys(ReadWholeFile(publicKey), error);
        EXPECT_TRUE(keys) << error;
        return keys ? keys->front().fingerprint : "";
    }
    static mode_t Mode(const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        return st.st_mode & 07777;
    }

    TempDir home;
    const std::string config = home.File("config.xml");
};

// What the server decodes a URL's path back to.
std::string PercentDecoded(const std::string& text) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            decoded += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

TEST_F(ReleaseToolTest, VerifyTellsAGoodSignatureFromEveryOtherCase) {
    const std::string key = home.File("release.key");
    ASSERT_EQ(Release({"keygen", key}), 0) << Errors();
    ASSERT_EQ(Release({"keygen", home.File("other.key")}), 0) << Errors();
    EXPECT_EQ(Mode(key), 0600u);
    const std::string original = ReadWholeFile(OSTREL_SOURCE_DIR "/res/config.xml");

    const struct {
        const char* name;
        std::function<void()> after; // what happens once the configuration is signed
        std::string publicKey;
        int status;
        std::string text; // on standard output for a good one, else on standard error
    } cases[] = {
        {"good", [] {}, key + ".pub", 0, "good signature by key " + Fingerprint(key + ".pub") + "\n"},
        {"no signature file", [&] { std::filesystem::remove(config + ".sig"); }, key + ".pub", 1,
         "ostrel-release: no signature: " + config + ".sig is missing\n"},
        {"malformed", [&] { home.Write("config.xml.sig", "not base64\n"); }, key + ".pub", 1,
         "ostrel-release: malformed signature: " + config + ".sig is not one base64 line of 64 bytes\n"},
        {"another key", [] {}, home.File("other.key.pub"), 1,
         "ostrel-release: bad signature: " + config + ".sig was not made by this key, or " + config +
             " changed since it was signed\n"},
        {"one byte changed",
         [&] {
             std::string changed = original;
             changed[changed.find("Version=\"8\"") + 9] = '9';
             home.Write("config.xml", changed);
         },
         key + ".pub", 1,
         "ostrel-release: bad signature: " + config + ".sig was not made by this key, or " + config +
             " changed since it was signed\n"},
    };
    for (const auto& c : cases) {
        home.Write("config.xml", original);
        ASSERT_EQ(Release({"sign", config, "--key", key}), 0) << c.name << ": " << Errors();
        c.after();
        EXPECT_EQ(Release({"verify", config, "--pub", c.publicKey}), c.status) << c.name;
        EXPECT_EQ(c.status == 0 ? Output() : Errors(), c.text) << c.name;
    }

    const std::string privatePem = ReadWholeFile(key);
    const std::string publicPem = ReadWholeFile(key + ".pub");
    EXPECT_EQ(Release({"keygen", key}), 1);
    EXPECT_EQ(Errors(), "ostrel-release: " + key + " exists: a key is never overwritten\n");
    EXPECT_EQ(ReadWholeFile(key), privatePem);
    EXPECT_EQ(ReadWholeFile(key + ".pub"), publicPem);
}

TEST_F(ReleaseToolTest, TheFilesPutIntoAConfigurationArriveWholeThroughTheLauncher) {
    ServedFolder served;
    const std::string folder = served.folder().path();
    std::filesystem::create_directory(folder + "/sub");
    // In the order the element lists them: by path, byte by byte.
    const std::vector<std::string> names = {"a b.txt", "empty", "sub/setup.sh", "한글.pak"};
    served.Write("a b.txt", PatternBytes(70000));
    served.Write("empty", "");
    served.Write("sub/setup.sh", "#!/bin/sh\necho installed\n");
    served.Write("한글.pak", PatternBytes(3001));
    const std::string original = ReadWholeFile(OSTREL_SOURCE_DIR "/res/config.xml");
    home.Write("config.xml", original);
    ::chmod(config.c_str(), 0640);

    const std::string base = served.Url("/");
    ASSERT_EQ(Release({"files", folder, "--base-url", base, "--installer", "sub/setup.sh"}), 0) << Errors();
    const std::string printed = Output();
    ASSERT_EQ(Release({"files", folder, "--base-url", base, "--installer", "sub/setup.sh", "--into", config}), 0)
        << Errors();

    // Only the element changed, and it is the printed one; the file keeps its mode.
    const std::string replaced = ReadWholeFile(config);
    const std::size_t begin = original.find("    <Files>");
    const std::size_t end = original.find("</Files>") + 8;
    ASSERT_EQ(replaced.substr(0, begin), original.substr(0, begin));
    ASSERT_EQ(replaced.substr(replaced.size() - (original.size() - end)), original.substr(end));
    std::string element = replaced.substr(begin, replaced.size() - (original.size() - end) - begin);
    for (std::size_t line = 0; line != std::string::npos; line = element.find('\n', line + 1)) {
        element.erase(line == 0 ? 0 : line + 1, 4);
    }
    EXPECT_EQ(element + "\n", printed);
    EXPECT_EQ(Mode(config), 0640u);

    // The launcher's own reader gets every file back: its path below the base, its digest, the installer.
    CConfigLoader loaded;
    ASSERT_EQ(loaded.Load(config), CONFIG_OK);
    ASSERT_EQ(loaded.files.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        const FileInfo& file = *loaded.files[i];
        ASSERT_EQ(file.url.substr(0, base.size()), base) << names[i];
        EXPECT_TRUE(std::all_of(file.url.begin(), file.url.end(), [](char c) { return c > ' ' && c < 0x7F; }))
            << file.url;
        EXPECT_EQ(PercentDecoded(file.url.substr(base.size())), names[i]);
        EXPECT_EQ(file.sha256.size(), 64u) << names[i];
        EXPECT_EQ(file.executable && file.autoExecute, names[i] == "sub/setup.sh") << names[i];
    }

    // The server serves that very folder: the launcher fetches every file, each digest passes, and the
    // bytes are the server's.
    const std::string downloads = home.File("downloads");
    const std::vector<std::string> environment = {"HOME=" + home.path(), "XDG_STATE_HOME=" + home.File("state"),
                                                  "XDG_CONFIG_HOME=" + home.File("config"), "TMPDIR=" + home.path()};
    EXPECT_EQ(ToolProcess(OSTREL_CLI_PATH, {"--config", config, "--dir", downloads, "--no-report", "--no-exec"},
                          home.File("stdout"), home.File("stderr"), environment)
                  .Wait(),
              0)
        << Errors();
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string local = LocalPathForUrl(downloads, loaded.files[i]->url).value_or("");
        EXPECT_TRUE(FileExists(local)) << names[i] << " at " << local;
        EXPECT_TRUE(ReadWholeFile(local) == ReadWholeFile(folder + "/" + names[i])) << names[i];
    }
}

TEST_F(ReleaseToolTest, AConfigurationOnTheServerIsNoFileOfItsRelease) {
    const std::string folder = home.File("release");
    std::filesystem::create_directory(folder);
    WriteWholeFile(folder + "/data.pak", "d");
    WriteWholeFile(folder + "/config.xml", ReadWholeFile(OSTREL_SOURCE_DIR "/res/config.xml"));
    WriteWholeFile(folder + "/config.xml.sig", "of the last release\n");
    ASSERT_EQ(Release({"files", folder, "--base-url", "http://h/", "--into", folder + "/config.xml"}), 0) << Errors();
    CConfigLoader loaded;
    ASSERT_EQ(loaded.Load(folder + "/config.xml"), CONFIG_OK);
    ASSERT_EQ(loaded.files.size(), 1u);
    EXPECT_EQ(loaded.files[0]->url, "http://h/data.pak");
}

TEST_F(ReleaseToolTest, UsageAndConfigurationErrorsExit2AndLeaveTheConfigurationAlone) {
    const std::string folder = home.File("release");
    std::filesystem::create_directories(folder + "/a");
    std::filesystem::create_directories(folder + "/b");
    WriteWholeFile(folder + "/a/data.pak", "a");
    WriteWholeFile(folder + "/setup.sh", "s");
    const std::string elsewhere = home.File("elsewhere.xml");
    const struct {
        const char* name;
        std::string config; // written to elsewhere.xml
        std::vector<std::string> arguments;
        std::string error; // the first line on standard error
    } cases[] = {
        {"no such installer",
         "",
         {"files", folder, "--base-url", "http://h/", "--installer", "setup.exe"},
         "ostrel-release: --installer setup.exe names no file below " + folder},
        {"no element",
         "<Configuration><Base/></Configuration>",
         {"files", folder, "--base-url", "http://h/", "--into", elsewhere},
         "ostrel-release: " + elsewhere + " has no <Files> element"},
        {"two elements",
         "<C><Files></Files><!-- <Files></Files> --></C>",
         {"files", folder, "--base-url", "http://h/", "--into", elsewhere},
         "ostrel-release: " + elsewhere + " has 2 <Files> elements, not one"},
        {"no base URL", "", {"files", folder}, "ostrel-release: --base-url is needed"},
        {"an option of another command",
         "",
         {"sign", elsewhere, "--pub", "k.pub"},
         "ostrel-release: unknown argument --pub"},
        {"no command", "", {}, "ostrel-release: no command"},
    };
    for (const auto& c : cases) {
        WriteWholeFile(elsewhere, c.config);
        EXPECT_EQ(Release(c.arguments), 2) << c.name;
        EXPECT_EQ(Errors().substr(0, Errors().find('\n')), c.error) << c.name;
        EXPECT_EQ(ReadWholeFile(elsewhere), c.config) << c.name;
    }

    // Two files of one name in two folders would be one file in the player's folder.
    WriteWholeFile(folder + "/b/data.pak", "b");
    EXPECT_EQ(Release({"files", folder, "--base-url", "http://h/"}), 2);
    EXPECT_EQ(Errors(), "ostrel-release: a/data.pak and b/data.pak would both be saved as data.pak in the player's "
                        "folder\n");
    EXPECT_EQ(Output(), "");

    EXPECT_EQ(Release({"--version"}), 0);
    EXPECT_EQ(Output(), std::string(OSTREL_EXECUTABLE_NAME) + "-release " + OSTREL_VERSION_TEXT + "\n");
    EXPECT_EQ(Release({"--help"}), 0);
    EXPECT_EQ(Output().substr(0, 35), "usage: ostrel-release keygen KEY\n  ");
}

} // namespace
