#include "base/settings_file.h"
#include "support/log_capture.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const std::string kFolderKey = SettingKey("AmbrelLauncher", "DownloadFolder");

class SettingsFileTest : public ::testing::Test {
protected:
    std::string Folder() const { return home.File("config/Harnlow"); }
    std::string Path() const { return Folder() + "/launcher.conf"; }
    void WriteFile(const std::string& content) const {
        std::filesystem::create_directories(Folder());
        WriteWholeFile(Path(), content);
    }
    // The names in the settings folder: a failed save leaves no temporary file behind.
    std::vector<std::string> FolderNames() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(Folder())) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }
    int IgnoredLines() const { return log.CountStartingWith("[INFO][SettingsFile::LoadEntries]"); }

    TempDir home;
    ScopedEnv homeEnv{"HOME", home.path()};
    ScopedEnv configEnv{"XDG_CONFIG_HOME", home.File("config")};
    LogCapture log;
    SettingsFile settings;
};

TEST_F(SettingsFileTest, LivesUnderTheConfigHomeOnlyWhenThatIsAbsolute) {
    EXPECT_EQ(settings.path(), Path());
    for (const std::string value : {"", "relative/config"}) {
        ScopedEnv config("XDG_CONFIG_HOME", value);
        EXPECT_EQ(SettingsFile().path(), home.path() + "/.config/Harnlow/launcher.conf") << value;
    }
}

TEST_F(SettingsFileTest, OddNamesAndValuesRoundTrip) {
    const SettingEntries entries = {
        {kFolderKey, "/mnt/게임 디스크/Ambrel Launcher "},
        {"a=b", "c=d=e"},
        {"100%", "%41 stays %41%"},
        {"line\nfeed", "carriage\rreturn\r\n"},
        {std::string("nul\0key", 7), std::string("\0\t\x7f\xff", 4)},
        {"empty", ""},
    };
    for (const auto& [key, value] : entries) {
        ASSERT_TRUE(settings.SetValue(key, value)) << key;
    }
    EXPECT_EQ(SettingsFile(Path()).LoadEntries(), entries);
    EXPECT_EQ(settings.GetValue("line\nfeed"), "carriage\rreturn\r\n");
    EXPECT_EQ(settings.GetValue("missing"), std::nullopt);
    EXPECT_EQ(IgnoredLines(), 0);

    // One plain line per entry; the bytes that would break a line or its '=' are escaped.
    const std::string text = ReadWholeFile(Path());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), static_cast<long>(entries.size()));
    EXPECT_NE(text.find("AmbrelLauncher.DownloadFolder=/mnt/게임 디스크/Ambrel Launcher \n"), std::string::npos);
    EXPECT_NE(text.find("line%0Afeed=carriage%0Dreturn%0D%0A\n"), std::string::npos);
    EXPECT_NE(text.find("a%3Db=c%3Dd%3De\n"), std::string::npos);
}

TEST_F(SettingsFileTest, ConfigurationsSideBySideKeepTheirOwnValues) {
    const std::string otherFolderKey = SettingKey("OtherGame", "DownloadFolder");
    const std::string speedKey = SettingKey("AmbrelLauncher", "SpeedLimit");
    ASSERT_TRUE(settings.SetValue(kFolderKey, "/games/ambrel"));
    ASSERT_TRUE(settings.SetValue(otherFolderKey, "/games/other"));
    ASSERT_TRUE(settings.SetValue(speedKey, "2097152"));

    // Another program object changes one key; what the first one wrote stays.
    ASSERT_TRUE(SettingsFile(Path()).SetValue(kFolderKey, "/second disk/ambrel"));
    EXPECT_EQ(
        settings.LoadEntries(),
        (SettingEntries{{kFolderKey, "/second disk/ambrel"}, {otherFolderKey, "/games/other"}, {speedKey, "2097152"}}));

    ASSERT_TRUE(settings.RemoveValue(kFolderKey));
    EXPECT_EQ(settings.LoadEntries(), (SettingEntries{{otherFolderKey, "/games/other"}, {speedKey, "2097152"}}));
}

