#pragma once

#include "zip/zip_archive.h"

#include <string>

// Extracts every entry of the archive into the current folder, in order, under its cleaned name;
// an old file of that name is removed first. Stops at the first entry that fails, also at one that
// would pass the limits. Failures are logged; true when all entries were written (also when there
// are none).
bool UnzipArchiveIntoCurrentFolder(const std::string& archivePath, const ZipLimits& limits = {});
