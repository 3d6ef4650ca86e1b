// The pixel layouts the span bodies read and write: where each channel sits
// and how one pixel goes through the plain body. Internal to the look.
#pragma once

#include <cstdint>

#include "look/color_math.h"
#include "look/look_pixel.h"
#include "look/look_pixels.h"

namespace look::span_formats {

// Channel positions in units of the channel's width.
struct Argb8 {
    using Pixel = Pixel8;
    static constexpr int kMax = 255;
    static constexpr int kAlpha = 0, kRed = 1, kGreen = 2, kBlue = 3;
    // A byte's working value is the byte itself.
    static RgbColor Working(const Pixel& px) { return {double(px.red), double(px.green), double(px.blue)}; }
    static void Plain(const PreparedLook& look, std::int32_t x, std::int32_t y, const Pixel* in,
                      Pixel* out) {
        LookPixel8Plain(&look, x, y, in, out);
    }
};

struct Rgba8 {
    using Pixel = RgbaPixel8;
    static constexpr int kMax = 255;
    static constexpr int kAlpha = 3, kRed = 0, kGreen = 1, kBlue = 2;
    static RgbColor Working(const Pixel& px) { return {double(px.red), double(px.green), double(px.blue)}; }
    static void Plain(const PreparedLook& look, std::int32_t x, std::int32_t y, const Pixel* in,
                      Pixel* out) {
        const Pixel8 from{in->alpha, in->red, in->green, in->blue};
        Pixel8 to{};
        LookPixel8Plain(&look, x, y, &from, &to);
        *out = {to.red, to.green, to.blue, to.alpha};
    }
};

struct Argb16 {
    using Pixel = Pixel16;
    static constexpr int kMax = 32768;
    static constexpr int kAlpha = 0, kRed = 1, kGreen = 2, kBlue = 3;
    // As the plain body reads a 16-bit channel.
    static RgbColor Working(const Pixel& px) {
        return {px.red / 32768.0 * 255, px.green / 32768.0 * 255, px.blue / 32768.0 * 255};
    }
    static void Plain(const PreparedLook& look, std::int32_t x, std::int32_t y, const Pixel* in,
                      Pixel* out) {
        LookPixel16Plain(&look, x, y, in, out);
    }
};

// The pixels of a run that have a column: the last is at most INT32_MAX.
constexpr std::int32_t ColumnsFrom(std::int32_t x0, std::int32_t count) {
    if (count <= 0) return 0;
    const std::int64_t room = std::int64_t{INT32_MAX} - x0 + 1;
    return count < room ? count : static_cast<std::int32_t>(room);
}

}  // namespace look::span_formats
