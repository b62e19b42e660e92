#include "zip/zip_item_attributes.h"

#include "zip/zip_archive.h"

std::uint32_t ZipItemAttributes(std::uint32_t versionMadeBy, std::uint32_t externalAttributes) {
    const std::uint32_t host = (versionMadeBy >> 8) & 0xFF;
    if (host == 0 || host == 7 || host == 11 || host == 14) { // hosts that store DOS attributes
        return externalAttributes & (ZIP_ATTRIBUTE_READONLY | ZIP_ATTRIBUTE_HIDDEN | ZIP_ATTRIBUTE_SYSTEM |
                                     ZIP_ATTRIBUTE_DIRECTORY | ZIP_ATTRIBUTE_ARCHIVE);
    }
    // Unix mode bits in the high half: S_IFDIR and the owner's write permission.
    std::uint32_t attributes = ZIP_ATTRIBUTE_ARCHIVE;
    if (externalAttributes & 0x40000000u) {
        attributes |= ZIP_ATTRIBUTE_DIRECTORY;
    }
    if ((externalAttributes & 0x00800000u) == 0) {
        attributes |= ZIP_ATTRIBUTE_READONLY;
    }
    return attributes;
}
