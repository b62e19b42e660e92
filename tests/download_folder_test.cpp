#include "ui/controls/color_static.h"
#include "ui/folder_chooser.h"
#include "window_fixture.h"
#include "launcher/disk_space.h"
#include "launcher/format_text.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

class DownloadFolderTest : public WindowTest {};

TEST_F(DownloadFolderTest, DefaultFolderIsMadeBelowTheDocumentsFolder) {
    ::mkdir(home.File("config").c_str(), 0755);
    home.Write("config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/문서/게임\"\n");
    COstrelDlg& dlg = OpenWindow(Configuration(""));
    const std::string expected = home.path() + "/문서/게임/AmbrelLauncher";
    EXPECT_EQ(dlg.downloadFolder, expected);
    EXPECT_EQ(appDownloadPath, expected);
    struct stat st {};
    EXPECT_EQ(::stat(expected.c_str(), &st), 0); // every missing level is made
    EXPECT_EQ(dlg.sectionLabels[ST_DOWNLOAD_PATH]->GetWindowText(), expected);
    EXPECT_EQ(dlg.sectionLabels[ST_DISK_FREE_SPACE]->GetWindowText(), FormatSize(GetFreeDiskBytes(expected)));
    EXPECT_TRUE(log.Contains("[INFO][COstrelDlg::SetDownloadPath][43] Failed to load saved download path."));
    EXPECT_TRUE(log.Contains("[COstrelDlg::SetDownloadPath][57] Default download path: [" + expected + "]"));
}

TEST_F(DownloadFolderTest, ChooserRefusesAFolderWithoutMoreRoomThanNeededAndAsksAgain) {
    COstrelDlg& dlg = OpenWindow(Configuration(""));
    const std::string chosen = home.path();
    std::vector<std::string> starts;
    int answers = 0;
    dlg.chooseFolder = [&](const std::string& start) -> std::optional<std::string> {
        starts.push_back(start);
        return ++answers < 3 ? std::optional<std::string>(chosen) : std::nullopt;
    };
    std::uint64_t free = 5000;
    dlg.freeDiskBytes = [&](const std::string&) { return free; };
    dlg.stats.totalSize = 5000;               // exactly the free space is not enough here
    EXPECT_FALSE(dlg.OnBnClickedBtnFolder()); // refused twice, then cancelled
    ASSERT_EQ(messages.Seen().size(), 2u);
    EXPECT_EQ(messages.Seen()[0].title, "용량 확인");
    EXPECT_EQ(messages.Seen()[0].text, "선택한 드라이브에 충분한 용량이 없습니다.\n다른 드라이브를 선택해 주십시오.");
    EXPECT_EQ(messages.Seen()[0].icon, MessageIcon::Warning);
    EXPECT_EQ(dlg.downloadFolder, DownloadFolder());
    EXPECT_EQ(starts, std::vector<std::string>(3, DownloadFolder()));

    free = 5001;
    answers = 0;
    EXPECT_TRUE(dlg.OnBnClickedBtnFolder());
    EXPECT_EQ(dlg.downloadFolder, chosen);
    EXPECT_EQ(appDownloadPath, chosen);
    EXPECT_EQ(dlg.sectionLabels[ST_DOWNLOAD_PATH]->GetWindowText(), chosen);
    EXPECT_EQ(dlg.sectionLabels[ST_DISK_FREE_SPACE]->GetWindowText(), "4.9 KB");
}

TEST_F(DownloadFolderTest, StatusTextNamesNeededAndFreeSpace) {
    EXPECT_EQ(FolderStatusText(1048576, home.path()),
              "최소 1.00 MB의 용량이 필요합니다.\n남은 용량: " + FormatSize(GetFreeDiskBytes(home.path())));
}

} // namespace
