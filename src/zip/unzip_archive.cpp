#include "zip/unzip_archive.h"

#include "base/log.h"
#include "zip/zip_archive.h"
#include "zip/zip_target.h"

namespace {

const char kOrigin[] = "COstrelDlg::UnzipFile";

// Why an entry was refused for the limits; nothing for other failures.
void LogLimitPassed(ZIPCODE code, const ZipLimits& limits, const char* name) {
    if (code == ZIPCODE_TOO_LARGE) {
        WriteLog("[ERROR][%s][%d] The archive unpacks to more than %llu bytes.", kOrigin, __LINE__,
                 static_cast<unsigned long long>(limits.totalBytes));
    } else if (code == ZIPCODE_TOO_DENSE) {
        WriteLog("[ERROR][%s][%d] Entry [%s] unpacks to more than %llu times its packed size.", kOrigin, __LINE__, name,
                 static_cast<unsigned long long>(limits.entryRatio));
    }
}

} // namespace

bool UnzipArchiveIntoCurrentFolder(const std::string& archivePath, const ZipLimits& limits) {
    if (archivePath.empty()) {
        WriteLog("[ERROR][%s][%d] Invalid archiving path.", kOrigin, 757);
        return false;
    }
    ZipHandle zip = OpenZipArchive(archivePath.c_str(), limits);
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
            LogLimitPassed(code, limits, info.name);
            result = false;
            break;
        }
    }
    CloseZipArchive(zip);
    return result;
}
