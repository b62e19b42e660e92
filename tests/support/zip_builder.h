#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One entry of an archive built byte by byte, so that tests can give it any oddity.
struct ZipEntry {
    std::string name{};
    std::string data{};       // uncompressed content
    std::uint16_t method = 0; // 8: deflated here; any other value: `data` stored as it is
    std::uint16_t flags = 0;
    std::uint16_t versionMadeBy = 20; // host 0 (DOS attributes)
    std::uint32_t externalAttributes = 0x20;
    std::uint32_t dosDateTime = 0x41166124; // 2012-08-22 12:09:08
    std::string localExtra{};
    // Traditional PKWARE encryption under `password`; the header's check byte can be made wrong.
    std::optional<std::string> password{};
    std::optional<std::uint8_t> checkByte{};

    // Local-header fields that disagree with the central record.
    std::optional<std::uint16_t> localMethod{};
    std::optional<std::uint32_t> localCrc{};
    std::optional<std::string> localName{};
    std::optional<std::uint16_t> localExtraLength{};
};

std::string BuildZip(const std::vector<ZipEntry>& entries);
void WriteZip(const std::string& path, const std::vector<ZipEntry>& entries);

// DOS date in the high and time in the low 16 bits.
std::uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second);

// An extra-field block: identifier, little-endian data length (that of `data` unless given), data.
std::string ExtraBlock(const std::string& id, const std::string& data, std::optional<std::uint16_t> length = {});
// The data of a "UT" block: flags, then the given seconds since 1970.
std::string UnixTimeData(std::uint8_t flags, const std::vector<std::int32_t>& seconds);

std::uint32_t Crc32(const std::string& data);

// Makes a folder current for its lifetime and restores the previous one.
class ScopedCurrentFolder {
public:
    explicit ScopedCurrentFolder(const std::string& folder);
    ~ScopedCurrentFolder();
    ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
    ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;

private:
    std::string previous_;
};
