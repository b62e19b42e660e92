#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>

// The player's choices that outlive a run (the download folder, the speed limit), kept in one plain text
// file of `key=value` lines. Keys and values may hold any bytes: '%', '=' and control characters are
// written as %XX. The file is read whole and written whole; every change re-reads it first, so keys of
// other configurations stay as they were.
using SettingEntries = std::map<std::string, std::string>;

// $XDG_CONFIG_HOME/Harnlow/launcher.conf, or ~/.config/Harnlow/launcher.conf.
std::string SettingsFilePath();

// The key of one setting of the configuration whose Base is `configurationName`: "<name>.<setting>".
std::string SettingKey(const std::string& configurationName, const std::string& setting);

class SettingsFile {
public:
    SettingsFile() : SettingsFile(SettingsFilePath()) {}
    explicit SettingsFile(std::string path) : path_(std::move(path)) {}

    const std::string& path() const { return path_; }

    // Every entry. An absent file is empty; a damaged, unreadable or oversized one is empty too, with one log
    // line, and is moved aside to launcher.conf.bad by the next change. Lines may end in CRLF.
    SettingEntries LoadEntries() const;
    std::optional<std::string> GetValue(const std::string& key) const;

    // Change one entry and save the file: false, with a log line, when it could not be saved; the file
    // on disk is then the one before. Changes from the threads of one process never lose each other;
    // two programs saving at the same moment may (the later file wins).
    bool SetValue(const std::string& key, const std::string& value) const;
    bool RemoveValue(const std::string& key) const;

private:
    struct ReadResult {
        SettingEntries entries;
        bool bad = false; // there is a file, and it cannot be used
    };
    ReadResult Read() const;
    // Replaces the file by one holding the entries: a temporary file beside it, synced, then renamed over
    // it, so that a crash or a full disk never leaves half a file. Mode 0600. A bad file is first renamed
    // to path.bad, so that no choice in it is lost for good.
    bool Save(const ReadResult& read) const;
    // Moves the file to path.bad, with a log line; false with errno set when it could not be moved.
    bool SetAside() const;

    std::string path_;
};
