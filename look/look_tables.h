// The look's constant tone curves, 256 entries each, read-only compile-time
// data shared by the 8-bit and 16-bit pixels (16-bit channels arrive on the
// 0..255 scale). An entry is found by its index alone.
#pragma once

#include <array>
#include <cstdint>

namespace look {

struct CurveEntry {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
    std::uint8_t pad;  // always 0, never read
};
static_assert(sizeof(CurveEntry) == 4);

using CurveTable = std::array<CurveEntry, 256>;
using IntCurve = std::array<std::int32_t, 256>;

// Indexed by x-process pop-up value - 1: "Type1", "Type2", "Type3", "Type4",
// "Type5", "E6C41", "BW", "Vintage".
extern const std::array<CurveTable, 8> XProcessTable;
// Indexed by lens pop-up value - 2: "F.Zuiko", "Expired Film".
extern const std::array<CurveTable, 2> LensTable;
// Red, green and blue are equal; only red is read.
extern const CurveTable BrightenTable;
extern const CurveTable DarkenTable;
// Red, green and blue arrays; every value lies within 0..255.
extern const std::array<IntCurve, 3> WarmLensTable;

// Limits a channel value to 0..255 and rounds halves away from zero. NaN
// slips past both clamps of the rule, so it is sent to entry 0: no read ever
// leaves a table.
constexpr int LookupIndex(double value) {
    if (value > 255) {
        value = 255;
    } else if (!(value >= 0)) {
        value = 0;
    }
    // For 0..255 this equals RoundHalfAway: value - whole is exact.
    const int whole = static_cast<int>(value);
    return whole + (value - whole >= 0.5 ? 1 : 0);
}

}  // namespace look
