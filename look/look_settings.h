// The look's settings as the host gives them, and the look prepared from them
// once per frame. The per-pixel functions take only the prepared look, so a
// record nobody prepared cannot reach them.
#pragma once

#include <cstdint>

namespace look {

// The ten parameter values and the frame at the current render scale.
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

// Stages and shortcuts that hold for the whole frame; bits of
// LookFrame::stages.
enum LookStage : std::uint32_t {
    LOOK_LENS_TABLE = 1u << 0,        // "F.Zuiko" or "Expired Film"
    LOOK_VINTAGE = 1u << 1,           // tint after the lens stage
    LOOK_CAST_SHIFT = 1u << 2,        // "Type1": one add of cast_shift
    LOOK_CAST_OVERLAY = 1u << 3,      // "Type2" with a colour other than 0
    LOOK_CONTRAST_OFF = 1u << 4,      // contrast is +0
    LOOK_BRIGHTNESS_TABLE = 1u << 5,  // brightness other than 1 (and not NaN)
    LOOK_XPROCESS_FULL = 1u << 6,     // xprocess is exactly 255
    LOOK_XPROCESS_OFF = 1u << 7,      // xprocess is +0
    LOOK_WARM_LENS = 1u << 8,
    LOOK_BLACK_WHITE = 1u << 9,
    LOOK_E6C41 = 1u << 10,
    LOOK_WHOLE_BEFORE_FINAL = 1u << 11,  // channels are table integers (or NaN) before the finish
    LOOK_XPROCESS_UNITS = 1u << 12,      // xprocess_terms hold T / 255 for "E6C41"
    LOOK_GEOMETRY_FINITE = 1u << 13,     // the vignette ratio and dodge weight are always finite
    LOOK_OFFSET_NONNEGATIVE = 1u << 14,  // the vignette offset is never below 0
    LOOK_CAST_ZERO_SHIFT = 1u << 15,     // "Type1" with a colour of 0: nothing leaves 0..255
    LOOK_CAST_NONNEGATIVE = 1u << 16,    // "Type2" with |colour| <= 127: nothing falls below 0
    LOOK_CAST_QUOTIENT_NORMAL = 1u << 17,  // the overlay's product / 255 is 0, NaN or normal
    LOOK_CAST_TABLE = 1u << 18,  // cast_values holds the cast of each input level
    LOOK_VINTAGE_TERMS = 1u << 19,  // vintage_terms holds (255 - A) * x / 255 of each level
    LOOK_NAN_FREE = 1u << 20,       // no NaN can reach the full x-process mix
};

// What depends only on the settings, computed with the very operations the
// pixel formulas use, so each value is the one a formula would give per pixel.
struct LookFrame {
    std::uint32_t stages;          // LookStage bits
    std::int32_t xprocess_index;   // pop-up clamped to 0..7
    std::int32_t lens_index;       // pop-up clamped to 0..3
    double centre_x;               // width * 0.5
    double centre_y;               // height * 0.5
    double inner_radius;           // vignette_radius / 255 * half_diagonal, floored at 1e-7
    double outer_span;             // half_diagonal - inner_radius
    double offset_cap;             // vignette_amount / 6
    double cast_shift[4];          // "Type1": -0, color / 12, -(color * 0.25), 0
    double cast_blend[4];          // "Type2": blend constants for the sign of color
    double cast_amount;            // |color|
    double cast_rest;              // 127 - |color|
    double contrast_rest;          // 255 - contrast
    double brightness_k;           // brightness - 1 or 1 - brightness
    double brightness_rest;        // 0.9 - k
    double xprocess_rest;          // 255 - xprocess
    std::int32_t brightness_table; // 0 BrightenTable, 1 DarkenTable

    // Indexed [channel][LookupIndex]: the table reads together with the
    // frame-wide products and quotients that follow them. Only the tables
    // the stages use are filled; the others stay zero.
    double lens_values[3][256];     // the lens table's components
    double brightness_terms[256];   // T * k / 0.9 for each brightness-table entry
    double xprocess_terms[3][256];  // T * xprocess / 255, or T / 255 with LOOK_XPROCESS_UNITS
    // The limited "Type2" cast of each channel's input level (the byte, or
    // the lens value at that index) where no vignette offset applies.
    double cast_values[3][256];
    // The vintage tint's second term (255 - A) * x / 255 of each channel's
    // input level x (the byte, or the lens value at that index).
    double vintage_terms[3][256];
};

class PreparedLook;
PreparedLook PrepareLook(const LookParams& settings);

// The settings and what was prepared from them, read-only. About 26 KB: the
// render driver keeps it on its stack for the frame.
class PreparedLook {
public:
    const LookParams& settings() const { return settings_; }
    const LookFrame& frame() const { return frame_; }

private:
    PreparedLook() = default;
    friend PreparedLook PrepareLook(const LookParams& settings);

    LookParams settings_;
    LookFrame frame_;
};

}  // namespace look
