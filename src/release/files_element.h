#pragma once

#include "release/file_listing.h"

#include <set>
#include <string>
#include <vector>

// The <Files> element of a configuration, written from the files of a release.

// `relativePath` as the path of a URL: each part percent-encoded (every byte but letters, digits and
// "-._~" as %XX), the parts joined by '/'. The server decodes it back to the file's name.
std::string UrlPathOf(const std::string& relativePath);

// `text` fit to stand in a double-quoted XML attribute.
std::string XmlAttributeText(const std::string& text);

// From "<Files>" to "</Files>": one <File> with Url (below `baseUrl`) and Sha256 per file, in order; the
// `installers` (relative paths) also executable and started after a complete run. Every line after the
// first starts with `indent`, the children's one level deeper.
std::string FilesElement(const std::vector<ListedFile>& files, const std::string& baseUrl,
                         const std::set<std::string>& installers, const std::string& indent);
