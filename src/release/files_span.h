#pragma once

#include <cstddef>
#include <optional>
#include <string>

// Where a configuration's <Files> element stands, so that it alone is replaced and every other byte
// stays as it is.
struct FilesSpan {
    std::size_t begin = 0; // at "<Files"
    std::size_t end = 0;   // just after "</Files>", or after "/>" of an empty-element tag
    std::string indent;    // the spaces and tabs before "<Files" on its line
};

// The one <Files> element of `text`; nothing, with `error` saying why, when there is none, more than
// one (a commented-out one counts: better refused than the wrong one replaced) or it does not end.
std::optional<FilesSpan> FindFilesSpan(const std::string& text, std::string& error);
