#include "app/log.h"
#include "app/message_box.h"
#include "app/user_folders.h"
#include "res/string_table.h"
#include "ui/folder_chooser.h"
#include "ui/ostrel_dlg.h"
#include "workflow/format_text.h"
#include "workflow/url_names.h"

#include <sys/stat.h>

namespace {

constexpr int IDS_NOT_ENOUGH_SPACE = 140;

} // namespace

void COstrelDlg::SetDownloadPath() {
    const char* const origin = "COstrelDlg::SetDownloadPath";
    WriteLog("[INFO][%s][%d] Failed to load saved download path.", origin, 43);
    std::string path = DocumentsFolder();
    if (const std::string name = SafeFolderName(config_.name); !name.empty()) {
        path += "/" + name;
    }
    WriteLog("[%s][%d] Default download path: [%s]", origin, 57, path.c_str());
    downloadFolder = path;
    appDownloadPath_ = path;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        // All levels: a fresh account may have no documents folder yet.
        MakeFolderPath(path);
    }
    UpdateDownloadPathInfo();
}

void COstrelDlg::UpdateDownloadPathInfo() {
    SetLabel(ST_DOWNLOAD_PATH, downloadFolder);
    SetLabel(ST_DISK_FREE_SPACE, FormatSize(freeDiskBytes(downloadFolder)));
}

bool COstrelDlg::OnBnClickedBtnFolder() {
    for (;;) {
        const std::uint64_t needed = stats.totalSize.load();
        const std::optional<std::string> chosen =
            chooseFolder ? chooseFolder(appDownloadPath_) : ChooseDownloadFolder(this, appDownloadPath_, needed);
        if (!chosen) {
            return false;
        }
        if (needed < freeDiskBytes(*chosen)) {
            downloadFolder = *chosen;
            appDownloadPath_ = *chosen;
            UpdateDownloadPathInfo();
            return true;
        }
        ShowMessageBox(LoadStringId(IDS_NOT_ENOUGH_SPACE), "용량 확인", MessageIcon::Warning, MessageButtons::Ok, this);
    }
}
