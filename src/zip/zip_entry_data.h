#pragma once

#include "zip/zip_decryption.h"

#include <cstdint>
#include <unzip.h>
#include <vector>
#include <zlib.h>

// The content of minizip's current entry. minizip delivers the entry's bytes as stored; decryption
// and inflating happen here, since the platform's minizip is built without decryption.
class ZipEntryData {
public:
    static constexpr int kBadPassword = -1;
    static constexpr int kFailed = -2;

    ZipEntryData(unzFile archive, const unz_file_info64& central);
    ~ZipEntryData();
    ZipEntryData(const ZipEntryData&) = delete;
    ZipEntryData& operator=(const ZipEntryData&) = delete;

    // Up to `size` bytes of content: their count, 0 when none came, kBadPassword when the encryption
    // header does not carry the check byte, kFailed when the data cannot be read or inflated.
    int Read(unsigned char* buffer, unsigned size);
    // Whether the entry's last byte has been delivered.
    bool AtEnd() const { return remaining_ == 0; }

private:
    int CheckEncryptionHeader();
    int ReadStored(unsigned char* buffer, unsigned size);
    int Inflate(unsigned char* buffer, unsigned size);

    unzFile archive_;
    bool opened_ = false;
    bool encrypted_ = false;
    bool headerChecked_ = false;
    unsigned char checkByte_ = 0;
    ZipDecryption decryption_;
    bool deflated_ = false;
    bool inflating_ = false;
    bool streamEnded_ = false;
    z_stream stream_{};
    std::vector<unsigned char> input_;
    std::uint64_t remaining_ = 0;
};
