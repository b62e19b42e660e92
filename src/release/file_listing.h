#pragma once

#include <optional>
#include <string>
#include <vector>

// The files of a release as the download server holds them.
struct ListedFile {
    std::string relativePath; // below the release's folder, '/' between the parts
    std::string sha256;       // lower-case hex
};

// Every regular file below `folder`, in any depth, sorted by relative path byte by byte; links are left
// out, as the launcher takes none for a file. Nothing, with `error` saying why, when a folder or a file
// cannot be read.
std::optional<std::vector<ListedFile>> ListReleaseFiles(const std::string& folder, std::string& error);
