// The per-pixel look: one body, instantiated for 8-bit and 16-bit pixels.
#pragma once

#include "entry/host_interface.h"

// refcon is a const LookParams*; a null refcon leaves the output pixel unwritten.
PF_Err LookPixel8(void* refcon, std::int32_t x, std::int32_t y, PF_Pixel8* in, PF_Pixel8* out);
PF_Err LookPixel16(void* refcon, std::int32_t x, std::int32_t y, PF_Pixel16* in,
                   PF_Pixel16* out);
