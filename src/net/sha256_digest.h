#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// SHA-256 of the bytes of a file as they stream past, so that a download is checked without reading
// it back. OpenSSL computes it: a hand-written hash is one more thing to get wrong, and its EVP code
// uses the processor's SHA instructions.
using Sha256Bytes = std::array<std::uint8_t, 32>;

struct evp_md_ctx_st; // OpenSSL's EVP_MD_CTX

class Sha256Digest {
public:
    Sha256Digest();
    ~Sha256Digest();
    Sha256Digest(const Sha256Digest&) = delete;
    Sha256Digest& operator=(const Sha256Digest&) = delete;

    void Update(const void* data, std::size_t size);
    // The digest of everything since the start or the last Reset; the object then starts afresh.
    Sha256Bytes Final();
    // Forgets the bytes so far, as when a file is written again from its first byte.
    void Reset();

private:
    evp_md_ctx_st* context_;
};

// Lowercase, 64 characters.
std::string Sha256Hex(const Sha256Bytes& digest);

// A configured digest: exactly 64 hexadecimal digits in any letter case; anything else gives nothing.
std::optional<Sha256Bytes> ParseSha256(std::string_view text);

// Adds the first `length` bytes of the file at `path` to `digest`, as when a partial file is continued.
// False when the file cannot be read or is shorter, or when `cancelled` (asked between reads, so a
// stop is seen within a fraction of a second) says to give up; `digest` then holds an unusable part.
bool HashFilePrefix(const std::string& path, std::uint64_t length, Sha256Digest& digest,
                    const std::function<bool()>& cancelled = {});
// The same for the `length` bytes from `offset` on, the next part of a file hashed in order.
bool HashFilePart(const std::string& path, std::uint64_t offset, std::uint64_t length, Sha256Digest& digest,
                  const std::function<bool()>& cancelled = {});
