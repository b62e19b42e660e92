#pragma once

#include <cstddef>

// Bytes compiled into the program when it was built (empty when the build carries none).
struct EmbeddedBytes {
    const unsigned char* data = nullptr; // followed by one NUL byte
    std::size_t size = 0;

    bool present() const { return data != nullptr; }
};

EmbeddedBytes EmbeddedConfig();
EmbeddedBytes EmbeddedSkin();
// The public keys (PEM) a configuration from outside the program must be signed with; none when the
// build asks for no signature.
EmbeddedBytes EmbeddedReleaseKeys();

// File name of the configuration compiled in; empty when there is none.
const char* EmbeddedConfigName();
