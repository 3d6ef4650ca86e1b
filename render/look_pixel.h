// The per-pixel look: one body, instantiated for 8-bit and 16-bit pixels.
#pragma once

#include "entry/host_interface.h"

// refcon is a const LookParams*; a null refcon leaves the output pixel unwritten.
PF_Err LookPixel8(void* refcon, std::int32_t x, std::int32_t y, PF_Pixel8* in, PF_Pixel8* out);
PF_Err LookPixel16(void* refcon, std::int32_t x, std::int32_t y, PF_Pixel16* in,
                   PF_Pixel16* out);

struct LookParams;
struct RgbColor;

// The stages between reading and writing a pixel, on working values (0..255
// scale, any depth): the finished, limited channels before truncation. Lets
// the exact binary64 results be checked, not only the truncated codes.
RgbColor LookWorkingValues(const LookParams& params, std::int32_t x, std::int32_t y, RgbColor in);
