#include "zip/unzip_archive.h"

#include "app/log.h"
#include "zip/zip_archive.h"
#include "zip/zip_target.h"

namespace {

const char kOrigin[] = "COstrelDlg::UnzipFile";

} // namespace

bool UnzipArchiveIntoCurrentFolder(const std::string& archivePath) {
    if (archivePath.empty()) {
        WriteLog("[ERROR][%s][%d] Invalid archiving path.", kOrigin, 757);
        return false;
    }
    ZipHandle zip = OpenZipArchive(archivePath.c_str());
    if (zip == nullptr) {
        WriteLog("[ERROR][%s][%d] Failed to open archive file: [%s]", kOrigin, 765, archivePath.c_str());
        return false;
    }
    ZipItemInfo summary;
    GetZipItemInfo(zip, -1, &summary);
    std::string currentFolder;
    CurrentFolder(currentFolder);

    bool result = true;
    for (int index = 0; index < summary.index; ++index) {
        ZipItemInfo info;
        GetZipItemInfo(zip, index, &info);
        RemoveOldTarget(currentFolder, info.name);
        const ZIPCODE code = ExtractZipItem(zip, index, info.name);
        if (code != ZIPCODE_OK) {
            WriteLog("[ERROR][%s][%d] Failed to unzip file [%s]: ZIPCODE [0x%08x]", kOrigin, 787, info.name, code);
            result = false;
            break;
        }
    }
    CloseZipArchive(zip);
    return result;
}
