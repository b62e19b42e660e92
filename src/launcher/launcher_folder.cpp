#include "base/log.h"
#include "base/user_folders.h"
#include "launcher/format_text.h"
#include "launcher/launcher.h"
#include "launcher/url_names.h"
#include "res/string_table.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int IDS_NOT_ENOUGH_SPACE = 140;
// Our own: a chosen folder that takes no files.
constexpr const char* kFolderNotWritable = "선택한 폴더에 파일을 쓸 수 없습니다.\n다른 폴더를 선택해 주십시오.";

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Whether a file can be made in `folder`, found out by making one: permission bits do not tell for
// root, a read-only mount or access lists.
bool TakesFiles(const std::string& folder) {
    std::string probe = folder + "/.ostrel-write-test-XXXXXX";
    const int fd = ::mkstemp(probe.data());
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

} // namespace

void CLauncher::SetDownloadPath() {
    const char* const origin = "COstrelDlg::SetDownloadPath";
    // A folder kept from an earlier start counts while it is there and takes files.
    if (savedFolder_ && ::access(savedFolder_->c_str(), W_OK | X_OK) == 0 && IsFolder(*savedFolder_)) {
        WriteLog("[INFO][%s][%d] Loaded saved download path [%s].", origin, __LINE__, savedFolder_->c_str());
        downloadFolder = *savedFolder_;
        appDownloadPath_ = *savedFolder_;
        UpdateDownloadPathInfo();
        return;
    }
    WriteLog("[INFO][%s][%d] Failed to load saved download path.", origin, 43);
    std::string path = DocumentsFolder();
    if (const std::string name = SafeFolderName(config_.name); !name.empty()) {
        path += "/" + name;
    }
    WriteLog("[%s][%d] Default download path: [%s]", origin, 57, path.c_str());
    downloadFolder = path;
    appDownloadPath_ = path;
    if (!IsFolder(path)) {
        // All levels: a fresh account may have no documents folder yet.
        MakeFolderPath(path);
    }
    UpdateDownloadPathInfo();
}

void CLauncher::UseDownloadFolder(const std::string& folder) {
    downloadFolder = folder;
    appDownloadPath_ = folder;
    UpdateDownloadPathInfo();
}

void CLauncher::UpdateDownloadPathInfo() {
    SetLabel(ST_DOWNLOAD_PATH, downloadFolder);
    SetLabel(ST_DISK_FREE_SPACE, FormatSize(freeDiskBytes(downloadFolder)));
}

bool CLauncher::OnBnClickedBtnFolder() {
    for (;;) {
        // What the current folder still needs; a chosen folder is judged by what it would need.
        const std::optional<std::string> chosen = view_.ChooseFolder(appDownloadPath_, MissingBytes(downloadFolder));
        if (!chosen) {
            return false;
        }
        if (!TakesFiles(*chosen)) {
            WriteLog("[INFO][%s][%d] No file can be made in the chosen folder [%s].",
                     "COstrelDlg::OnBnClickedBtnFolder", __LINE__, chosen->c_str());
            view_.ShowMessage({nullptr, kFolderNotWritable, LoadStringId(IDS_TITLE_WARNING), MessageIcon::Warning,
                               MessageButtons::Ok});
            continue;
        }
        if (MissingBytes(*chosen) < freeDiskBytes(*chosen)) {
            UseDownloadFolder(*chosen);
            folderChosen_ = true;
            return true;
        }
        view_.ShowMessage(
            {nullptr, LoadStringId(IDS_NOT_ENOUGH_SPACE), "용량 확인", MessageIcon::Warning, MessageButtons::Ok});
    }
}
