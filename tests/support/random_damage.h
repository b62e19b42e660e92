#pragma once

#include <cstdint>
#include <random>
#include <string>

// Seeded random choices and the damage to bytes that the fuzz tests share.
class RandomDamage {
public:
    explicit RandomDamage(std::uint32_t seed) : random_(seed) {}

    // A number from 0 to bound - 1.
    std::size_t Pick(std::size_t bound) { return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random_); }

    // Flips one to eight bits.
    void FlipBits(std::string& bytes) {
        for (std::size_t n = 1 + Pick(8); n > 0; --n) {
            bytes[Pick(bytes.size())] ^= static_cast<char>(1u << Pick(8));
        }
    }

    // Overwrites one to `most` bytes with random ones.
    void OverwriteBytes(std::string& bytes, std::size_t most) {
        for (std::size_t n = 1 + Pick(most); n > 0; --n) {
            bytes[Pick(bytes.size())] = static_cast<char>(Pick(256));
        }
    }

private:
    std::mt19937 random_;
};
