#pragma once

#include <string>

// The stored entry name without drive prefixes, leading separators and everything up to a parent
// element that follows a folder ("a\..\b.jpg" gives "b.jpg"). A leading ".." is left for the
// extraction to refuse.
std::string CleanZipItemName(std::string name);
