// The look's pixels: alpha, red, green and blue, each channel one unsigned
// value, in that order and with no padding, which is also how effect hosts
// lay out theirs; a host's rows can then be handed over as they are.
#pragma once

#include <cstddef>
#include <cstdint>

namespace look {

// 0..255 per channel.
struct Pixel8 {
    std::uint8_t alpha;
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
};

// 0..32768 per channel: full scale is 32768, not 65535; larger values count
// as full scale.
struct Pixel16 {
    std::uint16_t alpha;
    std::uint16_t red;
    std::uint16_t green;
    std::uint16_t blue;
};

// The byte order of RGBA8888 frames (frei0r, most image files).
struct RgbaPixel8 {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
    std::uint8_t alpha;
};

static_assert(sizeof(Pixel8) == 4 && offsetof(Pixel8, alpha) == 0 && offsetof(Pixel8, red) == 1 &&
              offsetof(Pixel8, green) == 2 && offsetof(Pixel8, blue) == 3);
static_assert(sizeof(Pixel16) == 8 && offsetof(Pixel16, alpha) == 0 &&
              offsetof(Pixel16, red) == 2 && offsetof(Pixel16, green) == 4 &&
              offsetof(Pixel16, blue) == 6);
static_assert(sizeof(RgbaPixel8) == 4 && offsetof(RgbaPixel8, red) == 0 &&
              offsetof(RgbaPixel8, alpha) == 3);

}  // namespace look
