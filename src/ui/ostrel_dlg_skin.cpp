#include "base/fd_io.h"
#include "base/log.h"
#include "base/message_box.h"
#include "base/tick_count.h"
#include "base/user_folders.h"
#include "launcher/local_files.h"
#include "launcher/skin_folder.h"
#include "launcher/url_names.h"
#include "net/sha256_digest.h"
#include "res/string_table.h"
#include "ui/controls/progress_ex.h"
#include "ui/controls/zel_button.h"
#include "ui/ostrel_dlg.h"
#include "ui/skin_fetch.h"
#include "zip/unzip_archive.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace {

constexpr int IDS_SKIN_DOWNLOAD_FAILED = 149;

// Makes the skin folder `path` (an existing one that no running program holds will do) and enters it,
// so that relative image names open from it; first the folders that crashed runs left beside it go.
// nullptr, logged, when it can be neither made nor entered: the skin is then written nowhere rather
// than into the folder the program was started from.
std::unique_ptr<SkinFolder> EnterSkinFolder(const std::string& path, const std::string& name) {
    if (std::string temp; PrivateTempFolder(temp)) {
        RemoveLeftSkinFolders(temp, SafeFolderName(name));
    }
    std::unique_ptr<SkinFolder> folder = SkinFolder::Make(path);
    if (folder != nullptr && ::chdir(path.c_str()) == 0) {
        return folder;
    }
    const int error = errno;
    WriteLog("[ERROR][%s][%d] Failed to %s skin folder [%s]: %s", "COstrelDlg::OnInitDialog", __LINE__,
             folder != nullptr ? "enter" : "make", path.c_str(), std::strerror(error));
    return nullptr;
}

// Whether the skin archive fetched from `url` into `path` has the configured digest; any has, when none
// is configured.
bool MatchesSkinDigest(const std::string& path, const std::string& expected, const std::string& url) {
    if (expected.empty()) {
        return true;
    }
    Sha256Digest digest;
    const std::string local =
        HashFilePrefix(path, GetLocalFileSize(path), digest) ? Sha256Hex(digest.Final()) : "unreadable";
    if (local == expected) {
        return true;
    }
    WriteLog("[ERROR][%s][%d] Skin image archive [%s] does not match SkinSha256: Expected [%s] vs Local [%s].",
             "COstrelDlg::OnInitDialog", __LINE__, url.c_str(), expected.c_str(), local.c_str());
    return false;
}

bool WriteWholeFile(const std::string& path, const unsigned char* data, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    const bool written = WriteAll(fd, data, size) == 0;
    return ::close(fd) == 0 && written;
}

} // namespace

std::string COstrelDlg::SkinFolderPath() const {
    std::string temp;
    if (!PrivateTempFolder(temp)) {
        return {};
    }
    char tick[16];
    std::snprintf(tick, sizeof tick, "%d", static_cast<int>(TickCount()));
    return temp + SafeFolderName(config_.name) + tick;
}

bool COstrelDlg::UnzipFile(const std::string& archivePath) {
    return UnzipArchiveIntoCurrentFolder(archivePath);
}

bool COstrelDlg::AcquireSkin() {
    const char* const origin = "COstrelDlg::OnInitDialog";
    if (!config_.url.empty()) {
        // An archive other than the one configured is as good as none: it is not opened.
        if (!skinFetch_->Download(config_.url) ||
            !MatchesSkinDigest(TempPathForUrl(config_.url), config_.skinSha256, config_.url)) {
            WriteLog("[ERROR][%s][%d] Failed to download skin image archive [%s].", origin, 180, config_.url.c_str());
            if (!skinFetch_->GaveUp()) {
                ShowMessageBox(LoadStringId(IDS_SKIN_DOWNLOAD_FAILED), LoadStringId(IDS_TITLE_ERROR),
                               MessageIcon::Error, MessageButtons::Ok, this);
            }
            EndView(IDCANCEL);
            return false;
        }
        WriteLog("[INFO][%s][%d] Successfully download skin image archive [%s].", origin, 188, config_.url.c_str());
        const std::string archive = TempPathForUrl(config_.url);
        skinFolder_ = EnterSkinFolder(SkinFolderPath(), config_.name);
        if (skinFolder_ == nullptr || !UnzipFile(archive)) {
            WriteLog("[ERROR][%s][%d] Failed to unzip skin image archive.", origin, 207);
            EndView(IDCANCEL);
            return false;
        }
        WriteLog("[INFO][%s][%d] Successfully unzip skin image archive.", origin, 214);
        return true;
    }
    if (!embeddedSkin.present()) {
        return true;
    }
    const std::string folder = SkinFolderPath();
    skinFolder_ = EnterSkinFolder(folder, config_.name);
    if (skinFolder_ != nullptr) {
        WriteWholeFile("images.zip", embeddedSkin.data, embeddedSkin.size); // a failure shows in the extraction
    }
    if (skinFolder_ == nullptr || !UnzipFile(folder + "/images.zip")) {
        WriteLog("[ERROR][%s][%d] Failed to unzip skin image archive.", origin, 257);
        EndView(IDCANCEL);
        return false;
    }
    WriteLog("[MSG][%s][%d] Successfully unzip skin image archive.", origin, 264);
    return true;
}

