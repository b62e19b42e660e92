#pragma once

#include "net/byte_ranges.h"

#include <cstdint>
#include <optional>
#include <string>

// A partial file remembers which version of the server's file its bytes came from, so that continuing
// it can ask for the rest of that same version (If-Range) instead of splicing two versions together.
// The validator lives in an extended attribute of the file itself: it is copied, moved and deleted with
// the file, and a file cut off by a crash still carries it. A side file could outlive or miss its file.

// The response validator fit for If-Range: the strong ETag, else Last-Modified, else nothing. Empty
// arguments are absent headers; a weak ETag (W/...) never matches a range request, so it is passed over.
// A value that could not be sent back as a header (a line break, over 1 KiB) counts as absent.
std::optional<std::string> ChooseValidator(const std::string& etag, const std::string& lastModified);

// Stores `validator` with the file, and the server it came from (`origin`, host[:port]: validators of
// different servers do not compare), replacing earlier ones; false when the file system keeps no
// extended attributes, the file cannot be reached or a value is not fit (errno tells which).
bool StoreFileValidator(const std::string& path, const std::string& validator, const std::string& origin);
// The stored validator, and the server it came from; nothing when none is stored, the file system keeps
// none, or it is not fit to be sent as a header value.
std::optional<std::string> LoadFileValidator(const std::string& path);
std::optional<std::string> LoadFileOrigin(const std::string& path);
// True when the file carries no validator afterwards.
bool RemoveFileValidator(const std::string& path);

// A file written in pieces at once keeps which of its bytes are written and safe on disk, so that a later
// run asks only for the rest: `size` is the size of the whole file, `written` the bytes that are.
bool StoreFileSegments(const std::string& path, std::uint64_t size, const ByteRanges& written);
// Nothing when none are stored or the record is not one for a file of `size` bytes.
std::optional<ByteRanges> LoadFileSegments(const std::string& path, std::uint64_t size);
bool RemoveFileSegments(const std::string& path);
// Whether the file carries a segments record of any size: a part file of this program's.
bool HasFileSegments(const std::string& path);

// For tests: storing fails as on a file system without extended attributes. One setting for the process.
void SetFileValidatorStoreFails(bool fail);
