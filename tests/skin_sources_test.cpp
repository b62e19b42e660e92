#include "base/user_folders.h"
#include "net/sha256_digest.h"
#include "res/embedded.h"
#include "support/zip_builder.h"
#include "support/zip_fixture.h"
#include "ui/controls/progress_ex.h"
#include "ui/controls/zel_button.h"
#include "window_fixture.h"
#include "zip/unzip_archive.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <climits>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <regex>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The small window start-up shows while the skin is on its way; none when it is not shown.
QWidget* LoadingWindow() {
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        if (window->objectName() == QStringLiteral("skinLoading") && window->isVisible()) {
            return window;
        }
    }
    return nullptr;
}

// Looks for the loading window from inside start-up, whose wait goes on handling this thread's
// events, and acts on it once it shows.
class LoadingWindowWatch {
public:
    explicit LoadingWindowWatch(std::function<void(QWidget*)> act = nullptr) : act_(std::move(act)) { Look(); }

    std::optional<Clock::duration> shownAfter;

private:
    void Look() {
        QTimer::singleShot(10, &context_, [this] {
            if (QWidget* window = LoadingWindow()) {
                shownAfter = Clock::now() - start_;
                if (act_) {
                    act_(window);
                }
            } else if (Clock::now() - start_ < 5s) {
                Look();
            }
        });
    }

    QObject context_; // ends the looking with the watch
    Clock::time_point start_ = Clock::now();
    std::function<void(QWidget*)> act_;
};

// The skins a game service hands out: the archive at Base Url, images at URLs of their own, files in
// the folder the program starts from. Each test starts in an empty folder of its own.
class SkinSourcesTest : public WindowTest {
protected:
    SkinSourcesTest() { EXPECT_TRUE(PrivateTempFolder(tempFolder)); }

    static std::string SkinArchive() {
        const EmbeddedBytes skin = EmbeddedSkin();
        return std::string(reinterpret_cast<const char*>(skin.data), skin.size);
    }

    // The images of the default skin, extracted into `folder`; their names.
    static std::vector<std::string> ExtractSkinInto(const std::string& folder) {
        std::filesystem::create_directories(folder);
        WriteWholeFile(folder + "/skin.zip", SkinArchive());
        {
            ScopedCurrentFolder inside(folder);
            EXPECT_TRUE(UnzipArchiveIntoCurrentFolder(folder + "/skin.zip"));
        }
        std::filesystem::remove(folder + "/skin.zip");
        return ListTree(folder);
    }

    // The configuration with every image name ("x.jpg") replaced by `rename(name)`, and `edit` applied.
    std::string WithImageNames(const std::function<std::string(const std::string&)>& rename,
                               const std::function<void(std::string&)>& edit = nullptr) const {
        return Configuration("", [&](std::string& text) {
            static const std::regex imageName("\"([a-z_]+\\.jpg)\"");
            std::string renamed;
            auto last = text.cbegin();
            for (std::sregex_iterator it(text.cbegin(), text.cend(), imageName), end; it != end; ++it) {
                renamed.append(last, (*it)[0].first).append("\"" + rename((*it)[1].str()) + "\"");
                last = (*it)[0].second;
            }
            text = renamed.append(last, text.cend());
            if (edit) {
                edit(text);
            }
        });
    }

    static void SetArchiveUrl(std::string& text, const std::string& url) {
        text.replace(text.find("Url=\"\""), 6, "Url=\"" + url + "\"");
    }

    static std::string CurrentFolderPath() {
        char buffer[PATH_MAX];
        return ::getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
    }

    // The names directly in the private temporary folder.
    std::set<std::string> TempEntries() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(tempFolder)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