TEST_F(SettingsFileTest, ChangesFromManyThreadsAreAllKept) {
    constexpr int kThreads = 6;
    constexpr int kKeys = 5;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t] {
            for (int k = 0; k < kKeys; ++k) {
                EXPECT_TRUE(settings.SetValue(SettingKey("Game" + std::to_string(t), std::to_string(k)), "v"));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(settings.LoadEntries().size(), static_cast<std::size_t>(kThreads * kKeys));
}

TEST_F(SettingsFileTest, AnAbsentFileIsEmptyAndSilent) {
    EXPECT_TRUE(settings.LoadEntries().empty());
    EXPECT_EQ(settings.GetValue(kFolderKey), std::nullopt);
    EXPECT_TRUE(log.Messages().empty());
}

TEST_F(SettingsFileTest, DamagedOrUnreadableFilesAreIgnoredWithOneLogLine) {
    const std::string goodLine = kFolderKey + "=/games/ambrel\n";
    std::string tooLarge;
    while (tooLarge.size() <= 64 * 1024) {
        tooLarge += "Filler" + std::to_string(tooLarge.size()) + "=x\n";
    }
    struct Case {
        const char* name;
        std::function<void()> make;
    };
    const Case cases[] = {
        {"a line without '='", [&] { WriteFile(goodLine + "just text\n"); }},
        {"an empty line", [&] { WriteFile(goodLine + "\n" + goodLine); }},
        {"an escape with one digit", [&] { WriteFile(goodLine + "a=%4\n"); }},
        {"an escape of no hex digits", [&] { WriteFile(goodLine + "a%zz=1\n"); }},
        {"an escape with a sign", [&] { WriteFile(goodLine + "a=%-1\n"); }},
        {"a '%' at the end", [&] { WriteFile(goodLine + "a=1%"); }},
        {"a NUL byte", [&] { WriteFile(goodLine + std::string("a=\0\n", 4)); }},
        {"more than 64 KiB", [&] { WriteFile(goodLine + tooLarge); }},
        {"a folder in its place", [&] { std::filesystem::create_directories(Path()); }},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(Folder());
        c.make();
        const int before = IgnoredLines();
        EXPECT_TRUE(settings.LoadEntries().empty()) << c.name;
        EXPECT_EQ(IgnoredLines(), before + 1) << c.name;
    }

    // The limit is not off by one, and a last line may lack its line feed.
    std::filesystem::remove_all(Folder());
    std::string largest = goodLine;
    largest += "Filler=" + std::string(64 * 1024 - largest.size() - 7, 'x');
    WriteFile(largest);
    const int before = IgnoredLines();
    EXPECT_EQ(settings.LoadEntries().size(), 2u);
    EXPECT_EQ(IgnoredLines(), before);

    // A damaged file does not stand in the way of the next choice.
    WriteFile(goodLine + "just text\n");
    ASSERT_TRUE(settings.SetValue(kFolderKey, "/chosen"));
    EXPECT_EQ(ReadWholeFile(Path()), kFolderKey + "=/chosen\n");
}

TEST_F(SettingsFileTest, ABadFileIsKeptAsideWhenTheNextChoiceIsSaved) {
    const std::string goodLine = kFolderKey + "=/games/ambrel\n";
    const std::string otherLine = SettingKey("OtherGame", "DownloadFolder") + "=/games/other\n";
    const std::string tooLarge = goodLine + otherLine + std::string(64 * 1024, 'x') + "=x\n";
    struct Case {
        const char* name;
        std::function<void()> make;
        std::string kept; // what launcher.conf.bad holds after the save; empty: a folder
    };
    const Case cases[] = {
        {"a damaged line", [&] { WriteFile(goodLine + "just text\n" + otherLine); },
         goodLine + "just text\n" + otherLine},
        {"more than 64 KiB", [&] { WriteFile(tooLarge); }, tooLarge},
        {"a folder in its place", [&] { std::filesystem::create_directories(Path() + "/inside"); }, ""},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(Folder());
        c.make();
        WriteWholeFile(Path() + ".bad", "an older bad file\n");
        const int before = log.CountStartingWith("[WARNING][SettingsFile::Save]");
        ASSERT_TRUE(settings.SetValue(kFolderKey, "/chosen")) << c.name;
        EXPECT_EQ(ReadWholeFile(Path()), kFolderKey + "=/chosen\n") << c.name;
        if (c.kept.empty()) {
            EXPECT_TRUE(std::filesystem::is_directory(Path() + ".bad/inside")) << c.name;
        } else {
            EXPECT_TRUE(ReadWholeFile(Path() + ".bad") == c.kept) << c.name;
        }
        EXPECT_EQ(log.CountStartingWith("[WARNING][SettingsFile::Save]"), before + 1) << c.name;
        EXPECT_NE(log.Messages().back().find(Path() + ".bad"), std::string::npos) << log.Messages().back();
    }

    // A good file is no bad one: its other entries stay, nothing is set aside.
    std::filesystem::remove_all(Folder());
    WriteFile(goodLine + otherLine);
    ASSERT_TRUE(settings.RemoveValue(kFolderKey));
    EXPECT_EQ(ReadWholeFile(Path()), otherLine);
    EXPECT_EQ(FolderNames(), std::vector<std::string>{"launcher.conf"});
}

TEST_F(SettingsFileTest, LinesMayEndInCarriageReturnAndLineFeed) {
    const std::string otherKey = SettingKey("OtherGame", "SpeedLimit");
    for (const std::string& text : {kFolderKey + "=/games/ambrel\r\n" + otherKey + "=2097152\r\n",
                                    kFolderKey + "=/games/ambrel\r\n" + otherKey + "=2097152\r"}) {
        WriteFile(text);
        EXPECT_EQ(settings.LoadEntries(), (SettingEntries{{kFolderKey, "/games/ambrel"}, {otherKey, "2097152"}}));
    }
    EXPECT_EQ(IgnoredLines(), 0);
    // A carriage return of a value is written escaped, so it is never taken for a line end.
    ASSERT_TRUE(settings.SetValue(otherKey, "ends in\r"));
    EXPECT_EQ(settings.GetValue(otherKey), "ends in\r");
    EXPECT_EQ(settings.GetValue(kFolderKey), "/games/ambrel");
}

TEST_F(SettingsFileTest, SavedPrivatelyIntoAFolderMadeWhenMissing) {
    ASSERT_TRUE(settings.SetValue(kFolderKey, "/games/ambrel"));
    struct stat info {};
    ASSERT_EQ(::stat(Path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);

    // A file that others could read before is private after the next save, whatever the umask.
    ::chmod(Path().c_str(), 0644);
    const mode_t oldMask = ::umask(0);
    EXPECT_TRUE(settings.SetValue(kFolderKey, "/games/other"));
    ::umask(oldMask);
    ASSERT_EQ(::stat(Path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(FolderNames(), std::vector<std::string>{"launcher.conf"});
}

// File access checks of an ordinary user for one scope (only the calling thread), so that a test run by
// root meets folder permissions too.
class OrdinaryUserAccess {
public:
    OrdinaryUserAccess() : wasRoot_(::geteuid() == 0) {
        if (wasRoot_) {
            ::setfsuid(65534);
        }
    }
    ~OrdinaryUserAccess() {
        if (wasRoot_) {
            ::setfsuid(0);
        }
    }
    OrdinaryUserAccess(const OrdinaryUserAccess&) = delete;
    OrdinaryUserAccess& operator=(const OrdinaryUserAccess&) = delete;

private:
    bool wasRoot_;
};

// A file-size limit for one scope: writes past it fail with EFBIG instead of ending the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, old_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};

TEST_F(SettingsFileTest, AFailedSaveLeavesTheOldFileWhole) {
    const std::string old = kFolderKey + "=/games/ambrel\n" + SettingKey("OtherGame", "DownloadFolder") + "=/o\n";
    const std::string longValue(4096, 'v');

    // The folder cannot take a new file. The file itself is writable: writing it in place would succeed.
    WriteFile(old);
    ::chmod(Path().c_str(), 0666);
    ::chmod(home.path().c_str(), 0755);
    ::chmod(home.File("config").c_str(), 0755);
    ::chmod(Folder().c_str(), 0555);
    {
        const OrdinaryUserAccess access;
        EXPECT_FALSE(settings.SetValue(kFolderKey, longValue));
        EXPECT_FALSE(settings.RemoveValue(kFolderKey));
    }
    ::chmod(Folder().c_str(), 0755);
    EXPECT_EQ(ReadWholeFile(Path()), old);
    EXPECT_EQ(FolderNames(), std::vector<std::string>{"launcher.conf"});

    // The new file is cut short while it is written (as on a full disk): the rename never happens.
    {
        const FileSizeLimit limit(1024);
        EXPECT_FALSE(settings.SetValue(kFolderKey, longValue));
    }
    EXPECT_EQ(ReadWholeFile(Path()), old);
    EXPECT_EQ(FolderNames(), std::vector<std::string>{"launcher.conf"});

    // A file where the folder should be: nothing can be made, and the log says why.
    std::filesystem::remove_all(Folder());
    WriteWholeFile(Folder(), "not a folder");
    const int before = log.CountStartingWith("[ERROR][SettingsFile::Save]");
    EXPECT_FALSE(settings.SetValue(kFolderKey, "/games/ambrel"));
    EXPECT_EQ(ReadWholeFile(Folder()), "not a folder");
    EXPECT_EQ(log.CountStartingWith("[ERROR][SettingsFile::Save]"), before + 1);
}

} // namespace
