#pragma once

#include <cstdint>
#include <ioapi.h>
#include <string>

// The archive file, opened read-only, as minizip's reading layer. minizip reads through it, and the
// reader reads local extra fields and encryption headers at absolute offsets from the same file.
class ZipFileStream {
public:
    ZipFileStream() = default;
    ~ZipFileStream();
    ZipFileStream(const ZipFileStream&) = delete;
    ZipFileStream& operator=(const ZipFileStream&) = delete;

    bool Open(const char* fileName);
    // Exactly `size` bytes at `offset`; false on a short read or when the file cannot seek.
    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const;
    std::uint64_t Size() const;
    // Callbacks for unzOpen2_64, whose file name argument is ignored: they work on this open file.
    zlib_filefunc64_def Functions();

private:
    static voidpf OpenCallback(voidpf opaque, const void* fileName, int mode);
    static uLong ReadCallback(voidpf opaque, voidpf stream, void* buffer, uLong size);
    static uLong WriteCallback(voidpf opaque, voidpf stream, const void* buffer, uLong size);
    static ZPOS64_T TellCallback(voidpf opaque, voidpf stream);
    static long SeekCallback(voidpf opaque, voidpf stream, ZPOS64_T offset, int origin);
    static int CloseCallback(voidpf opaque, voidpf stream);
    static int ErrorCallback(voidpf opaque, voidpf stream);

    // Up to `size` bytes at `offset`; the count read.
    std::size_t ReadSome(std::uint64_t offset, void* buffer, std::size_t size) const;

    int fd_ = -1;
    std::uint64_t position_ = 0;
    bool failed_ = false;
};
