// Everything in the look that depends only on the frame, computed once per
// frame with the operations the pixel formulas use, so the fast pixel
// paths read exactly the values the formulas would produce per pixel.
#include <cmath>

#include "look/color_math.h"
#include "look/look_settings.h"
#include "look/look_stages.h"
#include "look/look_tables.h"

namespace look {

namespace {

// "Type2" cast: blend constants toward the cool colour (color > 0) and the
// warm one (otherwise).
constexpr double kCoolBlend[3] = {2, 101, 160};
constexpr double kWarmBlend[3] = {108, 59, 24};

// +0 exactly: the shortcuts that rely on a zero factor need its sign too.
bool IsPositiveZero(double v) { return v == 0 && !SignBit(v); }

int Component(const CurveEntry& e, int channel) {
    return channel == 0 ? e.red : channel == 1 ? e.green : e.blue;
}

// The vignette ratio (D - A) / (half_diagonal - A) and the dodge weight are
// finite for every pixel position a 32-bit coordinate can name (D below
// 5e9) when A is at most 1e100 (it is at least 1e-7), |half_diagonal - A|
// and half_diagonal are at least 1 and |dodge| is at most 1e100: then the
// guards against non-finite values never fire. NaN fails every test here.
// With |vignette_amount| at most 1e100 too, both weights stay below 1e220,
// so doubling them stays finite.
bool GeometryIsFinite(const LookParams& in, const LookFrame& p) {
    return p.inner_radius <= 1e100 && std::fabs(p.outer_span) >= 1 && in.half_diagonal >= 1 &&
           std::fabs(in.dodge) <= 1e100 && std::fabs(in.vignette_amount) <= 1e100;
}

// With the geometry finite and every setting finite and at most 1e6 in
// size, every value before the full x-process mix is finite: channels are
// 0..255 before each stage (at most 510 read from 16-bit codes), and the
// tint, cast, contrast and brightness multiply them by settings and
// constants and divide by constants; the burn weight is Q^2 A with
// |Q| <= 1e10 (distances within 2^33, |half_diagonal - inner| >= 1), the
// dodge weight gap^2 / half_diagonal / inner * dodge with gap <= inner <=
// 4e9, half_diagonal >= 1 and inner >= 1e-7: all below 1e40, so no product
// overflows and no NaN (inf - inf, 0 * inf) arises.
bool NothingBecomesNaN(const LookParams& in, std::uint32_t stages) {
    if ((stages & LOOK_GEOMETRY_FINITE) == 0) return false;
    const double values[] = {in.vignette_radius, in.vignette_amount, in.dodge,
                             in.color,           in.contrast,        in.brightness,
                             in.xprocess,        in.half_diagonal};
    for (double v : values) {
        if (!(std::fabs(v) <= 1e6)) return false;
    }
    return true;
}

}  // namespace

PreparedLook PrepareLook(const LookParams& settings) {
    // Zero-filled, so the tables the stages leave out hold no stack garbage.
    PreparedLook prepared{};
    prepared.settings_ = settings;
    const LookParams& in = prepared.settings_;
    LookFrame& p = prepared.frame_;

    // Pop-up values outside their lists act as the nearest item; clamping
    // before subtracting keeps INT_MIN from overflowing.
    const int u = in.xprocess_type < 1 ? 0 : in.xprocess_type > 8 ? 7 : in.xprocess_type - 1;
    const int n = in.lens_type < 1 ? 0 : in.lens_type > 4 ? 3 : in.lens_type - 1;
    const bool overlay = in.color_type > 1;
    p.xprocess_index = u;
    p.lens_index = n;

    p.centre_x = in.width * 0.5;
    p.centre_y = in.height * 0.5;
    double inner = in.vignette_radius / 255 * in.half_diagonal;
    if (inner <= 0.00001) inner = 0.0000001;
    p.inner_radius = inner;
    p.outer_span = in.half_diagonal - inner;
    p.offset_cap = in.vignette_amount / 6;

    // Red is left alone: adding -0 is an exact identity. Blue's subtraction
    // is the addition of the negated product, exactly.
    p.cast_shift[0] = -0.0;
    p.cast_shift[1] = in.color / 12;
    p.cast_shift[2] = -(in.color * 0.25);
    p.cast_shift[3] = 0;
    for (int c = 0; c < 3; ++c) p.cast_blend[c] = in.color > 0 ? kCoolBlend[c] : kWarmBlend[c];
    p.cast_blend[3] = 0;
    p.cast_amount = std::fabs(in.color);
    p.cast_rest = 127 - p.cast_amount;
    p.contrast_rest = 255 - in.contrast;

    p.brightness_k = 0;
    p.brightness_table = 0;
    if (in.brightness > 1) {
        p.brightness_k = in.brightness - 1;
    } else if (in.brightness < 1) {
        p.brightness_k = 1 - in.brightness;
        p.brightness_table = 1;
    }
    p.brightness_rest = 0.9 - p.brightness_k;
    p.xprocess_rest = 255 - in.xprocess;

    std::uint32_t s = 0;
    if (n == 1 || n == 2) s |= LOOK_LENS_TABLE;
    if (u == 7) s |= LOOK_VINTAGE;
    if (!overlay) s |= LOOK_CAST_SHIFT;
    // "Type2" with a colour of 0 leaves the channel alone; NaN is not 0.
    if (overlay && in.color != 0) s |= LOOK_CAST_OVERLAY;
    if (IsPositiveZero(in.contrast)) s |= LOOK_CONTRAST_OFF;
    if (in.brightness > 1 || in.brightness < 1) s |= LOOK_BRIGHTNESS_TABLE;
    if (in.xprocess == 255) s |= LOOK_XPROCESS_FULL;
    if (IsPositiveZero(in.xprocess)) s |= LOOK_XPROCESS_OFF;
    if (n == 3) s |= LOOK_WARM_LENS;
    if (u == 6) s |= LOOK_BLACK_WHITE;
    if (u == 5) s |= LOOK_E6C41;
    if ((s & (LOOK_XPROCESS_FULL | LOOK_WARM_LENS)) != 0) s |= LOOK_WHOLE_BEFORE_FINAL;
    // After a full mix the channel is T (or NaN) and, without the warm lens,
    // meets nothing but "E6C41", which first divides it by 255.
    const bool units = (s & LOOK_XPROCESS_FULL) && u == 5 && n != 3;
    if (units) s |= LOOK_XPROCESS_UNITS;
    if (GeometryIsFinite(in, p)) s |= LOOK_GEOMETRY_FINITE;
    // The offset is cap above cap and else at least 0 (or NaN), so subtracting
    // it from a limited channel cannot pass 255.
    if (p.offset_cap >= 0) s |= LOOK_OFFSET_NONNEGATIVE;
    // Adding zeros to a limited channel keeps it within 0..255.
    if (!overlay && in.color == 0) s |= LOOK_CAST_ZERO_SHIFT;
    // The overlay value and the channel are at least 0 (a high channel gives
    // (ch + K - ch * K / 255) * 2 - 255 >= 1 - 2^-44, as ch * K / 255 <= K),
    // and weights m / 127 and (127 - m) / 127 of at least 0 keep the mix so.
    if (overlay && p.cast_amount <= 127) s |= LOOK_CAST_NONNEGATIVE;
    // The overlay's product ch * K (K from 2 to 160) over 255 is subnormal
    // only for a channel between 0 and 2^-1000. A difference a - b > 0 of
    // doubles with a > b >= 0 is at least a 2^-53 (a multiple of b's step
    // when b >= a / 2), so each subtraction shrinks a channel's smallest
    // nonzero value by 2^-53 at most. A channel reaches the vintage tint or
    // the offset as 0 or at least 2^-8 (bytes, 16-bit codes, lens integers);
    // the tint adds (x + t) * 0.5 * A / 255 with x + t 0 or at least 2^-12
    // (each tint channel is at least 0.7 of the luma, and a luma that is
    // not 0 at least 0.114478 * 2^-8) and (255 - A) * x / 255. With A = 0
    // or |A| >= 2^-800 the tinted channel is 0 or at least 2^-874, less an
    // offset at least 2^-927, and the quotient is normal.
    if (u != 7 || in.xprocess == 0 || !(std::fabs(in.xprocess) < 0x1p-800)) {
        s |= LOOK_CAST_QUOTIENT_NORMAL;
    }
    // Inside the inner radius nothing is subtracted before the cast, so a
    // channel read from a byte or a lens index is cast from one of 256
    // values; the vintage tint would mix the channels first.
    if ((s & LOOK_CAST_OVERLAY) && u != 7) s |= LOOK_CAST_TABLE;
    if (u == 7) s |= LOOK_VINTAGE_TERMS;
    if (NothingBecomesNaN(in, s)) s |= LOOK_NAN_FREE;
    p.stages = s;

    // The same operations the formulas make per pixel, once per table entry.
    if (s & LOOK_LENS_TABLE) {
        for (int c = 0; c < 3; ++c) {
            for (int i = 0; i < 256; ++i) p.lens_values[c][i] = Component(LensTable[n - 1][i], c);
        }
    }
    if (s & LOOK_BRIGHTNESS_TABLE) {
        const CurveTable& table = p.brightness_table == 0 ? BrightenTable : DarkenTable;
        for (int i = 0; i < 256; ++i) {
            const double t = table[i].red;
            p.brightness_terms[i] = t * p.brightness_k / 0.9;
        }
    }
    if ((s & LOOK_XPROCESS_OFF) == 0) {
        for (int c = 0; c < 3; ++c) {
            for (int i = 0; i < 256; ++i) {
                const double t = Component(XProcessTable[u][i], c);
                p.xprocess_terms[c][i] = units ? t / 255 : t * in.xprocess / 255;
            }
        }
    }
    if (s & LOOK_VINTAGE_TERMS) {
        // VintageTint's (255 - amount) * x / 255, on the level before the
        // limit, as the tint reads it.
        for (int c = 0; c < 3; ++c) {
            for (int i = 0; i < 256; ++i) {
                const double level = (s & LOOK_LENS_TABLE) ? p.lens_values[c][i] : i;
                p.vintage_terms[c][i] = p.xprocess_rest * level / 255;
            }
        }
    }
    if (s & LOOK_CAST_TABLE) {
        for (int c = 0; c < 3; ++c) {
            for (int i = 0; i < 256; ++i) {
                const double level = (s & LOOK_LENS_TABLE) ? p.lens_values[c][i] : i;
                p.cast_values[c][i] = stages::Limit(
                    stages::CastOverlay(stages::Limit(level), p.cast_blend[c], p.cast_amount));
            }
        }
    }
    return prepared;
}

}  // namespace look
