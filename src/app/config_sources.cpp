#include "app/config_sources.h"

#include "app/config_signature.h"
#include "base/fd_io.h"
#include "base/log.h"
#include "base/message_box.h"
#include "base/user_folders.h"
#include "net/http_downloader.h"
#include "res/string_table.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum class FetchOutcome { NoFile, Unreadable, Read };

// A configuration is a few kilobytes: a larger answer is none, and is not read into memory.
constexpr std::uint64_t kMaxConfigurationBytes = 16 * 1024 * 1024;

// Reads the whole fetched copy, or a file beside the program: a regular file of configuration size.
FetchOutcome ReadFetchedFile(const std::string& path, std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return FetchOutcome::NoFile;
    }
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
              static_cast<std::uint64_t>(info.st_size) <= kMaxConfigurationBytes;
    if (ok) {
        text.assign(static_cast<std::size_t>(info.st_size), '\0');
        ok = ReadAll(fd, text.data(), text.size()).done == text.size();
    }
    ::close(fd);
    return ok ? FetchOutcome::Read : FetchOutcome::Unreadable;
}

// A new empty file of a name no other fetch uses, in the private temporary folder; false when none
// can be made.
bool MakeUniqueFetchFile(std::string& path) {
    std::string folder;
    if (!PrivateTempFolder(folder)) {
        WriteLog("[ERROR][%s][%d] No private temporary folder to fetch the configuration into.",
                 "COstrelApp::LoadConfiguration", __LINE__);
        return false;
    }
    std::string name = folder + LoadStringId(155) + "-XXXXXX.xml";
    const int fd = ::mkstemps(name.data(), 4);
    if (fd < 0) {
        WriteLog("[ERROR][%s][%d] Failed to make a file to fetch the configuration into [%s].",
                 "COstrelApp::LoadConfiguration", __LINE__, name.c_str());
        return false;
    }
    ::close(fd);
    path = name;
    return true;
}

// Fetches the configuration from `url` into a file of its own, reads and deletes the copy. Launchers
// started together each fetch into their own file.
FetchOutcome FetchConfiguration(const std::string& url, std::string& text) {
    CHttpDownloader2 downloader;
    downloader.url = url;
    downloader.expectedSize = kMaxConfigurationBytes;
    if (!MakeUniqueFetchFile(downloader.localFileName)) {
        return FetchOutcome::NoFile;
    }
    // What a failed transfer left behind may be an error page or a part of the document: never read.
    const bool fetched = downloader.Download();
    if (!fetched) {
        WriteLog("[ERROR][%s][%d] Failed to fetch the configuration from [%s].", "COstrelApp::LoadConfiguration",
                 __LINE__, downloader.url.c_str());
    }
    if (const AnswerFault fault = downloader.lastFailure().answerFault;
        fault == AnswerFault::LargerThanExpected || fault == AnswerFault::LongerThanAnnounced) {
        WriteLog("[ERROR][%s][%d] The configuration at [%s] is larger than [%I64u] bytes: not read.",
                 "COstrelApp::LoadConfiguration", __LINE__, downloader.url.c_str(), kMaxConfigurationBytes);
    }
    const FetchOutcome outcome = fetched ? ReadFetchedFile(downloader.localFileName, text) : FetchOutcome::NoFile;
    ::unlink(downloader.localFileName.c_str());
    if (outcome == FetchOutcome::Unreadable) {
        WriteLog("[ERROR][%s][%d] Failed to read the fetched configuration [%s].", "COstrelApp::LoadConfiguration",
                 __LINE__, downloader.localFileName.c_str());
    }
    return outcome;
}

// `text`, the configuration read from `name`, checked against its signature `signatureFile` and then
// loaded by `load`; a signed configuration must pin what it starts.
template <typename Load>
int LoadSigned(CConfigLoader& config, const std::string& name, const std::string& text,
               const std::optional<std::string>& signatureFile, const std::vector<ReleaseKey>& keys, Load load) {
    if (!AcceptSignature(name, text, signatureFile, keys)) {
        return CONFIG_NOT_TRUSTED;
    }
    const int result = load();
    return result == CONFIG_OK && !PinsEveryStartedFile(name, config) ? CONFIG_NOT_TRUSTED : result;
}

