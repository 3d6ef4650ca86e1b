// Constants and compile-time proofs behind the fast bodies' shortcuts: each
// replaces an operation of the plain formulas with a cheaper one that gives
// the same bits, checked here for every value that can reach it.
#pragma once

#include <bit>
#include <cstdint>

namespace look::shortcuts {

inline constexpr double kOneThird = 1.0 / 3.0;
inline constexpr double kTwoThirds = 2.0 / 3.0;
// HslToRgb's test 2t < 1 is t < 0.5 (doubling is exact); 6t and 3t round,
// so those tests stay on the products.

// The largest double below 0.5. For v in 0..255, trunc(v + kBelowHalf) is
// LookupIndex(v): both count the half-integers k + 0.5 at or below v, and
// v + kBelowHalf is monotone in v, so it is enough that each k + 0.5 lands on
// k + 1 and the double just below it on k (checked for every k).
inline constexpr double kBelowHalf = 0.49999999999999994;

constexpr double Below(double v) {
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(v) - 1);
}

constexpr bool HalvesRoundAwayFromZero() {
    if (static_cast<int>(0 + kBelowHalf) != 0) return false;
    if (static_cast<int>(255 + kBelowHalf) != 255) return false;
    for (int k = 0; k < 255; ++k) {
        if (static_cast<int>(k + 0.5 + kBelowHalf) != k + 1) return false;
        if (static_cast<int>(Below(k + 0.5) + kBelowHalf) != k) return false;
    }
    return true;
}
static_assert(Below(0.5) == kBelowHalf);
static_assert(HalvesRoundAwayFromZero());

// With contrast +0 the stage is f(E) = (255 * E) / 255, a composition of
// correctly rounded operations by positive constants and so monotone in E.
// It keeps every half-integer k + 0.5 and keeps the double just below one
// below it (checked for every k), so LookupIndex(f(E)) = LookupIndex(E); and
// f(E) is NaN exactly when E is. Where nothing but the x-process index and
// NaN-ness of the channel is read afterwards, f need not be computed.
constexpr bool ContrastOffKeepsIndices() {
    for (int k = 0; k < 255; ++k) {
        const double half = k + 0.5;
        if (255 * half / 255 != half) return false;
        if (!(255 * Below(half) / 255 < half)) return false;
    }
    return 255 * 255.0 / 255 == 255;
}
static_assert(ContrastOffKeepsIndices());

// T * 255 / 255 gives T back for every table value, so a full x-process mix
// is the table value itself; likewise a whole working value is written as
// itself by ch / 255 * 255.
constexpr bool WholeValuesSurviveScaling() {
    for (int t = 0; t <= 255; ++t) {
        if (t * 255.0 / 255 != t) return false;
        if (t / 255.0 * 255 != t) return false;
    }
    return true;
}
static_assert(WholeValuesSurviveScaling());

// Codes of the whole working values 0..255 at 16 bits: ch / 255 * 32768,
// truncated, the plain body's division. A multiplication by 32768 / 255 gives
// the same integer parts: v * 32768 / 255 is an integer only at 0 and 255,
// which the product hits exactly, and lies at least 1/255 from one elsewhere,
// far beyond the product's rounding (checked for every v). It replaces a
// table read, which was the slowest step of a 16-bit pixel on processors
// with slow gathers.
inline constexpr double kWholeTo16 = 32768.0 / 255;
constexpr bool WholeCodes16Multiply() {
    for (int v = 0; v <= 255; ++v) {
        double s = v / 255.0 * 32768;
        if (s > 32768) s = 32768;
        if (static_cast<std::int32_t>(v * kWholeTo16) != static_cast<std::int32_t>(s)) return false;
    }
    return true;
}
static_assert(WholeCodes16Multiply());

}  // namespace look::shortcuts
