#pragma once

#include <cstdint>

// The entry's attribute bits (ZIP_ATTRIBUTE_*) from its version-made-by field, whose high byte names
// the host system, and its external attributes.
std::uint32_t ZipItemAttributes(std::uint32_t versionMadeBy, std::uint32_t externalAttributes);
