// 16-bit files carry 0..65535; the host's 16-bit scale is 0..32768. Both ways
// are exact integer round-to-nearest, so 0 <-> 0 and 65535 <-> 32768, every
// host value survives host -> file -> host, and file -> host -> file moves a
// value by at most one code (32769 host steps cannot hold 65536 file values).
#pragma once

#include <cstdint>

#include "cli/images/pixel_order.h"

namespace velvetshade {

// round(v * 32768 / 65535); no ties, since 65535 is odd.
constexpr std::uint16_t FileToHost16(std::uint16_t v) {
    return std::uint16_t((std::uint32_t(v) * 32768u + 32767u) / 65535u);
}

// round(h * 65535 / 32768), the one tie (h = 16384) going up; values past the
// host's maximum are clamped, a module should never write them.
constexpr std::uint16_t HostToFile16(std::uint16_t h) {
    if (h >= 32768) return 65535;
    return std::uint16_t((std::uint32_t(h) * 65535u + 16384u) / 32768u);
}

// Whole pixels at a time, for frames: a file pixel is R, G, B, A and a host
// pixel A, R, G, B, each four 16-bit lanes of a little-endian 64-bit word.
// On every file value FileToHost16(v) equals (v + 1) >> 1 (checked below),
// which works on all four lanes at once without a carry between them.
constexpr std::uint64_t FileToHostPixel16(std::uint64_t rgba) {
    const std::uint64_t host = ((rgba >> 1) & 0x7FFF7FFF7FFF7FFFu) + (rgba & 0x0001000100010001u);
    return RgbaToArgb(host);
}

// HostToFile16 on all four lanes, ARGB in and RGBA out. Below the host's
// maximum HostToFile16(h) equals 2h - (h > 16384) (checked below); a lane
// with the top bit set is past the maximum and saturates.
constexpr std::uint64_t HostToFilePixel16(std::uint64_t argb) {
    constexpr std::uint64_t kLaneOnes = 0x0001000100010001u;
    const std::uint64_t past_max = (argb >> 15) & kLaneOnes;
    const std::uint64_t low = argb & 0x7FFF7FFF7FFF7FFFu;
    const std::uint64_t above_half = ((low + 0x3FFF3FFF3FFF3FFFu) >> 15) & kLaneOnes;
    const std::uint64_t file = ((low << 1) - above_half) | past_max * 0xFFFF;
    return ArgbToRgba(file);
}

namespace detail {
constexpr bool DoublingMatchesHostToFile16() {
    for (std::uint64_t h = 0; h <= 65535; ++h) {
        const std::uint64_t want = HostToFile16(std::uint16_t(h));
        // h in each lane in turn, its neighbours at the extremes.
        if (HostToFilePixel16(h | 0xFFFF0000u) >> 48 != want) return false;
        if ((HostToFilePixel16(h << 16 | 0x8000u) & 0xFFFF) != want) return false;
        if ((HostToFilePixel16(h << 32 | 0xFFFF00000000FFFFu) >> 16 & 0xFFFF) != want) return false;
        if ((HostToFilePixel16(h << 48 | 0x4001u) >> 32 & 0xFFFF) != want) return false;
    }
    return true;
}
static_assert(DoublingMatchesHostToFile16());

constexpr bool HalvingMatchesFileToHost16() {
    for (std::uint32_t v = 0; v <= 65535; ++v) {
        if (FileToHost16(std::uint16_t(v)) != (v + 1) >> 1) return false;
    }
    return FileToHostPixel16(0xFFFF000100028001u) == 0x0001000140018000u;
}
}  // namespace detail
static_assert(detail::HalvingMatchesFileToHost16());

}  // namespace velvetshade
