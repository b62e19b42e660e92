#include "launcher/verified_files.h"

#include <sys/stat.h>

std::optional<FileStamp> StampOf(const std::string& path) {
    // A link is no file of the player's, whatever it points at.
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? StampOfStatus(st) : std::nullopt;
}

std::optional<FileStamp> StampOfStatus(const struct stat& st) {
    if (!S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return FileStamp{static_cast<std::uint64_t>(st.st_size), st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

std::optional<FileStamp> VerifiedFiles::Vouched::*VerifiedFiles::Slot(Proof proof) {
    return proof == Proof::Digest ? &Vouched::digest : &Vouched::transport;
}

void VerifiedFiles::Note(Proof proof, std::size_t index, const std::optional<FileStamp>& stamp) {
    std::lock_guard lock(lock_);
    files_[index].*Slot(proof) = stamp;
}

bool VerifiedFiles::Vouches(Proof proof, std::size_t index, const std::optional<FileStamp>& now) const {
    std::lock_guard lock(lock_);
    return now && files_[index].*Slot(proof) == now;
}
