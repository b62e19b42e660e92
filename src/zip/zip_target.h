#pragma once

#include "zip/zip_archive.h"

#include <string>
#include <vector>

// The process's current directory ending in '/'; false when it cannot be read or does not fit in
// 259 characters.
bool CurrentFolder(std::string& folder);

// Where an entry goes below the base folder: the folder levels, outermost first, and the file name
// (unused for a folder target).
struct ZipTarget {
    std::vector<std::string> folders;
    std::string file;
};

// Splits `targetName` ('\' and '/' alike) into a target below `baseFolder`. An absolute name must lie
// inside the base folder. ZIPCODE_BAD_NAME for a name that leads elsewhere (a ".." level, another
// root or drive); ZIPCODE_CANNOT_OPEN when the full path exceeds 259 characters.
ZIPCODE ResolveZipTarget(const std::string& baseFolder, const char* targetName, bool isFolder, ZipTarget& target);

// An open folder or file descriptor, closed with the object.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd();
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd& operator=(UniqueFd&& other) noexcept;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// Opens the target's innermost folder, creating missing levels from the outermost inwards (the base
// folder itself too, when it is gone). A level that is a symbolic link is never followed:
// ZIPCODE_BAD_NAME; any other failure ZIPCODE_CANNOT_OPEN.
ZIPCODE EnsureTargetFolders(const std::string& baseFolder, const ZipTarget& target, UniqueFd& folder);

// Creates or empties the target file in `folder`. An existing read-only file, a symbolic link or
// anything but a regular file is not replaced.
ZIPCODE CreateTargetFile(const UniqueFd& folder, const std::string& file, bool readOnly, UniqueFd& out);

// Removes an old target file below the base folder before its entry is written again. Nothing
// outside the base folder, no folder and no read-only file is removed; failures are ignored.
void RemoveOldTarget(const std::string& baseFolder, const char* targetName);
