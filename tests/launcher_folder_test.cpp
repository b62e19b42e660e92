#include "launcher/disk_space.h"
#include "launcher/format_text.h"
#include "launcher_fixture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

class LauncherFolderTest : public LauncherTest {};

TEST_F(LauncherFolderTest, DefaultFolderIsMadeBelowTheDocumentsFolder) {
    ::mkdir(home.File("config").c_str(), 0755);
    home.Write("config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/문서/게임\"\n");
    CLauncher& l = Open(Configuration(""));
    const std::string expected = home.path() + "/문서/게임/AmbrelLauncher";
    EXPECT_EQ(l.downloadFolder, expected);
    EXPECT_EQ(appDownloadPath, expected);
    struct stat st {};
    EXPECT_EQ(::stat(expected.c_str(), &st), 0); // every missing level is made
    EXPECT_EQ(Label(ST_DOWNLOAD_PATH), expected);
    EXPECT_EQ(Label(ST_DISK_FREE_SPACE), FormatSize(GetFreeDiskBytes(expected)));
    EXPECT_TRUE(log.Contains("[INFO][COstrelDlg::SetDownloadPath][43] Failed to load saved download path."));
    EXPECT_TRUE(log.Contains("[COstrelDlg::SetDownloadPath][57] Default download path: [" + expected + "]"));
}

TEST_F(LauncherFolderTest, ChooserRefusesAFolderWithoutMoreRoomThanNeededAndAsksAgain) {
    served.Write("a.pak", PatternBytes(5000));
    CLauncher& l = Open(Configuration(File("a.pak")));
    const std::string chosen = home.path();
    std::uint64_t free = 5000; // exactly what a.pak needs is not enough here
    l.freeDiskBytes = [&](const std::string&) { return free; };
    view.folderAnswers = {chosen, chosen, std::nullopt};
    bool taken = true;
    view.OnViewThread([&] { taken = l.OnBnClickedBtnFolder(); }); // refused twice, then cancelled
    EXPECT_FALSE(taken);
    ASSERT_EQ(view.messages.size(), 2u);
    EXPECT_EQ(view.messages[0].title, "용량 확인");
    EXPECT_EQ(view.messages[0].text, "선택한 드라이브에 충분한 용량이 없습니다.\n다른 드라이브를 선택해 주십시오.");
    EXPECT_EQ(view.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(l.downloadFolder, DownloadFolder());
    const std::pair<std::string, std::uint64_t> asked{DownloadFolder(), 5000};
    EXPECT_EQ(view.foldersAsked, (std::vector<std::pair<std::string, std::uint64_t>>(3, asked)));

    free = 5001;
    view.folderAnswers = {chosen};
    view.OnViewThread([&] { taken = l.OnBnClickedBtnFolder(); });
    EXPECT_TRUE(taken);
    EXPECT_EQ(l.downloadFolder, chosen);
    EXPECT_EQ(appDownloadPath, chosen);
    EXPECT_EQ(Label(ST_DOWNLOAD_PATH), chosen);
    EXPECT_EQ(Label(ST_DISK_FREE_SPACE), "4.9 KB");
}

} // namespace
