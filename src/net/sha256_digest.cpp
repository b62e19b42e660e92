#include "net/sha256_digest.h"

#include "base/fd_io.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <new>
#include <unistd.h>

namespace {

// Large enough that a read costs little beside hashing it, small enough to stay in the cache.
constexpr std::size_t kReadSize = 256 * 1024;

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

Sha256Digest::Sha256Digest() : context_(EVP_MD_CTX_new()) {
    if (context_ == nullptr) {
        throw std::bad_alloc();
    }
    Reset();
}

Sha256Digest::~Sha256Digest() {
    EVP_MD_CTX_free(context_);
}

void Sha256Digest::Update(const void* data, std::size_t size) {
    EVP_DigestUpdate(context_, data, size);
}

Sha256Bytes Sha256Digest::Final() {
    Sha256Bytes digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_, digest.data(), &length);
    Reset();
    return digest;
}

void Sha256Digest::Reset() {
    // SHA-256 from the default provider cannot fail to start; only a context without memory could.
    if (EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1) {
        throw std::bad_alloc();
    }
}

std::string Sha256Hex(const Sha256Bytes& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(digest.size() * 2);
    for (const std::uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

std::optional<Sha256Bytes> ParseSha256(std::string_view text) {
    Sha256Bytes digest{};
    if (text.size() != digest.size() * 2) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const int high = HexValue(text[2 * i]);
        const int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        digest[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return digest;
}

bool HashFilePrefix(const std::string& path, std::uint64_t length, Sha256Digest& digest,
                    const std::function<bool()>& cancelled) {
    return HashFilePart(path, 0, length, digest, cancelled);
}

bool HashFilePart(const std::string& path, std::uint64_t offset, std::uint64_t length, Sha256Digest& digest,
                  const std::function<bool()>& cancelled) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const auto start = static_cast<off_t>(offset);
    if (::lseek(fd, start, SEEK_SET) != start) {
        ::close(fd);
        return false;
    }
    ::posix_fadvise(fd, start, 0, POSIX_FADV_SEQUENTIAL);
    const std::unique_ptr<char[]> buffer(new char[kReadSize]);
    std::uint64_t left = length;
    while (left > 0) {
        if (cancelled && cancelled()) {
            break;
        }
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, kReadSize));
        const FdIoResult got = ReadAll(fd, buffer.get(), want);
        digest.Update(buffer.get(), got.done);
        left -= got.done;
        if (got.done < want) {
            break; // unreadable, or shorter than `length`
        }
    }
    ::close(fd);
    return left == 0;
}
