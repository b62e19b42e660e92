#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A set of bytes of a file as disjoint, sorted half-open ranges [first, end).
class ByteRanges {
public:
    struct Range {
        std::uint64_t first = 0;
        std::uint64_t end = 0;
        bool operator==(const Range&) const = default;
    };

    // Joins [first, end) to the set, merging what touches or overlaps it; an empty range adds nothing.
    void Add(std::uint64_t first, std::uint64_t end);
    // The whole set joined to this one.
    void Add(const ByteRanges& other);
    // The first bytes at or after `from` and before `size` that are not in the set, at most `most` of them.
    std::optional<Range> FirstGap(std::uint64_t from, std::uint64_t size, std::uint64_t most) const;
    // Whether every byte of [0, size) is in the set.
    bool Covers(std::uint64_t size) const;
    std::uint64_t Total() const;
    const std::vector<Range>& ranges() const { return ranges_; }

    // "first-end first-end ..." in decimal; empty for no bytes.
    std::string Format() const;
    // The set `Format` wrote, within [0, size); nothing for any other text.
    static std::optional<ByteRanges> Parse(const std::string& text, std::uint64_t size);

private:
    std::vector<Range> ranges_;
};
