#include "net/file_validator.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <sys/xattr.h>

namespace {

constexpr const char* kAttribute = "user.ostrel.validator";
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

bool StoreFileValidator(const std::string& path, const std::string& validator) {
    if (storeFails.load()) {
        errno = ENOTSUP;
        return false;
    }
    if (!FitForHeader(validator)) {
        errno = EINVAL;
        return false;
    }
    return ::setxattr(path.c_str(), kAttribute, validator.data(), validator.size(), 0) == 0;
}

std::optional<std::string> LoadFileValidator(const std::string& path) {
    std::string value(kMaxLength, '\0');
    const ssize_t length = ::getxattr(path.c_str(), kAttribute, value.data(), value.size());
    if (length < 0) {
        return std::nullopt; // none stored (ENODATA), no attributes here (ENOTSUP), or too long (ERANGE)
    }
    value.resize(static_cast<std::size_t>(length));
    if (!FitForHeader(value)) {
        return std::nullopt;
    }
    return value;
}

bool RemoveFileValidator(const std::string& path) {
    return ::removexattr(path.c_str(), kAttribute) == 0 || errno == ENODATA || errno == ENOTSUP;
}

void SetFileValidatorStoreFails(bool fail) {
    storeFails.store(fail);
}