// The configuration file at `path`; with keys, only with a good `path`.sig beside it. The bytes
// checked are the bytes parsed.
int LoadFile(CConfigLoader& config, const std::string& path, const std::optional<std::vector<ReleaseKey>>& keys) {
    if (!keys) {
        return config.Load(path);
    }
    std::string text;
    if (ReadFetchedFile(path, text) != FetchOutcome::Read) {
        WriteLog("[ERROR][%s][%d] Failed to read configuration [%s] to check its signature.",
                 "COstrelApp::LoadConfiguration", __LINE__, path.c_str());
        return CONFIG_READ_FAILED;
    }
    std::string signature;
    const bool signatureRead = ReadFetchedFile(path + ".sig", signature) == FetchOutcome::Read;
    return LoadSigned(config, path, text, signatureRead ? std::optional(signature) : std::nullopt, *keys,
                      [&] { return config.LoadRead(path, text); });
}

} // namespace

ConfigSources DefaultConfigSources() {
    return {EmbeddedConfig(), LoadStringId(158), ProgramPath(), {}, BuildReleaseKeys()};
}

std::string TrimWhiteSpace(const std::string& text) {
    const char* const blanks = " \t\n\v\f\r";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string ConfigPathBeside(const std::string& programPath) {
    const std::size_t slash = programPath.rfind('/');
    return programPath.substr(0, slash == std::string::npos ? 0 : slash + 1) + "config.xml";
}

int StartupMessageId(int result) {
    switch (result) {
    case CONFIG_OK:
    case CONFIG_MISSING_ATTRIBUTE: // its own warning names the attribute
        return 0;
    case CONFIG_PARSE_FAILED:
        return 160;
    case CONFIG_NO_BASE:
        return 159;
    default:
        return 138;
    }
}

void ShowMissingAttributeWarning(const MissingAttribute& missing) {
    ShowMessageBox(missing.element + " 항목의 " + missing.attribute + " 속성이 없습니다.", "경고", MessageIcon::Error);
}

void ShowStartupMessage(int result, const CConfigLoader& config) {
    if (result == CONFIG_MISSING_ATTRIBUTE) {
        ShowMissingAttributeWarning(config.missingAttribute);
    } else if (const int messageId = StartupMessageId(result); messageId != 0) {
        ShowMessageBox(LoadStringId(messageId), LoadStringId(IDS_TITLE_ERROR), MessageIcon::Error);
    }
}

int LoadConfigurationFromSources(CConfigLoader& config, const ConfigSources& sources) {
    if (!sources.commandLineFile.empty()) {
        return LoadFile(config, sources.commandLineFile, sources.releaseKeys);
    }
    if (sources.embedded.present()) {
        return config.LoadFromString(reinterpret_cast<const char*>(sources.embedded.data));
    }
    if (const std::string url = TrimWhiteSpace(sources.configUrl); !url.empty()) {
        std::string text;
        switch (FetchConfiguration(url, text)) {
        case FetchOutcome::NoFile:
            return CONFIG_FETCH_FAILED;
        case FetchOutcome::Read:
            if (sources.releaseKeys) {
                // Fetched as the configuration is; a signature that cannot be fetched is a missing one.
                std::string signature;
                const bool signatureRead = FetchConfiguration(url + ".sig", signature) == FetchOutcome::Read;
                return LoadSigned(config, url, text, signatureRead ? std::optional(signature) : std::nullopt,
                                  *sources.releaseKeys, [&] { return config.LoadFromString(text.c_str()); });
            }
            return config.LoadFromString(text.c_str());
        case FetchOutcome::Unreadable:
            break; // config.xml beside the program is tried instead
        }
    }
    return LoadFile(config, ConfigPathBeside(sources.programPath), sources.releaseKeys);
}
