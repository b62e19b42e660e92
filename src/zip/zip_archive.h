#pragma once

#include <cstdint>

// Result of the zip reader's operations; 0 is success.
using ZIPCODE = std::uint32_t;

constexpr ZIPCODE ZIPCODE_OK = 0x00000000;
// The archive cannot be opened or has no readable central directory; or a target cannot be created.
constexpr ZIPCODE ZIPCODE_CANNOT_OPEN = 0x00000200;
constexpr ZIPCODE ZIPCODE_WRITE_FAILED = 0x00000400;
// The local header disagrees with the central record, or the method is neither stored nor deflated.
constexpr ZIPCODE ZIPCODE_BAD_HEADER = 0x00000700;
// The local extra field cannot be positioned to or read in full.
constexpr ZIPCODE ZIPCODE_READ_FAILED = 0x00000800;
// The entry name or the target cannot be used: 260 bytes or longer, or it leads out of the base folder.
constexpr ZIPCODE ZIPCODE_BAD_NAME = 0x00000900;
// The check byte of an encrypted entry does not match under the empty password.
constexpr ZIPCODE ZIPCODE_BAD_PASSWORD = 0x00001000;
constexpr ZIPCODE ZIPCODE_BAD_INDEX = 0x00010000;
// Extracting would write more than the handle's limits allow: in all, or for one entry against its
// packed size.
constexpr ZIPCODE ZIPCODE_TOO_LARGE = 0x00020000;
constexpr ZIPCODE ZIPCODE_TOO_DENSE = 0x00040000;
constexpr ZIPCODE ZIPCODE_INFLATE_FAILED = 0x05000000;

// Attribute bits of ZipItemInfo::attributes.
constexpr std::uint32_t ZIP_ATTRIBUTE_READONLY = 0x01;
constexpr std::uint32_t ZIP_ATTRIBUTE_HIDDEN = 0x02;
constexpr std::uint32_t ZIP_ATTRIBUTE_SYSTEM = 0x04;
constexpr std::uint32_t ZIP_ATTRIBUTE_DIRECTORY = 0x10;
constexpr std::uint32_t ZIP_ATTRIBUTE_ARCHIVE = 0x20;

constexpr int kZipMaxPath = 260;

// One entry's description. Times count 100-nanosecond intervals since 1601-01-01 00:00 UTC; 0 means
// the entry gave no usable time.
struct ZipItemInfo {
    std::int32_t index = 0; // entry position; in the summary record (index -1 asked) the entry count
    char name[kZipMaxPath] = {};
    std::uint32_t attributes = 0;
    std::uint64_t accessTime = 0;
    std::uint64_t creationTime = 0;
    std::uint64_t modificationTime = 0;
    std::int32_t compressedSize = 0;
    std::int32_t uncompressedSize = 0;
};

// What the extractions through one handle may write, counted in the bytes written, whatever sizes the
// archive declares: `totalBytes` in all; an entry no more than `entryRatio` times its packed size,
// except that up to `denseFreeBytes` of it are let through, since small entries shrink unevenly. The
// defaults are a skin's: JPEG images that deflate hardly shrinks.
struct ZipLimits {
    std::uint64_t totalBytes = std::uint64_t{256} << 20;
    std::uint64_t entryRatio = 100;
    std::uint64_t denseFreeBytes = std::uint64_t{1} << 20;
};

struct ZipArchiveReader;
using ZipHandle = ZipArchiveReader*;

// Opens an archive for reading; the current directory at this moment becomes the base folder that
// relative targets resolve against. nullptr when the archive cannot be opened.
ZipHandle OpenZipArchive(const char* fileName, const ZipLimits& limits = {});

// Describes entry `index`; index -1 gives the summary record whose index field is the entry count.
ZIPCODE GetZipItemInfo(ZipHandle zip, int index, ZipItemInfo* info);

// Writes entry `index` to `targetName`, relative to the base folder or absolute inside it. Nothing
// is ever written outside the base folder, nor beyond the limits: an entry that would pass them is
// cut where it reaches them (ZIPCODE_TOO_LARGE, ZIPCODE_TOO_DENSE).
ZIPCODE ExtractZipItem(ZipHandle zip, int index, const char* targetName);

void CloseZipArchive(ZipHandle zip);