    static void ExpectSkinShown(const COstrelDlg& dlg) {
        EXPECT_EQ(dlg.size(), QSize(576, 520));
        for (const CZelButton* button : dlg.buttons) {
            for (const CZelBmp& image : button->images) {
                EXPECT_FALSE(image.IsEmpty()) << button->objectName().toStdString();
            }
        }
        // A bar is placed only once its image has loaded.
        EXPECT_EQ(dlg.fileProgress->geometry(), QRect(30, 144, 516, 6));
        EXPECT_EQ(dlg.totalProgress->geometry(), QRect(30, 254, 516, 6));
    }

    std::vector<std::string> RequestTargets() const {
        std::vector<std::string> targets;
        for (const RecordedRequest& request : served.server().Requests()) {
            EXPECT_EQ(request.method, "GET") << request.target;
            targets.push_back(request.target);
        }
        std::sort(targets.begin(), targets.end());
        return targets;
    }

    TempDir start;
    ScopedCurrentFolder inStart{start.path()};
    std::string tempFolder;
};

TEST_F(SkinSourcesTest, ArchiveAtTheBaseUrlIsExtractedIntoANewFolderAndEveryImageOpensFromThere) {
    served.Write("ambrel.zip", SkinArchive());
    const std::string url = served.Url("/ambrel.zip");
    COstrelDlg& dlg = MakeWindow(Configuration("", [&](std::string& t) { SetArchiveUrl(t, url); }));
    dlg.embeddedSkin = {}; // the images can come from the served archive only
    ASSERT_TRUE(TempEntries().empty());

    ASSERT_TRUE(dlg.OnInitDialog());
    EXPECT_EQ(RequestTargets(), std::vector<std::string>{"/ambrel.zip"});
    // The archive was fetched into the temporary folder and extracted into one new folder beside it,
    // which is current now.
    const std::string skinFolder = CurrentFolderPath();
    const std::string skinName = std::filesystem::path(skinFolder).filename().string();
    EXPECT_EQ(skinFolder, tempFolder + skinName);
    EXPECT_EQ(skinName.rfind("AmbrelLauncher", 0), 0u) << skinName;
    EXPECT_EQ(TempEntries(), (std::set<std::string>{"ambrel.zip", skinName}));
    EXPECT_EQ(ListTree(skinFolder), ExtractSkinInto(home.File("expected")));
    EXPECT_TRUE(ListTree(start.path()).empty());
    ExpectSkinShown(dlg);
    EXPECT_TRUE(
        log.Contains("[INFO][COstrelDlg::OnInitDialog][188] Successfully download skin image archive [" + url + "]."));
    EXPECT_TRUE(log.Contains("[INFO][COstrelDlg::OnInitDialog][214] Successfully unzip skin image archive."));
    EXPECT_TRUE(messages.Seen().empty());
}

TEST_F(SkinSourcesTest, WithoutAnArchiveUrlEveryImageUrlIsFetchedOnItsOwn) {
    const std::vector<std::string> images = ExtractSkinInto(served.folder().File("img"));
    COstrelDlg& dlg = MakeWindow(WithImageNames([&](const std::string& name) { return served.Url("/img/" + name); }));
    dlg.embeddedSkin = {};

    ASSERT_TRUE(dlg.OnInitDialog());
    std::vector<std::string> expected;
    for (const std::string& image : images) {
        expected.push_back("/img/" + image);
    }
    EXPECT_EQ(RequestTargets(), expected); // each image once
    // Each opened from its copy in the temporary folder; no skin folder is made.
    EXPECT_EQ(TempEntries(), std::set<std::string>(images.begin(), images.end()));
    EXPECT_EQ(CurrentFolderPath(), start.path());
    EXPECT_TRUE(ListTree(start.path()).empty());
    ExpectSkinShown(dlg);
    EXPECT_TRUE(messages.Seen().empty());
}

