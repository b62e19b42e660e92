#pragma once

#include <optional>
#include <string>

// The names the program derives from a file's URL.

// The text after the URL's last '/': the whole URL without '/', empty when its only '/' is its first
// character. Query strings stay part of it. Shown in the file-name label.
std::string FileNameOfUrl(const std::string& url);

// The name of a file-list row: the path below the host ("dir/setup.exe" for
// "http://host/dir/setup.exe"); the whole URL when it starts with "//" or has no '/' after its host.
std::string DisplayNameOfUrl(const std::string& url);

// True when `name` begins with a URL scheme ("http:", "https:", ...) rather than naming a file.
bool IsUrl(const std::string& name);

// A configured name made fit to be one folder name: separators become '_', and "." or ".." become "_".
std::string SafeFolderName(const std::string& name);

// The local file for a URL inside `folder` (which ends without a separator). Nothing when the URL is
// empty, when its file name is empty, "." or "..", or holds a separator, or when the path would not
// fit the program's 259-character paths: such a file is never written.
std::optional<std::string> LocalPathForUrl(const std::string& folder, const std::string& url);

// The server of a URL as a part's origin names it (host[:port]); empty for a URL that does not parse.
std::string ServerOfUrl(const std::string& url);
