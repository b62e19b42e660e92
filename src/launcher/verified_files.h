#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct stat;

// Which version of a file on disk was checked: its size and modification time.
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t seconds = 0;
    std::int64_t nanoseconds = 0;
    bool operator==(const FileStamp&) const = default;
};

// What tells that a file is still the one that was checked or left alone; nothing when there is no
// regular file.
std::optional<FileStamp> StampOf(const std::string& path);
std::optional<FileStamp> StampOfStatus(const struct stat& st);

// What vouches for each file of a run, by position: the version whose digest matched, and the version
// that arrived whole over verified HTTPS from its own servers. Any thread.
class VerifiedFiles {
public:
    enum class Proof { Digest, Transport };

    explicit VerifiedFiles(std::size_t files) : files_(files) {}

    // File `index` as `stamp` tells has `proof`; nothing: no version of it has.
    void Note(Proof proof, std::size_t index, const std::optional<FileStamp>& stamp);
    // Whether the file, as `now` tells, is the version noted with `proof`; never for a file that is not there.
    bool Vouches(Proof proof, std::size_t index, const std::optional<FileStamp>& now) const;

private:
    struct Vouched {
        std::optional<FileStamp> digest;
        std::optional<FileStamp> transport;
    };
    static std::optional<FileStamp> Vouched::*Slot(Proof proof);

    mutable std::mutex lock_;
    std::vector<Vouched> files_;
};