// A skin that is slow to come: a window the player can close is up at once, and closing it ends the
// start there, with nothing fetched after and no message.
TEST_F(SkinSourcesTest, ASlowSkinShowsAWindowAtOnceWhoseClosingEndsTheStart) {
    served.Write("ambrel.zip", SkinArchive());
    ExtractSkinInto(served.folder().File("img"));
    const std::string slow = "?delay_ms=3000";
    struct Case {
        const char* what;
        bool archive;
        bool byItsButton; // else as the window manager closes it
        std::string fetched;
    } const cases[] = {
        {"a slow archive", true, false, "/ambrel.zip" + slow},
        {"slow image URLs", false, true, "/img/background.jpg" + slow},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture fresh;
        MessageRecorder recorder;
        served.server().ClearRequests();
        COstrelDlg& dlg =
            c.archive ? MakeWindow(Configuration("", [&](std::string& t) { SetArchiveUrl(t, served.Url(c.fetched)); }))
                      : MakeWindow(
                            WithImageNames([&](const std::string& name) { return served.Url("/img/" + name + slow); }));
        dlg.embeddedSkin = {};
        const auto begun = Clock::now();
        LoadingWindowWatch watch([&](QWidget* loading) {
            EXPECT_FALSE(loading->windowTitle().isEmpty());
            if (c.byItsButton) {
                ASSERT_NE(loading->findChild<QPushButton*>(), nullptr);
                loading->findChild<QPushButton*>()->click();
            } else {
                loading->close();
            }
        });
        EXPECT_FALSE(dlg.OnInitDialog());
        ASSERT_TRUE(watch.shownAfter);
        EXPECT_LT(*watch.shownAfter, 500ms);
        EXPECT_LT(Clock::now() - begun, 1500ms); // the fetch under way was broken off
        EXPECT_TRUE(dlg.IsEnded());
        EXPECT_EQ(dlg.EndResult(), 2);
        EXPECT_EQ(RequestTargets(), std::vector<std::string>{c.fetched});
        EXPECT_TRUE(recorder.Seen().empty());
        EXPECT_EQ(LoadingWindow(), nullptr);
        EXPECT_NE(fresh.Text().find("closed while the skin was being downloaded"), std::string::npos);
    }
}

// An archive at the Base Url with a SkinSha256 is opened only when its bytes match; one that does not is a
// skin that could not be fetched.
TEST_F(SkinSourcesTest, AnArchiveIsOpenedOnlyWhenItMatchesItsSkinSha256) {
    served.Write("ambrel.zip", SkinArchive());
    const std::string url = served.Url("/ambrel.zip");
    Sha256Digest digest;
    digest.Update(SkinArchive().data(), SkinArchive().size());
    const std::string good = Sha256Hex(digest.Final());
    const std::string other(64, '0');
    for (const std::string& expected : {good, other}) {
        SCOPED_TRACE(expected);
        const bool matches = expected == good;
        COstrelDlg& dlg = MakeWindow(Configuration("", [&](std::string& t) {
            SetArchiveUrl(t, url);
            t.replace(t.find("<Base ") + 6, 0, "SkinSha256=\"" + expected + "\" ");
        }));
        dlg.embeddedSkin = {};
        const std::size_t shown = messages.Seen().size();
        EXPECT_EQ(dlg.OnInitDialog(), matches);
        if (matches) {
            ExpectSkinShown(dlg);
            EXPECT_EQ(messages.Seen().size(), shown);
            continue;
        }
        EXPECT_EQ(dlg.EndResult(), 2);
        ASSERT_EQ(messages.Seen().size(), shown + 1);
        EXPECT_EQ(messages.Seen().back().text, "스킨 파일을 다운로드하지 못했습니다.");
        EXPECT_NE(log.Text().find("Skin image archive [" + url + "] does not match SkinSha256: Expected [" + other +
                                  "] vs Local [" + good + "]."),
                  std::string::npos);
        EXPECT_EQ(log.Text().find("Successfully unzip skin image archive.", log.Text().rfind(other)),
                  std::string::npos);
    }
}

