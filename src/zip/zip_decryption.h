#pragma once

#include <cstddef>
#include <cstdint>

// Traditional PKWARE decryption under the empty password, applied to an entry's bytes in order:
// first the 12-byte encryption header, then the data.
class ZipDecryption {
public:
    static constexpr std::size_t kHeaderSize = 12;

    void Decrypt(unsigned char* bytes, std::size_t size);

private:
    void Update(unsigned char plain);

    // The empty password leaves the initial keys as they are.
    std::uint32_t keys_[3] = {0x12345678u, 0x23456789u, 0x34567890u};
};
