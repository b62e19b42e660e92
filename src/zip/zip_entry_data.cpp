#include "zip/zip_entry_data.h"

#include <algorithm>

namespace {

constexpr unsigned kInputSize = 16384;

} // namespace

ZipEntryData::ZipEntryData(unzFile archive, const unz_file_info64& central)
    : archive_(archive), encrypted_((central.flag & 1) != 0),
      // The high byte of the CRC-32, or of the DOS time when the CRC follows the data.
      checkByte_(static_cast<unsigned char>((central.flag & 8) != 0 ? central.dosDate >> 8 : central.crc >> 24)),
      deflated_(central.compression_method == Z_DEFLATED), remaining_(central.uncompressed_size) {
    opened_ = unzOpenCurrentFile2(archive_, nullptr, nullptr, 1) == UNZ_OK;
    if (opened_ && deflated_) {
        inflating_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK;
        opened_ = inflating_;
        input_.resize(kInputSize);
    }
}

ZipEntryData::~ZipEntryData() {
    if (inflating_) {
        inflateEnd(&stream_);
    }
    unzCloseCurrentFile(archive_);
}

int ZipEntryData::Read(unsigned char* buffer, unsigned size) {
    if (!opened_) {
        return kFailed;
    }
    if (encrypted_ && !headerChecked_) {
        const int checked = CheckEncryptionHeader();
        if (checked != 0) {
            return checked;
        }
    }
    const auto wanted = static_cast<unsigned>(std::min<std::uint64_t>(size, remaining_));
    if (wanted == 0) {
        return 0;
    }
    const int got = deflated_ ? Inflate(buffer, wanted) : ReadStored(buffer, wanted);
    if (got > 0) {
        remaining_ -= static_cast<unsigned>(got);
    }
    return got;
}

int ZipEntryData::CheckEncryptionHeader() {
    unsigned char header[ZipDecryption::kHeaderSize];
    if (ReadStored(header, sizeof header) != static_cast<int>(sizeof header)) {
        opened_ = false;
        return kFailed;
    }
    if (header[sizeof header - 1] != checkByte_) {
        opened_ = false;
        return kBadPassword;
    }
    headerChecked_ = true;
    return 0;
}

int ZipEntryData::ReadStored(unsigned char* buffer, unsigned size) {
    const int got = unzReadCurrentFile(archive_, buffer, size);
    if (got < 0) {
        return kFailed;
    }
    if (encrypted_) {
        decryption_.Decrypt(buffer, static_cast<std::size_t>(got));
    }
    return got;
}

int ZipEntryData::Inflate(unsigned char* buffer, unsigned size) {
    stream_.next_out = buffer;
    stream_.avail_out = size;
    while (!streamEnded_) {
        // Output still pending inside zlib comes before new input is read.
        const int result = inflate(&stream_, Z_SYNC_FLUSH);
        if (result == Z_STREAM_END) {
            streamEnded_ = true;
        } else if (result != Z_OK && result != Z_BUF_ERROR) {
            return kFailed;
        } else if (stream_.avail_out == size && stream_.avail_in == 0) {
            const int got = ReadStored(input_.data(), kInputSize);
            if (got <= 0) {
                return got; // 0: the compressed data ended early
            }
            stream_.next_in = input_.data();
            stream_.avail_in = static_cast<uInt>(got);
        } else if (stream_.avail_out < size) {
            break;
        }
    }
    return static_cast<int>(size - stream_.avail_out);
}
