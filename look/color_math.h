// Colour conversions of the look and the numeric primitives every stage shares.
// All of it is binary64 evaluated in the order written: outputs are truncated
// or rounded later, so a different last bit can change an output code.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

namespace look {

struct RgbColor {
    double red;    // 0..255 scale, not clamped
    double green;
    double blue;
};

struct HslColor {
    double hue;         // degrees, never wrapped: just above -60 up to 300
    double saturation;  // 0..1
    double lightness;   // 0..1
};

constexpr bool SignBit(double v) { return (std::bit_cast<std::uint64_t>(v) >> 63) != 0; }

// A NaN argument yields the other one; +0 beats -0.
constexpr double Maximum(double a, double b) {
    if (a != a) return b;
    if (b != b) return a;
    if (a == b) return SignBit(a) ? b : a;
    return a > b ? a : b;
}

// A NaN argument yields the other one; -0 beats +0.
constexpr double Minimum(double a, double b) {
    if (a != a) return b;
    if (b != b) return a;
    if (a == b) return SignBit(a) ? a : b;
    return a < b ? a : b;
}

// Halves go away from zero. Exact for every input: the fraction v - trunc(v)
// is representable, so 0.49999999999999994 stays 0 (adding 0.5 would give 1).
// NaN, infinities and numbers already integral come back unchanged.
constexpr double RoundHalfAway(double v) {
    if (!(v > -0x1p52 && v < 0x1p52)) return v;
    double whole = static_cast<double>(static_cast<std::int64_t>(v));
    const double fraction = v - whole;
    if (fraction >= 0.5) {
        whole += 1;
    } else if (fraction <= -0.5) {
        whole -= 1;
    }
    if (whole == 0) return SignBit(v) ? -0.0 : 0.0;
    return whole;
}

// Correctly rounded; a negative argument gives NaN.
inline double SquareRoot(double v) { return std::sqrt(v); }

HslColor RgbToHsl(double red, double green, double blue);
RgbColor HslToRgb(double hue, double saturation, double lightness);

// Blends each channel toward the mean of itself and a warm tint of the
// pixel's luma; amount 0 keeps the colour, 255 gives the full blend.
RgbColor VintageTint(double red, double green, double blue, double amount);

}  // namespace look