TEST_F(SkinSourcesTest, ASlowArchiveThatFailsStillEndsWithTheSkinMessage) {
    const std::string url = served.Url("/missing.zip?delay_ms=800"); // not served: 404
    COstrelDlg& dlg = MakeWindow(Configuration("", [&](std::string& t) { SetArchiveUrl(t, url); }));
    dlg.embeddedSkin = {};
    LoadingWindowWatch watch;
    std::vector<MessageBoxRequest> seen;
    bool loadingWithTheMessage = true;
    SetMessageBoxHandler([&](const MessageBoxRequest& message) {
        seen.push_back(message);
        loadingWithTheMessage = LoadingWindow() != nullptr;
        return IDOK;
    });
    EXPECT_FALSE(dlg.OnInitDialog());
    EXPECT_TRUE(watch.shownAfter); // it was up while the server took its time
    EXPECT_EQ(dlg.EndResult(), 2);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "스킨 파일을 다운로드하지 못했습니다.");
    EXPECT_EQ(seen[0].title, "오류");
    EXPECT_EQ(seen[0].icon, MessageIcon::Error);
    EXPECT_FALSE(loadingWithTheMessage); // gone once the download failed
    EXPECT_EQ(LoadingWindow(), nullptr);
    EXPECT_TRUE(
        log.Contains("[ERROR][COstrelDlg::OnInitDialog][180] Failed to download skin image archive [" + url + "]."));
}

TEST_F(SkinSourcesTest, ImageUrlsBesideAnArchiveUrlAreOpenedAsFileNamesAndFail) {
    served.Write("ambrel.zip", SkinArchive());
    ExtractSkinInto(served.folder().File("img"));
    const std::string url = served.Url("/ambrel.zip");
    COstrelDlg& dlg = MakeWindow(WithImageNames([&](const std::string& name) { return served.Url("/img/" + name); },
                                                [&](std::string& t) { SetArchiveUrl(t, url); }));
    dlg.embeddedSkin = {};

    EXPECT_FALSE(dlg.OnInitDialog());
    EXPECT_TRUE(dlg.IsEnded());
    EXPECT_EQ(dlg.EndResult(), 2);
    EXPECT_EQ(RequestTargets(), std::vector<std::string>{"/ambrel.zip"}); // no image is fetched
    ASSERT_EQ(messages.Seen().size(), 1u);
    EXPECT_EQ(messages.Seen()[0].title, "CPicture Error");
    EXPECT_EQ(messages.Seen()[0].text, served.Url("/img/background.jpg") + " was not found.");
    EXPECT_TRUE(log.Contains("[ERROR][COstrelDlg::OnInitDialog][277] Failed to load background image file."));
}

TEST_F(SkinSourcesTest, WithoutAnyArchiveImageNamesOpenFromTheStartFolder) {
    ExtractSkinInto(start.path());
    COstrelDlg& dlg = MakeWindow(Configuration(""));
    dlg.embeddedSkin = {};

    ASSERT_TRUE(dlg.OnInitDialog());
    EXPECT_EQ(CurrentFolderPath(), start.path());
    EXPECT_TRUE(TempEntries().empty()); // no skin folder
    ExpectSkinShown(dlg);
    EXPECT_TRUE(served.server().Requests().empty());
    EXPECT_TRUE(messages.Seen().empty());
}

TEST_F(SkinSourcesTest, ASkinMadeOnWindowsLoads) {
    // Image names with Windows separators, in an archive whose folder entry is marked only by the
    // separator ending its name, as Java's zip tools write it.
    const std::vector<std::string> images = ExtractSkinInto(home.File("images"));
    std::vector<ZipEntry> entries{{.name = "skin/", .externalAttributes = 0}};
    for (const std::string& image : images) {
        entries.push_back({.name = "skin\\" + image, .data = ReadWholeFile(home.File("images/" + image))});
    }
    const std::string archive = BuildZip(entries);
    COstrelDlg& dlg = MakeWindow(WithImageNames([](const std::string& name) { return "skin\\" + name; }));
    dlg.embeddedSkin = {reinterpret_cast<const unsigned char*>(archive.data()), archive.size()};

    ASSERT_TRUE(dlg.OnInitDialog());
    EXPECT_TRUE(std::filesystem::is_regular_file("skin/background.jpg"));
    ExpectSkinShown(dlg);
    EXPECT_TRUE(messages.Seen().empty());
}

