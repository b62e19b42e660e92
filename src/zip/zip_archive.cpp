#include "zip/zip_archive.h"

#include "base/fd_io.h"
#include "zip/zip_entry_data.h"
#include "zip/zip_file_stream.h"
#include "zip/zip_item_attributes.h"
#include "zip/zip_item_name.h"
#include "zip/zip_item_times.h"
#include "zip/zip_target.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <unzip.h>

namespace {

constexpr unsigned kCopyBufferSize = 16384;
// Position after a failed move: the next move starts again from the first entry.
constexpr int kUnknownPosition = INT_MAX;

} // namespace

struct ZipArchiveReader {
    ZipFileStream file;
    unzFile archive = nullptr;
    int entryCount = 0;
    int position = 0; // minizip stands on the first entry after opening
    ZipItemInfo cached;
    int cachedIndex = -1;
    std::unique_ptr<unsigned char[]> copyBuffer;
    std::string baseFolder;
    ZipLimits limits;
    std::uint64_t written = 0; // by all extractions so far

    ZipArchiveReader() = default;
    ZipArchiveReader(const ZipArchiveReader&) = delete;
    ZipArchiveReader& operator=(const ZipArchiveReader&) = delete;
    ~ZipArchiveReader() {
        if (archive != nullptr) {
            unzClose(archive);
        }
    }
};

namespace {

ZIPCODE MoveTo(ZipArchiveReader& zip, int index) {
    if (index < zip.position) {
        zip.position = kUnknownPosition;
        if (unzGoToFirstFile(zip.archive) != UNZ_OK) {
            return ZIPCODE_BAD_HEADER;
        }
        zip.position = 0;
    }
    while (zip.position < index) {
        if (unzGoToNextFile(zip.archive) != UNZ_OK) {
            zip.position = kUnknownPosition;
            return ZIPCODE_BAD_HEADER;
        }
        ++zip.position;
    }
    return ZIPCODE_OK;
}

// The local extra field of the current entry. minizip checks the local header against the central
// record when it opens the entry's data, but tells only where the data starts: the extra field ends
// there.
ZIPCODE ReadLocalExtraField(ZipArchiveReader& zip, std::string& extra) {
    if (unzOpenCurrentFile(zip.archive) != UNZ_OK) {
        return ZIPCODE_BAD_HEADER;
    }
    const ZPOS64_T dataStart = unzGetCurrentFileZStreamPos64(zip.archive);
    const int length = unzGetLocalExtrafield(zip.archive, nullptr, 0);
    unzCloseCurrentFile(zip.archive);
    if (length < 0 || dataStart < static_cast<ZPOS64_T>(length)) {
        return ZIPCODE_READ_FAILED;
    }
    extra.assign(static_cast<std::size_t>(length), '\0');
    return zip.file.ReadAt(dataStart - static_cast<ZPOS64_T>(length), extra.data(), extra.size()) ? ZIPCODE_OK
                                                                                                  : ZIPCODE_READ_FAILED;
}

// Moves to entry `index` and describes it; the record is kept in the cache.
ZIPCODE ReadRecord(ZipArchiveReader& zip, int index, ZipItemInfo& info, unz_file_info64& central) {
    ZIPCODE code = MoveTo(zip, index);
    if (code != ZIPCODE_OK) {
        return code;
    }
    char name[kZipMaxPath] = {};
    if (unzGetCurrentFileInfo64(zip.archive, &central, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK) {
        return ZIPCODE_BAD_HEADER;
    }
    if (central.size_filename >= kZipMaxPath) {
        return ZIPCODE_BAD_NAME;
    }
    // minizip would also accept bzip2 and read other methods as garbage.
    if (central.compression_method != 0 && central.compression_method != Z_DEFLATED) {
        return ZIPCODE_BAD_HEADER;
    }
    std::string extra;
    code = ReadLocalExtraField(zip, extra);
    if (code != ZIPCODE_OK) {
        return code;
    }

    info = {};
    info.index = index;
    const std::string cleanName = CleanZipItemName(name);
    std::memcpy(info.name, cleanName.c_str(), cleanName.size() + 1);
    info.attributes =
        ZipItemAttributes(static_cast<std::uint32_t>(central.version), static_cast<std::uint32_t>(central.external_fa));
    // Some zip tools mark a folder only by the separator that ends its name.
    const std::size_t nameLength = central.size_filename;
    if (nameLength > 0 && (name[nameLength - 1] == '/' || name[nameLength - 1] == '\\')) {
        info.attributes |= ZIP_ATTRIBUTE_DIRECTORY;
    }
    const ZipItemTimes times = ZipItemTimesFrom(static_cast<std::uint32_t>(central.dosDate), extra);
    info.accessTime = times.accessTime;
    info.creationTime = times.creationTime;
    info.modificationTime = times.modificationTime;
    info.compressedSize = static_cast<std::int32_t>(static_cast<std::uint32_t>(central.compressed_size));
    info.uncompressedSize = static_cast<std::int32_t>(static_cast<std::uint32_t>(central.uncompressed_size));

    zip.cached = info;
    zip.cachedIndex = index;
    return ZIPCODE_OK;
}

// Whether `size` more bytes of an entry, `entryWritten` of which are written, stay within the limits.
ZIPCODE CheckLimits(const ZipArchiveReader& zip, const unz_file_info64& central, std::uint64_t entryWritten,
                    std::uint64_t size) {
    const ZipLimits& limits = zip.limits;
    if (size > limits.totalBytes - zip.written) { // what is written never passes the total
        return ZIPCODE_TOO_LARGE;
    }
    // The packed size times the ratio, without overflow: no entry passes the total anyway.
    const std::uint64_t packed = central.compressed_size;
    const std::uint64_t dense = limits.entryRatio == 0 || packed <= limits.totalBytes / limits.entryRatio
                                    ? packed * limits.entryRatio
                                    : limits.totalBytes;
    return entryWritten + size > std::max(dense, limits.denseFreeBytes) ? ZIPCODE_TOO_DENSE : ZIPCODE_OK;
}

ZIPCODE CopyEntryData(ZipArchiveReader& zip, const unz_file_info64& central, const ZipItemInfo& info, int target) {
    ZipEntryData data(zip.archive, central);
    if (!zip.copyBuffer) {
        zip.copyBuffer = std::make_unique<unsigned char[]>(kCopyBufferSize);
    }
    std::uint64_t entryWritten = 0;
    while (true) {
        const int got = data.Read(zip.copyBuffer.get(), kCopyBufferSize);
        if (got == ZipEntryData::kBadPassword) {
            return ZIPCODE_BAD_PASSWORD;
        }
        if (got < 0) {
            return ZIPCODE_INFLATE_FAILED;
        }
        const auto size = static_cast<std::uint64_t>(got);
        if (const ZIPCODE code = CheckLimits(zip, central, entryWritten, size); code != ZIPCODE_OK) {
            return code;
        }
        if (got > 0 && WriteAll(target, zip.copyBuffer.get(), static_cast<std::size_t>(got)) != 0) {
            return ZIPCODE_WRITE_FAILED;
        }
        entryWritten += size;
        zip.written += size;
        if (data.AtEnd()) {
            // The creation time has no counterpart here; the recorded CRC-32 is not compared.
            const timespec times[2] = {FileTimeToTimespec(info.accessTime), FileTimeToTimespec(info.modificationTime)};
            ::futimens(target, times);
            return ZIPCODE_OK;
        }
        if (got == 0) {
            return ZIPCODE_INFLATE_FAILED;
        }
    }
}

// minizip looks for the end record after the file's first byte, so it cannot open an archive that
// is nothing but that record: one without entries.
bool HoldsOnlyAnEndRecord(const ZipFileStream& file) {
    unsigned char record[22];
    if (!file.ReadAt(0, record, sizeof record)) {
        return false;
    }
    const unsigned char emptyRecord[20] = {'P', 'K', 5, 6};
    const std::uint64_t commentLength = record[20] | record[21] << 8;
    return std::memcmp(record, emptyRecord, sizeof emptyRecord) == 0 && file.Size() == sizeof record + commentLength;
}

} // namespace

ZipHandle OpenZipArchive(const char* fileName, const ZipLimits& limits) {
    auto zip = std::make_unique<ZipArchiveReader>();
    zip->limits = limits;
    if (fileName == nullptr || !CurrentFolder(zip->baseFolder) || !zip->file.Open(fileName)) {
        return nullptr;
    }
    zlib_filefunc64_def functions = zip->file.Functions();
    zip->archive = unzOpen2_64(fileName, &functions);
    if (zip->archive == nullptr) {
        return HoldsOnlyAnEndRecord(zip->file) ? zip.release() : nullptr;
    }
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(zip->archive, &global) != UNZ_OK) {
        return nullptr;
    }
    zip->entryCount = global.number_entry > INT_MAX ? INT_MAX : static_cast<int>(global.number_entry);
    return zip.release();
}

