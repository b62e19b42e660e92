#include "base/log.h"
#include "launcher/file_opener.h"
#include "launcher/launcher.h"
#include "launcher/local_files.h"
#include "launcher/row_states.h"
#include "net/end_report.h"
#include "res/string_table.h"

namespace {

constexpr int IDS_EXECUTE_FAILED = 152;
constexpr int IDS_NOT_VERIFIED = 161;
constexpr const char* kNotVerified = "it could not be verified (no Sha256 is configured for it, and it "
                                     "did not arrive whole over HTTPS from its own server in this run)";
constexpr const char* kNotMatching = "its bytes do not match its Sha256";

} // namespace

bool CLauncher::CheckDownloadedFiles() {
    for (std::size_t i = 0; i < config_.files.size(); ++i) {
        if (!selection.IsFileSelected(i)) {
            continue;
        }
        const FileInfo& entry = *config_.files[i];
        const std::uint64_t local = GetLocalFileSize(entry.localPath);
        const std::uint64_t size = entry.size.load();
        if (local != size) {
            WriteLog("[ERROR][%s][%d] Size differs: Server [%s][%I64u] vs Local [%s][%I64u].",
                     "COstrelDlg::CheckDownloadedFiles", 260, entry.url.c_str(), size, entry.localPath.c_str(), local);
            return false;
        }
        if (!VerifyOnDisk(i, "COstrelDlg::CheckDownloadedFiles")) {
            return false;
        }
    }
    return true;
}

bool CLauncher::ExecuteDownloadedFiles(bool automatic, bool* refusedStart) {
    const char* const origin = "COstrelDlg::ExecuteDownloadedFiles";
    bool result = false;
    for (std::size_t i = 0; i < config_.files.size(); ++i) {
        if (!selection.IsFileSelected(i)) {
            continue;
        }
        const FileInfo& entry = *config_.files[i];
        bool candidate = entry.executable;
        if (automatic) {
            result = entry.autoClose;
            candidate = entry.autoExecute;
        }
        if (!candidate) {
            continue;
        }
        const std::size_t slash = entry.localPath.rfind('/');
        const std::string folder = slash == std::string::npos ? std::string() : entry.localPath.substr(0, slash);
        const std::string name = slash == std::string::npos ? entry.localPath : entry.localPath.substr(slash + 1);
        const auto announce = [&] {
            WriteLog("[INFO][%s][%d] Successfully executed downloaded local file [%s].", origin, 345,
                     entry.localPath.c_str());
        };
        bool refused = false;
        const auto vouch = [&](int fd) {
            refused = !IsVouchedFor(i, fd);
            return !refused;
        };
        if (!OpenDownloadedFile(folder, name, entry.waitExecute, announce, &cancel_, vouch)) {
            if (cancel_.IsSet()) {
                WriteLog("[INFO][%s][%d] Not starting [%s]: the launcher was stopped.", origin, __LINE__,
                         entry.localPath.c_str());
                return false;
            }
            if (refused) {
                RefuseUnverified(i);
                if (refusedStart != nullptr) {
                    *refusedStart = !entry.sha256.empty();
                }
                return false;
            }
            WriteLog("[ERROR][%s][%d] Failed to execute file [%s].", origin, 358, entry.localPath.c_str());
            OnView([this] { ShowMessage(IDS_EXECUTE_FAILED, IDS_TITLE_ERROR, MessageIcon::Error); });
            return false;
        }
        if (entry.waitExecute && !cancel_.IsSet()) {
            WriteLog("[INFO][%s][%d] Process [%s] terminated.", origin, 352, entry.localPath.c_str());
        }
        return result;
    }
    return result;
}

void CLauncher::RefuseUnverified(std::size_t fileIndex) {
    const FileInfo& entry = *config_.files[fileIndex];
    const char* const origin = "COstrelDlg::ExecuteDownloadedFiles";
    const bool digest = !entry.sha256.empty();
    std::string why = kNotMatching;
    if (digest) {
        // Checked whole before, so changed or unreadable since.
        WriteLog("[ERROR][%s][%d] Not starting [%s]: right before its start its bytes do not match SHA-256 [%s].",
                 origin, __LINE__, entry.localPath.c_str(), entry.sha256.c_str());
        std::string corrupt;
        const bool setAside = SetAsideAsCorrupt(entry.localPath, corrupt);
        WriteLog("[ERROR][%s][%d] %s [%s].", origin, __LINE__,
                 setAside ? "The file is kept as" : "The file could not be renamed to", corrupt.c_str());
        why += (setAside ? "; kept as " : "; it could not be renamed to ") + FileNameOfPath(corrupt);
    } else {
        WriteLog("[ERROR][%s][%d] Not starting [%s]: it could not be verified; the service must add Sha256=\"<its "
                 "SHA-256>\" to the File element of [%s], or serve it over HTTPS.",
                 origin, __LINE__, entry.localPath.c_str(), entry.url.c_str());
    }
    OnView([this, fileIndex, digest, &why] { view_.FileFailed(fileIndex, digest ? why : kNotVerified); });
    SetRowState(fileIndex, kStateUnverified);
    OnView([this] { ShowMessage(IDS_NOT_VERIFIED, IDS_TITLE_ERROR, MessageIcon::Error); });
}

void CLauncher::SendEndReport() {
    if (!options_.reportHost.empty()) {
        SendEndReportRequest(options_.reportHost, [this] { return cancel_.IsSet(); });
    }
}
