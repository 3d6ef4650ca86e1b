// The per-pixel look: one body, instantiated for 8-bit and 16-bit pixels, in
// a plain form and in faster forms per instruction set with the same
// signatures and bit-identical results.
#pragma once

#include "api/host_interface.h"

namespace look {

class PreparedLook;
struct RgbColor;

// refcon is a const PreparedLook*; a null refcon leaves the output pixel
// unwritten. Every variant gives the same bits for every prepared look and
// pixel.

// The plain body: every stage as written. Reads only the settings of the
// prepared look.
PF_Err LookPixel8Plain(void* refcon, std::int32_t x, std::int32_t y, PF_Pixel8* in,
                       PF_Pixel8* out);
PF_Err LookPixel16Plain(void* refcon, std::int32_t x, std::int32_t y, PF_Pixel16* in,
                        PF_Pixel16* out);

// The SSE2 body, which every x86-64 processor runs, and the AVX2 body. They
// read what PrepareLook derived.
PF_Err LookPixel8Sse2(void* refcon, std::int32_t x, std::int32_t y, PF_Pixel8* in,
                      PF_Pixel8* out);
PF_Err LookPixel16Sse2(void* refcon, std::int32_t x, std::int32_t y, PF_Pixel16* in,
                       PF_Pixel16* out);
PF_Err LookPixel8Avx2(void* refcon, std::int32_t x, std::int32_t y, PF_Pixel8* in,
                      PF_Pixel8* out);
PF_Err LookPixel16Avx2(void* refcon, std::int32_t x, std::int32_t y, PF_Pixel16* in,
                       PF_Pixel16* out);

// The stages between reading and writing a pixel, on working values (0..255
// scale, any depth): the finished, limited channels before truncation. Lets
// the exact binary64 results be checked, not only the truncated codes.
RgbColor LookWorkingValues(const PreparedLook& look, std::int32_t x, std::int32_t y,
                           RgbColor in);
RgbColor LookWorkingValuesSse2(const PreparedLook& look, std::int32_t x, std::int32_t y,
                               RgbColor in);
RgbColor LookWorkingValuesAvx2(const PreparedLook& look, std::int32_t x, std::int32_t y,
                               RgbColor in);

}  // namespace look
