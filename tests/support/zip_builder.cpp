#include "support/zip_builder.h"

#include <climits>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <unistd.h>
#include <zlib.h>

namespace {

void Put16(std::string& out, std::uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

std::string Deflate(const std::string& data) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2 failed");
    }
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// Traditional PKWARE encryption, written from the published algorithm independently of the reader.
class Encryption {
public:
    explicit Encryption(const std::string& password) {
        for (char c : password) {
            Update(static_cast<std::uint8_t>(c));
        }
    }

    std::string Encrypt(const std::string& plain) {
        std::string cipher;
        for (char c : plain) {
            const std::uint32_t t = (keys_[2] & 0xFFFF) | 2;
            cipher += static_cast<char>(static_cast<std::uint8_t>(c) ^ (((t * (t ^ 1)) >> 8) & 0xFF));
            Update(static_cast<std::uint8_t>(c));
        }
        return cipher;
    }

private:
    static std::uint32_t Crc(std::uint32_t crc, std::uint8_t byte) {
        for (int bit = 0; bit < 8; ++bit, byte >>= 1) {
            crc = ((crc ^ byte) & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        }
        return crc;
    }

    void Update(std::uint8_t c) {
        keys_[0] = Crc(keys_[0], c);
        keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
        keys_[2] = Crc(keys_[2], static_cast<std::uint8_t>(keys_[1] >> 24));
    }

    std::uint32_t keys_[3] = {0x12345678u, 0x23456789u, 0x34567890u};
};

} // namespace

std::uint32_t Crc32(const std::string& data) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string BuildZip(const std::vector<ZipEntry>& entries) {
    std::string archive, central;
    for (const ZipEntry& e : entries) {
        std::string stored = e.method == 8 ? Deflate(e.data) : e.data;
        const std::uint32_t crc = Crc32(e.data);
        std::uint16_t flags = e.flags;
        if (e.password) {
            flags |= 1;
            const auto check = static_cast<char>(e.checkByte.value_or((flags & 8) ? e.dosDateTime >> 8 : crc >> 24));
            const std::string header =
                std::string("\x5a\x17\xc3\x08\x91\x4e\x2b\xd0\x66\x3f") + static_cast<char>(crc >> 16) + check;
            stored = Encryption(*e.password).Encrypt(header + stored);
        }
        const auto offset = static_cast<std::uint32_t>(archive.size());
        const std::string localName = e.localName.value_or(e.name);

        Put32(archive, 0x04034b50);
        Put16(archive, 20);
        Put16(archive, flags);
        Put16(archive, e.localMethod.value_or(e.method));
        Put32(archive, e.dosDateTime);
        Put32(archive, e.localCrc.value_or(crc));
        Put32(archive, static_cast<std::uint32_t>(stored.size()));
        Put32(archive, static_cast<std::uint32_t>(e.data.size()));
        Put16(archive, static_cast<std::uint32_t>(localName.size()));
        Put16(archive, e.localExtraLength.value_or(static_cast<std::uint16_t>(e.localExtra.size())));
        archive += localName + e.localExtra + stored;

        Put32(central, 0x02014b50);
        Put16(central, e.versionMadeBy);
        Put16(central, 20);
        Put16(central, flags);
        Put16(central, e.method);
        Put32(central, e.dosDateTime);
        Put32(central, crc);
        Put32(central, static_cast<std::uint32_t>(stored.size()));
        Put32(central, static_cast<std::uint32_t>(e.data.size()));
        Put16(central, static_cast<std::uint32_t>(e.name.size()));
        Put16(central, 0); // extra
        Put16(central, 0); // comment
        Put16(central, 0); // disk
        Put16(central, 0); // internal attributes
        Put32(central, e.externalAttributes);
        Put32(central, offset);
        central += e.name;
    }
    const auto centralOffset = static_cast<std::uint32_t>(archive.size());
    archive += central;
    Put32(archive, 0x06054b50);
    Put16(archive, 0);
    Put16(archive, 0);
    Put16(archive, static_cast<std::uint32_t>(entries.size()));
    Put16(archive, static_cast<std::uint32_t>(entries.size()));
    Put32(archive, static_cast<std::uint32_t>(central.size()));
    Put32(archive, centralOffset);
    Put16(archive, 0);
    return archive;
}

void WriteZip(const std::string& path, const std::vector<ZipEntry>& entries) {
    std::ofstream(path, std::ios::binary) << BuildZip(entries);
}

std::uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
    const auto date = static_cast<std::uint32_t>(((year - 1980) << 9) | (month << 5) | day);
    const auto time = static_cast<std::uint32_t>((hour << 11) | (minute << 5) | (second / 2));
    return date << 16 | time;
}

std::string ExtraBlock(const std::string& id, const std::string& data, std::optional<std::uint16_t> length) {
    std::string block = id;
    Put16(block, length.value_or(static_cast<std::uint16_t>(data.size())));
    return block + data;
}

std::string UnixTimeData(std::uint8_t flags, const std::vector<std::int32_t>& seconds) {
    std::string data(1, static_cast<char>(flags));
    for (std::int32_t value : seconds) {
        Put32(data, static_cast<std::uint32_t>(value));
    }
    return data;
}

ScopedCurrentFolder::ScopedCurrentFolder(const std::string& folder) {
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof buffer) == nullptr || ::chdir(folder.c_str()) != 0) {
        throw std::runtime_error("cannot change the current folder to " + folder);
    }
    previous_ = buffer;
}

ScopedCurrentFolder::~ScopedCurrentFolder() {
    if (::chdir(previous_.c_str()) != 0) {
        std::abort();
    }
}
