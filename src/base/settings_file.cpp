#include "base/settings_file.h"

#include "base/fd_io.h"
#include "base/log.h"
#include "base/user_folders.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <unistd.h>

namespace {

// A few keys hold paths; anything far larger was not written by us.
constexpr std::size_t kMaxFileSize = 64 * 1024;

// Read, change and save are one step for the threads of this process.
std::mutex g_changeLock;

// '=' separates the key, a line feed the entry; '%' starts an escape. Other control bytes are escaped
// too, so that the file stays plain text (a raw NUL marks a damaged file).
bool NeedsEscape(unsigned char c) {
    return c == '%' || c == '=' || c < 0x20;
}

std::string Escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (NeedsEscape(byte)) {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out;
}

// False for a '%' not followed by two hexadecimal digits.
bool Unescape(std::string_view text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return false;
        }
        const char* digits = text.data() + i + 1;
        unsigned byte = 0;
        if (std::from_chars(digits, digits + 2, byte, 16).ptr != digits + 2) {
            return false;
        }
        out += static_cast<char>(byte);
        i += 2;
    }
    return true;
}

// The entries of the file's text; false with `damage` saying where it is broken.
bool ParseEntries(const std::string& text, SettingEntries& entries, std::string& damage) {
    if (text.find('\0') != std::string::npos) {
        damage = "it holds a NUL byte";
        return false;
    }
    std::size_t lineNumber = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size(); // a last line without its line feed
        }
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        if (line.ends_with('\r')) {
            line.remove_suffix(1); // written by an editor with CRLF line ends; ours escape every CR
        }
        ++lineNumber;
        const std::size_t equals = line.find('=');
        std::string key;
        std::string value;
        if (equals == std::string_view::npos) {
            damage = "line " + std::to_string(lineNumber) + " has no '='";
            return false;
        }
        if (!Unescape(line.substr(0, equals), key) || !Unescape(line.substr(equals + 1), value)) {
            damage = "line " + std::to_string(lineNumber) + " has a broken %-escape";
            return false;
        }
        entries[key] = value;
    }
    return true;
}

std::string FormatEntries(const SettingEntries& entries) {
    std::string text;
    for (const auto& [key, value] : entries) {
        text += Escape(key) + '=' + Escape(value) + '\n';
    }
    return text;
}

void LogIgnoredFile(const std::string& path, const std::string& why) {
    WriteLog("[INFO][%s][%d] The settings file [%s] is ignored: %s.", "SettingsFile::LoadEntries", __LINE__,
             path.c_str(), why.c_str());
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Writes `text`, flushes it to the disk and closes `fd`; false with errno set when a step failed.
bool WriteSyncAndClose(int fd, const std::string& text) {
    int error = WriteAllAndSync(fd, text.data(), text.size());
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    errno = error;
    return error == 0;
}

bool SaveFailed(const std::string& path, const char* step, int error) {
    WriteLog("[ERROR][%s][%d] Failed to save the settings file [%s]: cannot %s (%s).", "SettingsFile::Save", __LINE__,
             path.c_str(), step, std::strerror(error));
    return false;
}

} // namespace

std::string SettingsFilePath() {
    return ConfigHomeFolder() + "/" + DataFolderName() + "/launcher.conf";
}

std::string SettingKey(const std::string& configurationName, const std::string& setting) {
    return configurationName + '.' + setting;
}

SettingEntries SettingsFile::LoadEntries() const {
    return Read().entries;
}

SettingsFile::ReadResult SettingsFile::Read() const {
    const ReadResult bad{{}, true};
    std::FILE* file = std::fopen(path_.c_str(), "rbe");
    if (file == nullptr) {
        if (errno != ENOENT) {
            LogIgnoredFile(path_, std::string("it cannot be read (") + std::strerror(errno) + ")");
            return bad;
        }
        return {};
    }
    std::string text(kMaxFileSize + 1, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file));
    const int readError = std::ferror(file) == 0 ? 0 : errno != 0 ? errno : EIO;
    std::fclose(file);
    if (readError != 0) {
        LogIgnoredFile(path_, std::string("it cannot be read (") + std::strerror(readError) + ")");
        return bad;
    }
    if (text.size() > kMaxFileSize) {
        LogIgnoredFile(path_, "it is larger than " + std::to_string(kMaxFileSize) + " bytes");
        return bad;
    }
    ReadResult read;
    if (std::string damage; !ParseEntries(text, read.entries, damage)) {
        LogIgnoredFile(path_, damage);
        return bad;
    }
    return read;
}

std::optional<std::string> SettingsFile::GetValue(const std::string& key) const {
    const SettingEntries entries = LoadEntries();
    const auto found = entries.find(key);
    if (found == entries.end()) {
        return std::nullopt;
    }
    return found->second;
}

bool SettingsFile::SetValue(const std::string& key, const std::string& value) const {
    const std::lock_guard lock(g_changeLock);
    ReadResult read = Read();
    read.entries[key] = value;
    return Save(read);
}

bool SettingsFile::RemoveValue(const std::string& key) const {
    const std::lock_guard lock(g_changeLock);
    ReadResult read = Read();
    read.entries.erase(key);
    return Save(read);
}

bool SettingsFile::Save(const ReadResult& read) const {
    const std::string folder = FolderOf(path_);
    std::string temporary = path_ + ".XXXXXX";
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC); // 0600: the file names folders of the player's disks
    if (fd < 0 && errno == ENOENT) {
        MakeFolderPath(folder);
        temporary = path_ + ".XXXXXX";
        fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    }
    if (fd < 0) {
        return SaveFailed(path_, "make a temporary file", errno);
    }
    if (!WriteSyncAndClose(fd, FormatEntries(read.entries))) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return SaveFailed(path_, "write a temporary file", error);
    }
    if (read.bad && !SetAside()) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return SaveFailed(path_, "keep the unusable file aside", error);
    }
    if (std::rename(temporary.c_str(), path_.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return SaveFailed(path_, "replace the file", error);
    }
    SyncFolderOf(path_);
    return true;
}

bool SettingsFile::SetAside() const {
    // Only the latest unusable file is kept; a folder in the way is moved as a whole.
    const std::string aside = path_ + ".bad";
    std::error_code ignored;
    std::filesystem::remove_all(aside, ignored);
    if (std::rename(path_.c_str(), aside.c_str()) != 0) {
        return false;
    }
    WriteLog("[WARNING][%s][%d] The settings file [%s] could not be used; it is kept as [%s].", "SettingsFile::Save",
             __LINE__, path_.c_str(), aside.c_str());
    return true;
}
