// The per-pixel look: one body, instantiated for 8-bit and 16-bit pixels, in
// a plain form and in faster forms per instruction set with the same
// signatures and bit-identical results.
#pragma once

#include <cstdint>
#include <type_traits>

#include "look/look_pixels.h"

namespace look {

class PreparedLook;
struct RgbColor;

// One pixel at (x, y). A null look leaves the output pixel unwritten; in may
// be out. Every variant gives the same bits for every prepared look and
// pixel.
using PixelFunction8 = void (*)(const PreparedLook* look, std::int32_t x, std::int32_t y,
                                const Pixel8* in, Pixel8* out);
using PixelFunction16 = void (*)(const PreparedLook* look, std::int32_t x, std::int32_t y,
                                 const Pixel16* in, Pixel16* out);

// The plain body: every stage as written. Reads only the settings of the
// prepared look.
void LookPixel8Plain(const PreparedLook* look, std::int32_t x, std::int32_t y, const Pixel8* in,
                     Pixel8* out);
void LookPixel16Plain(const PreparedLook* look, std::int32_t x, std::int32_t y,
                      const Pixel16* in, Pixel16* out);

// The SSE2 body, which every x86-64 processor runs, and the AVX2 body. They
// read what PrepareLook derived.
void LookPixel8Sse2(const PreparedLook* look, std::int32_t x, std::int32_t y, const Pixel8* in,
                    Pixel8* out);
void LookPixel16Sse2(const PreparedLook* look, std::int32_t x, std::int32_t y,
                     const Pixel16* in, Pixel16* out);
void LookPixel8Avx2(const PreparedLook* look, std::int32_t x, std::int32_t y, const Pixel8* in,
                    Pixel8* out);
void LookPixel16Avx2(const PreparedLook* look, std::int32_t x, std::int32_t y,
                     const Pixel16* in, Pixel16* out);

// The stages between reading and writing a pixel, on working values (0..255
// scale, any depth): the finished, limited channels before truncation. Lets
// the exact binary64 results be checked, not only the truncated codes.
using WorkingValuesFunction = RgbColor (*)(const PreparedLook& look, std::int32_t x,
                                           std::int32_t y, RgbColor in);
RgbColor LookWorkingValues(const PreparedLook& look, std::int32_t x, std::int32_t y,
                           RgbColor in);
RgbColor LookWorkingValuesSse2(const PreparedLook& look, std::int32_t x, std::int32_t y,
                               RgbColor in);
RgbColor LookWorkingValuesAvx2(const PreparedLook& look, std::int32_t x, std::int32_t y,
                               RgbColor in);

// The plain body on another library's pixel record with the same four
// fields (a host's, say), copied field by field: for references computed
// beside code that holds such records.
template <typename Record>
    requires(!std::is_same_v<Record, Pixel8> && sizeof(Record{}.red) == 1)
void LookPixel8Plain(const PreparedLook* look, std::int32_t x, std::int32_t y, const Record* in,
                     Record* out) {
    if (look == nullptr) return;
    const Pixel8 from{in->alpha, in->red, in->green, in->blue};
    Pixel8 to{};
    LookPixel8Plain(look, x, y, &from, &to);
    out->alpha = to.alpha;
    out->red = to.red;
    out->green = to.green;
    out->blue = to.blue;
}

template <typename Record>
    requires(!std::is_same_v<Record, Pixel16> && sizeof(Record{}.red) == 2)
void LookPixel16Plain(const PreparedLook* look, std::int32_t x, std::int32_t y,
                      const Record* in, Record* out) {
    if (look == nullptr) return;
    const Pixel16 from{in->alpha, in->red, in->green, in->blue};
    Pixel16 to{};
    LookPixel16Plain(look, x, y, &from, &to);
    out->alpha = to.alpha;
    out->red = to.red;
    out->green = to.green;
    out->blue = to.blue;
}

}  // namespace look
