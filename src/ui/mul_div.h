#pragma once

#include <cstdint>
#include <limits>

// number × numerator / denominator with a 64-bit intermediate, rounded to the nearest integer with
// halves away from zero; -1 when the denominator is 0 or the result does not fit an int.
constexpr int MulDiv(int number, int numerator, int denominator) {
    if (denominator == 0) {
        return -1;
    }
    const std::int64_t product = static_cast<std::int64_t>(number) * numerator;
    const std::int64_t divisor = denominator;
    const bool negative = (product < 0) != (divisor < 0);
    const std::int64_t absProduct = product < 0 ? -product : product;
    const std::int64_t absDivisor = divisor < 0 ? -divisor : divisor;
    const std::int64_t quotient = (absProduct + absDivisor / 2) / absDivisor;
    if (quotient > std::numeric_limits<int>::max()) {
        return -1;
    }
    return static_cast<int>(negative ? -quotient : quotient);
}
