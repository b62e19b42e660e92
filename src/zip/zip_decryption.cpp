#include "zip/zip_decryption.h"

#include <zlib.h>

namespace {

std::uint32_t Crc(std::uint32_t crc, unsigned char byte) {
    return static_cast<std::uint32_t>(get_crc_table()[(crc ^ byte) & 0xFF]) ^ (crc >> 8);
}

} // namespace

void ZipDecryption::Decrypt(unsigned char* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint32_t temp = (keys_[2] & 0xFFFF) | 2;
        bytes[i] = static_cast<unsigned char>(bytes[i] ^ (((temp * (temp ^ 1)) >> 8) & 0xFF));
        Update(bytes[i]);
    }
}

void ZipDecryption::Update(unsigned char plain) {
    keys_[0] = Crc(keys_[0], plain);
    keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
    keys_[2] = Crc(keys_[2], static_cast<unsigned char>(keys_[1] >> 24));
}
