#include "net/file_validator.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <sys/xattr.h>

namespace {

constexpr const char* kAttribute = "user.ostrel.validator";
constexpr const char* kOriginAttribute = "user.ostrel.origin";
constexpr const char* kSegmentsAttribute = "user.ostrel.segments";
// ETags and dates are short; a longer value would crowd the attribute space of the file's inode.
constexpr std::size_t kMaxLength = 1024;

std::atomic<bool> storeFails{false};

// Something a server would send in a header and can be sent back in one: no control characters.
bool FitForHeader(const std::string& value) {
    return !value.empty() && value.size() <= kMaxLength && std::none_of(value.begin(), value.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && byte != '\t') || byte == 0x7F;
    });
}

// Each stop of a file written in pieces may leave a few more gaps; a list of them stays far below this.
constexpr std::size_t kMaxSegmentsLength = 16 * 1024;

bool SetAttribute(const std::string& path, const char* name, const std::string& value) {
    if (storeFails.load()) {
        errno = ENOTSUP;
        return false;
    }
    return ::setxattr(path.c_str(), name, value.data(), value.size(), 0) == 0;
}

bool StoreAttribute(const std::string& path, const char* name, const std::string& value) {
    if (!FitForHeader(value)) {
        errno = EINVAL;
        return false;
    }
    return SetAttribute(path, name, value);
}

std::optional<std::string> GetAttribute(const std::string& path, const char* name, std::size_t most) {
    std::string value(most, '\0');
    const ssize_t length = ::getxattr(path.c_str(), name, value.data(), value.size());
    if (length < 0) {
        return std::nullopt; // none stored (ENODATA), no attributes here (ENOTSUP), or too long (ERANGE)
    }
    value.resize(static_cast<std::size_t>(length));
    return value;
}

std::optional<std::string> LoadAttribute(const std::string& path, const char* name) {
    std::optional<std::string> value = GetAttribute(path, name, kMaxLength);
    if (value && !FitForHeader(*value)) {
        return std::nullopt;
    }
    return value;
}

bool RemoveAttribute(const std::string& path, const char* name) {
    return ::removexattr(path.c_str(), name) == 0 || errno == ENODATA || errno == ENOTSUP;
}

} // namespace

std::optional<std::string> ChooseValidator(const std::string& etag, const std::string& lastModified) {
    if (etag.rfind("W/", 0) != 0 && FitForHeader(etag)) {
        return etag;
    }
    if (FitForHeader(lastModified)) {
        return lastModified;
    }
    return std::nullopt;
}

bool StoreFileValidator(const std::string& path, const std::string& validator, const std::string& origin) {
    return StoreAttribute(path, kAttribute, validator) && StoreAttribute(path, kOriginAttribute, origin);
}

std::optional<std::string> LoadFileValidator(const std::string& path) {
    return LoadAttribute(path, kAttribute);
}

std::optional<std::string> LoadFileOrigin(const std::string& path) {
    return LoadAttribute(path, kOriginAttribute);
}

bool RemoveFileValidator(const std::string& path) {
    const bool origin = RemoveAttribute(path, kOriginAttribute);
    return RemoveAttribute(path, kAttribute) && origin;
}

void SetFileValidatorStoreFails(bool fail) {
    storeFails.store(fail);
}

bool StoreFileSegments(const std::string& path, std::uint64_t size, const ByteRanges& written) {
    const std::string value = std::to_string(size) + ":" + written.Format();
    if (value.size() > kMaxSegmentsLength) {
        errno = E2BIG;
        return false;
    }
    return SetAttribute(path, kSegmentsAttribute, value);
}

std::optional<ByteRanges> LoadFileSegments(const std::string& path, std::uint64_t size) {
    const std::optional<std::string> value = GetAttribute(path, kSegmentsAttribute, kMaxSegmentsLength);
    const std::string prefix = std::to_string(size) + ":";
    if (!value || value->rfind(prefix, 0) != 0) {
        return std::nullopt;
    }
    return ByteRanges::Parse(value->substr(prefix.size()), size);
}

bool RemoveFileSegments(const std::string& path) {
    return RemoveAttribute(path, kSegmentsAttribute);
}

bool HasFileSegments(const std::string& path) {
    return ::getxattr(path.c_str(), kSegmentsAttribute, nullptr, 0) >= 0;
}