bool COstrelDlg::SkinImagePath(const std::string& name, bool fetch, const char* origin, int logLine,
                               std::string& path) {
    if (!fetch) {
        // Skins are made on Windows: a name may use its separator.
        path = name;
        std::replace(path.begin(), path.end(), '\\', '/');
        return true;
    }
    if (!skinFetch_->Download(name)) {
        WriteLog("[ERROR][%s][%d] Failed to download skin image archive [%s].", origin, logLine, name.c_str());
        return false;
    }
    path = TempPathForUrl(name);
    return true;
}

void COstrelDlg::NoteMissingImage(const std::string& name, bool fetched, const char* origin, int logLine) {
    std::string source;
    if (fetched) {
        source = "its own URL";
    } else if (!config_.url.empty()) {
        source = "skin archive " + config_.url;
    } else if (embeddedSkin.present()) {
        source = "skin archive compiled into the program";
    } else {
        std::error_code error;
        source = "skin folder " + std::filesystem::current_path(error).string();
    }
    WriteLog("[ERROR][%s][%d] Skin image [%s] is missing from %s.", origin, logLine, name.c_str(), source.c_str());
    missingImage_ = name + " (" + source + ")";
}

bool COstrelDlg::LoadBackgroundImage() {
    std::string path;
    const bool fetch = config_.url.empty() && IsUrl(config_.background);
    if (!SkinImagePath(config_.background, fetch, "COstrelDlg::LoadBackgroundImage", 817, path) ||
        !backgroundPicture.LoadFile(path)) {
        NoteMissingImage(config_.background, fetch, "COstrelDlg::LoadBackgroundImage", 817);
        return false;
    }
    // The window has no frame: its client area is the picture, and its top-left corner stays.
    setFixedSize(backgroundPicture.width, backgroundPicture.height);
    return true;
}

bool COstrelDlg::LoadImageFile(int controlType) {
    CZelButton* button = buttons[static_cast<std::size_t>(controlType)];
    const ControlInfo* info = config_.Control(controlType);
    if (info == nullptr || info->visible == 0) {
        button->hide();
        return true;
    }
    struct Slot {
        int index;
        const std::string& name;
        int logLine;
    };
    const Slot images[] = {{CZelButton::kNormal, info->normalImage, 53},
                           {CZelButton::kOver, info->overImage, 66},
                           {CZelButton::kPress, info->pressImage, 79},
                           {CZelButton::kDisable, info->disableImage, 92}};
    // The normal image decides for all four whether they are fetched on their own.
    const bool fetch = config_.url.empty() && IsUrl(info->normalImage);
    for (const Slot& slot : images) {
        std::string path;
        if (!SkinImagePath(slot.name, fetch, "COstrelDlg::LoadImageFile", slot.logLine, path) ||
            !button->SetImageFile(slot.index, path)) {
            NoteMissingImage(slot.name, fetch, "COstrelDlg::LoadImageFile", slot.logLine);
            return false;
        }
    }
    button->move(info->x, info->y);
    button->show();
    return true;
}

bool COstrelDlg::InitProgressControls() {
    struct Bar {
        int type;
        CProgressEx* control;
        int logLine;
    };
    for (const Bar& bar :
         {Bar{CT_FILE_DOWNLOAD_RATE, fileProgress, 856}, Bar{CT_TOTAL_DOWNLOAD_RATE, totalProgress, 893}}) {
        const ControlInfo* info = config_.Control(bar.type);
        if (info == nullptr || info->visible == 0) {
            bar.control->hide();
            continue;
        }
        bar.control->drawMode = CProgressEx::kImageDrawing;
        std::string path;
        const bool fetch = config_.url.empty() && IsUrl(info->image);
        if (!SkinImagePath(info->image, fetch, "COstrelDlg::InitProgressControls", bar.logLine, path) ||
            !bar.control->SetImageFile(path)) {
            NoteMissingImage(info->image, fetch, "COstrelDlg::InitProgressControls", bar.logLine);
            return false;
        }
        bar.control->setGeometry(info->x, info->y, info->width, info->height);
        bar.control->show();
    }
    return true;
}