TEST_F(SkinSourcesTest, ASkinFolderThatCannotBeMadeEndsAsAFailedExtractionWritingNothingElsewhere) {
    served.Write("ambrel.zip", SkinArchive());
    home.Write("not-a-folder", "");
    const std::string tooLong(300, 'n'); // no folder name may be that long
    struct Case {
        const char* what;
        std::string name;
        std::string archiveUrl;
        std::string tmpdir;
        std::string logLine;
    } const cases[] = {
        {"embedded archive, name too long", tooLong, "", home.path(),
         "[ERROR][COstrelDlg::OnInitDialog][257] Failed to unzip skin image archive."},
        {"embedded archive, no temporary folder", "AmbrelLauncher", "", home.File("not-a-folder"),
         "[ERROR][COstrelDlg::OnInitDialog][257] Failed to unzip skin image archive."},
        {"downloaded archive, name too long", tooLong, served.Url("/ambrel.zip"), home.path(),
         "[ERROR][COstrelDlg::OnInitDialog][207] Failed to unzip skin image archive."},
    };
    for (const Case& c : cases) {
        LogCapture fresh;
        MessageRecorder recorder;
        ScopedEnv tmpdir("TMPDIR", c.tmpdir);
        COstrelDlg& dlg = MakeWindow(Configuration("", [&](std::string& t) {
            t.replace(t.find("Name=\"AmbrelLauncher\""), 21, "Name=\"" + c.name + "\"");
            if (!c.archiveUrl.empty()) {
                SetArchiveUrl(t, c.archiveUrl);
            }
        }));
        EXPECT_FALSE(dlg.OnInitDialog()) << c.what;
        EXPECT_EQ(dlg.EndResult(), 2) << c.what;
        EXPECT_TRUE(fresh.Contains(c.logLine)) << c.what;
        EXPECT_NE(fresh.Text().find("] Failed to make skin folder ["), std::string::npos) << c.what;
        EXPECT_TRUE(recorder.Seen().empty()) << c.what;
        EXPECT_EQ(CurrentFolderPath(), start.path()) << c.what;
        EXPECT_TRUE(ListTree(start.path()).empty()) << c.what;
    }
}

// The skin folder lasts as long as the window, which is the program's run; folders that crashed runs
// left go at the next start, those of runs still going stay.
TEST_F(SkinSourcesTest, TheSkinFolderGoesWithTheWindowAndThoseOfCrashedRunsAtTheNextStart) {
    const std::string left = tempFolder + "AmbrelLauncher1000";
    const std::string running = tempFolder + "AmbrelLauncher2000";
    for (const std::string& folder : {left, running}) {
        std::filesystem::create_directories(folder + "/sub");
        WriteWholeFile(folder + "/sub/background.jpg", "image");
        const timespec twoMinutesAgo[2] = {{::time(nullptr) - 120, 0}, {::time(nullptr) - 120, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, folder.c_str(), twoMinutesAgo, 0), 0);
    }
    const int runningLock = ::open(running.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(runningLock, LOCK_EX | LOCK_NB), 0);

    ASSERT_TRUE(MakeWindow(Configuration("")).OnInitDialog()); // the embedded skin
    const std::string skinName = std::filesystem::path(CurrentFolderPath()).filename().string();
    EXPECT_EQ(TempEntries(), (std::set<std::string>{"AmbrelLauncher2000", skinName}));
    const int skinLock = ::open(CurrentFolderPath().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    EXPECT_NE(::flock(skinLock, LOCK_EX | LOCK_NB), 0) << "held while the window lives";
    ::close(skinLock);

    window.reset();
    EXPECT_EQ(TempEntries(), std::set<std::string>{"AmbrelLauncher2000"});
    ::close(runningLock);
}

} // namespace
