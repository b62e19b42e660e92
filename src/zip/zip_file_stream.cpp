#include "zip/zip_file_stream.h"

#include "base/fd_io.h"

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

ZipFileStream::~ZipFileStream() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool ZipFileStream::Open(const char* fileName) {
    fd_ = ::open(fileName, O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        return false;
    }
    struct stat status {};
    // Only a regular file can be read at offsets; a folder or a pipe is not an archive.
    return ::fstat(fd_, &status) == 0 && S_ISREG(status.st_mode);
}

std::size_t ZipFileStream::ReadSome(std::uint64_t offset, void* buffer, std::size_t size) const {
    return PreadAll(fd_, buffer, size, offset).done;
}

bool ZipFileStream::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const {
    return ReadSome(offset, buffer, size) == size;
}

std::uint64_t ZipFileStream::Size() const {
    struct stat status {};
    return ::fstat(fd_, &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
}

zlib_filefunc64_def ZipFileStream::Functions() {
    return {OpenCallback, ReadCallback, WriteCallback, TellCallback, SeekCallback, CloseCallback, ErrorCallback, this};
}

voidpf ZipFileStream::OpenCallback(voidpf opaque, const void*, int) {
    return opaque;
}

uLong ZipFileStream::ReadCallback(voidpf, voidpf stream, void* buffer, uLong size) {
    auto* self = static_cast<ZipFileStream*>(stream);
    const std::size_t got = self->ReadSome(self->position_, buffer, size);
    self->position_ += got;
    if (got < size) {
        self->failed_ = true;
    }
    return static_cast<uLong>(got);
}

uLong ZipFileStream::WriteCallback(voidpf, voidpf, const void*, uLong) {
    return 0;
}

ZPOS64_T ZipFileStream::TellCallback(voidpf, voidpf stream) {
    return static_cast<ZipFileStream*>(stream)->position_;
}

long ZipFileStream::SeekCallback(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* self = static_cast<ZipFileStream*>(stream);
    std::uint64_t base = 0;
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
        break;
    case ZLIB_FILEFUNC_SEEK_CUR:
        base = self->position_;
        break;
    case ZLIB_FILEFUNC_SEEK_END:
        base = self->Size();
        break;
    default:
        return -1;
    }
    self->position_ = base + offset;
    return 0;
}

int ZipFileStream::CloseCallback(voidpf, voidpf) {
    return 0;
} // the file closes with this object

int ZipFileStream::ErrorCallback(voidpf, voidpf stream) {
    return static_cast<ZipFileStream*>(stream)->failed_;
}