ZIPCODE GetZipItemInfo(ZipHandle zip, int index, ZipItemInfo* info) {
    if (zip == nullptr || info == nullptr || index < -1 || index >= zip->entryCount) {
        return ZIPCODE_BAD_INDEX;
    }
    if (index == -1) {
        *info = {};
        info->index = zip->entryCount;
        return ZIPCODE_OK;
    }
    if (index == zip->cachedIndex) {
        *info = zip->cached;
        return ZIPCODE_OK;
    }
    unz_file_info64 central{};
    return ReadRecord(*zip, index, *info, central);
}

ZIPCODE ExtractZipItem(ZipHandle zip, int index, const char* targetName) {
    if (zip == nullptr || index < 0 || index >= zip->entryCount) {
        return ZIPCODE_BAD_INDEX;
    }
    if (targetName == nullptr) {
        return ZIPCODE_BAD_NAME;
    }
    ZipItemInfo info;
    unz_file_info64 central{};
    ZIPCODE code = ReadRecord(*zip, index, info, central);
    if (code != ZIPCODE_OK) {
        return code;
    }
    const bool isFolder = (info.attributes & ZIP_ATTRIBUTE_DIRECTORY) != 0;
    ZipTarget target;
    code = ResolveZipTarget(zip->baseFolder, targetName, isFolder, target);
    if (code != ZIPCODE_OK) {
        return code;
    }
    UniqueFd folder;
    code = EnsureTargetFolders(zip->baseFolder, target, folder);
    if (code != ZIPCODE_OK || isFolder) {
        return code;
    }
    UniqueFd file;
    code = CreateTargetFile(folder, target.file, (info.attributes & ZIP_ATTRIBUTE_READONLY) != 0, file);
    if (code != ZIPCODE_OK) {
        return code;
    }
    return CopyEntryData(*zip, central, info, file.get());
}

void CloseZipArchive(ZipHandle zip) {
    delete zip;
}
