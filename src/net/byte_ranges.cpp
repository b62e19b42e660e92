#include "net/byte_ranges.h"

#include <algorithm>
#include <charconv>
#include <string_view>

void ByteRanges::Add(std::uint64_t first, std::uint64_t end) {
    if (first >= end) {
        return;
    }
    // The ranges that touch or overlap [first, end) are folded into it.
    auto begin = std::lower_bound(ranges_.begin(), ranges_.end(), first,
                                  [](const Range& r, std::uint64_t value) { return r.end < value; });
    auto stop = begin;
    while (stop != ranges_.end() && stop->first <= end) {
        first = std::min(first, stop->first);
        end = std::max(end, stop->end);
        ++stop;
    }
    const auto at = ranges_.erase(begin, stop);
    ranges_.insert(at, Range{first, end});
}

void ByteRanges::Add(const ByteRanges& other) {
    for (const Range& r : other.ranges_) {
        Add(r.first, r.end);
    }
}

std::optional<ByteRanges::Range> ByteRanges::FirstGap(std::uint64_t from, std::uint64_t size,
                                                      std::uint64_t most) const {
    std::uint64_t start = from;
    for (const Range& r : ranges_) {
        if (r.end <= start) {
            continue;
        }
        if (r.first > start) {
            break;
        }
        start = r.end;
    }
    if (start >= size || most == 0) {
        return std::nullopt;
    }
    std::uint64_t end = size;
    const auto next = std::find_if(ranges_.begin(), ranges_.end(), [start](const Range& r) { return r.first > start; });
    if (next != ranges_.end()) {
        end = std::min(end, next->first);
    }
    return Range{start, start + std::min(end - start, most)};
}

bool ByteRanges::Covers(std::uint64_t size) const {
    return size == 0 || (!ranges_.empty() && ranges_.front().first == 0 && ranges_.front().end >= size);
}

std::uint64_t ByteRanges::Total() const {
    std::uint64_t total = 0;
    for (const Range& r : ranges_) {
        total += r.end - r.first;
    }
    return total;
}

std::string ByteRanges::Format() const {
    std::string text;
    for (const Range& r : ranges_) {
        if (!text.empty()) {
            text += ' ';
        }
        text += std::to_string(r.first) + '-' + std::to_string(r.end);
    }
    return text;
}

std::optional<ByteRanges> ByteRanges::Parse(const std::string& text, std::uint64_t size) {
    ByteRanges parsed;
    const char* at = text.data();
    const char* const stop = text.data() + text.size();
    std::uint64_t lastEnd = 0;
    while (at != stop) {
        if (!parsed.ranges_.empty()) {
            if (*at != ' ') {
                return std::nullopt;
            }
            ++at;
        }
        Range r;
        auto [dash, error] = std::from_chars(at, stop, r.first);
        if (error != std::errc() || dash == stop || *dash != '-') {
            return std::nullopt;
        }
        auto [next, endError] = std::from_chars(dash + 1, stop, r.end);
        // Written sorted, apart and within the file: anything else is no record of ours.
        if (endError != std::errc() || r.first >= r.end || r.end > size ||
            (!parsed.ranges_.empty() && r.first <= lastEnd)) {
            return std::nullopt;
        }
        lastEnd = r.end;
        parsed.ranges_.push_back(r);
        at = next;
    }
    return parsed;
}
