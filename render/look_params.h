// The per-render record handed to the per-pixel look functions as refcon.
#pragma once

#include <cstdint>

struct LookParams {
    double vignette_radius;      // 0..255: inner radius as a fraction of half_diagonal
    double vignette_amount;      // 0..255: darkening outside the inner radius
    double dodge;                // 0..255: brightening inside the inner radius
    double color;                // -127..127: signed strength of the colour cast
    std::int32_t color_type;     // 1 "Type1", 2 "Type2"
    double contrast;             // 0..255: soft-light curve mix
    double brightness;           // 0.1..1.9, 1 leaves the image unchanged
    double xprocess;             // 0..255: x-process table mix, also the vintage strength
    std::int32_t xprocess_type;  // 1..8
    std::int32_t lens_type;      // 1..4
    double half_diagonal;        // of the frame at the current render scale
    std::int32_t width;          // frame size at the current render scale
    std::int32_t height;
};
