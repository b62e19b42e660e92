#pragma once

#include <memory>
#include <string>

// A skin folder of this run, "<name><tick count>" in the private temporary folder. While the object
// lives the folder is locked, so that another start can tell it from one that a crashed run left (the
// kernel lets go of a dead process's locks); the object removes the folder with all in it.
class SkinFolder {
public:
    // Makes the folder at `path` and locks it; an existing folder will do when no running program holds
    // it. nullptr, with errno set, when it can be neither made nor locked; a symbolic link is not used.
    static std::unique_ptr<SkinFolder> Make(const std::string& path);
    ~SkinFolder();
    SkinFolder(const SkinFolder&) = delete;
    SkinFolder& operator=(const SkinFolder&) = delete;

private:
    SkinFolder(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}

    std::string path_;
    int fd_;
};

// Removes the skin folders that crashed runs left in `tempFolder`: folders named `name` followed by a
// decimal number, owned by this user, locked by no running program and unchanged for a minute (one
// just made may not be locked yet). Symbolic links are removed, never followed.
void RemoveLeftSkinFolders(const std::string& tempFolder, const std::string& name);
