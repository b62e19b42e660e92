#pragma once

#include <string>

// Extracts every entry of the archive into the current folder, in order, under its cleaned name;
// an old file of that name is removed first. Stops at the first entry that fails. Failures are
// logged; true when all entries were written (also when there are none).
bool UnzipArchiveIntoCurrentFolder(const std::string& archivePath);
