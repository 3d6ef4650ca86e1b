// The look over a run of pixels along one row. Every body gives the plain
// per-pixel body's bits for every pixel; the fast ones hold several pixels
// in the vector lanes, one register per channel, so the chains of divisions
// and square roots of neighbouring pixels overlap.
#pragma once

#include <cstdint>

#include "look/look_pixels.h"
#include "look/look_variants.h"

namespace look {

class PreparedLook;
struct RgbColor;

// Renders `count` pixels of row y from column x0: in[i] is the pixel at
// (x0 + i, y) and out[i] receives it. in and out are the same row or do not
// overlap. A count below 1 writes nothing; columns past INT32_MAX are left
// unwritten.
using SpanFunction8 = void (*)(const PreparedLook& look, std::int32_t x0, std::int32_t y,
                               const Pixel8* in, Pixel8* out, std::int32_t count);
using SpanFunction16 = void (*)(const PreparedLook& look, std::int32_t x0, std::int32_t y,
                                const Pixel16* in, Pixel16* out, std::int32_t count);
// RGBA8888 rows, the same look as for Pixel8.
using SpanFunctionRgba8 = void (*)(const PreparedLook& look, std::int32_t x0, std::int32_t y,
                                   const RgbaPixel8* in, RgbaPixel8* out, std::int32_t count);

struct SpanKernels {
    SpanFunction8 span8;
    SpanFunction16 span16;
    SpanFunctionRgba8 rgba8;
};

// The reference: the plain per-pixel body, pixel after pixel.
void LookSpan8Plain(const PreparedLook& look, std::int32_t x0, std::int32_t y, const Pixel8* in,
                    Pixel8* out, std::int32_t count);
void LookSpan16Plain(const PreparedLook& look, std::int32_t x0, std::int32_t y,
                     const Pixel16* in, Pixel16* out, std::int32_t count);
void LookSpanRgba8Plain(const PreparedLook& look, std::int32_t x0, std::int32_t y,
                        const RgbaPixel8* in, RgbaPixel8* out, std::int32_t count);

// Two pixels per register.
void LookSpan8Sse2(const PreparedLook& look, std::int32_t x0, std::int32_t y, const Pixel8* in,
                   Pixel8* out, std::int32_t count);
void LookSpan16Sse2(const PreparedLook& look, std::int32_t x0, std::int32_t y, const Pixel16* in,
                    Pixel16* out, std::int32_t count);
void LookSpanRgba8Sse2(const PreparedLook& look, std::int32_t x0, std::int32_t y,
                       const RgbaPixel8* in, RgbaPixel8* out, std::int32_t count);

// Four pixels per register.
void LookSpan8Avx2(const PreparedLook& look, std::int32_t x0, std::int32_t y, const Pixel8* in,
                   Pixel8* out, std::int32_t count);
void LookSpan16Avx2(const PreparedLook& look, std::int32_t x0, std::int32_t y, const Pixel16* in,
                    Pixel16* out, std::int32_t count);
void LookSpanRgba8Avx2(const PreparedLook& look, std::int32_t x0, std::int32_t y,
                       const RgbaPixel8* in, RgbaPixel8* out, std::int32_t count);

// The finished, limited working values (0..255 scale) each pixel ends with,
// instead of its codes: the same path, so the exact binary64 results can be
// checked against LookWorkingValues, not only the truncated codes.
using SpanValuesFunction8 = void (*)(const PreparedLook& look, std::int32_t x0, std::int32_t y,
                                     const Pixel8* in, RgbColor* out, std::int32_t count);
using SpanValuesFunction16 = void (*)(const PreparedLook& look, std::int32_t x0, std::int32_t y,
                                      const Pixel16* in, RgbColor* out, std::int32_t count);
void LookSpanValues8Sse2(const PreparedLook& look, std::int32_t x0, std::int32_t y,
                         const Pixel8* in, RgbColor* out, std::int32_t count);
void LookSpanValues16Sse2(const PreparedLook& look, std::int32_t x0, std::int32_t y,
                          const Pixel16* in, RgbColor* out, std::int32_t count);
void LookSpanValues8Avx2(const PreparedLook& look, std::int32_t x0, std::int32_t y,
                         const Pixel8* in, RgbColor* out, std::int32_t count);
void LookSpanValues16Avx2(const PreparedLook& look, std::int32_t x0, std::int32_t y,
                          const Pixel16* in, RgbColor* out, std::int32_t count);

struct SpanValueKernels {
    SpanValuesFunction8 values8;
    SpanValuesFunction16 values16;
};
// Null functions for the plain variant, whose reference is LookWorkingValues.
SpanValueKernels SpanValueKernelsFor(LookVariant variant);

// The variant's span functions; one the processor cannot run gives the SSE2
// ones. Ask once per frame.
SpanKernels SpanKernelsFor(LookVariant variant);
SpanKernels FastestSpanKernels();

}  // namespace look
