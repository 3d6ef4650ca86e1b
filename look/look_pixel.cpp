// The plain per-pixel look: every stage exactly as the formulas are written,
// for any record. It is the reference the fast variants are held to bit for
// bit. It reads only the settings of the prepared look. One body for
// both depths; the two differ only in the channel maximum. Working values
// are binary64 on the 0..255 scale and every formula is evaluated in the
// order written, because the output is truncated and one bit can move a code.
#include "look/look_pixel.h"

#include <cmath>
#include <cstring>

#include "look/color_math.h"
#include "look/look_settings.h"
#include "look/look_stages.h"
#include "look/look_tables.h"

namespace look {

namespace {

// A channel is read as value / M * 255 and written as the integer part of
// ch / 255 * M. Reading a byte gives the byte itself exactly (checked for all
// 256 values), so it is taken as it is. Writing keeps the division: a working
// value just below an integer (7.9999999999999991) comes back from
// ch / 255 * 255 as 8, and that is the code written.
constexpr bool BytesReadExactly() {
    for (int v = 0; v <= 255; ++v) {
        if (v / 255.0 * 255 != v) return false;
    }
    return true;
}
static_assert(BytesReadExactly(), "a byte read as v / 255 * 255 must be v itself");

struct Channel8 {
    using Pixel = Pixel8;
    using Value = std::uint8_t;
    static constexpr double kMax = 255;
    static double ToWorking(Value v) { return v; }
    static double Scaled(double ch) { return ch / 255 * kMax; }
};

// 16-bit full scale is 32768, not 65535.
struct Channel16 {
    using Pixel = Pixel16;
    using Value = std::uint16_t;
    static constexpr double kMax = 32768;
    static double ToWorking(Value v) { return v / kMax * 255; }
    static double Scaled(double ch) { return ch / 255 * kMax; }
};

enum ChannelIndex { kRed, kGreen, kBlue };

// "Type2" cast: blend constants toward the cool colour (color > 0) and the
// warm one (color < 0).
constexpr double kCoolBlend[3] = {2, 101, 160};
constexpr double kWarmBlend[3] = {108, 59, 24};

using stages::CastOverlay;
using stages::Limit;

template <ChannelIndex C>
double Component(const CurveEntry& e) {
    if constexpr (C == kRed) return e.red;
    if constexpr (C == kGreen) return e.green;
    if constexpr (C == kBlue) return e.blue;
}

// What the vignette and dodge do to this pixel; the same for all channels.
struct Vignette {
    bool outside;   // beyond the inner radius: darkening side
    double offset;  // subtracted before the cast (outside only)
    double weight;  // blend weight of the burn (outside) or dodge (inside)
};

[[gnu::always_inline]] inline Vignette VignetteAt(const LookParams& p, std::int32_t x,
                                                 std::int32_t y) {
    const double dy = y - p.height * 0.5;
    const double dx = x - p.width * 0.5;
    const double distance = SquareRoot(dy * dy + dx * dx);
    double inner = p.vignette_radius / 255 * p.half_diagonal;
    if (inner <= 0.00001) inner = 0.0000001;

    Vignette v{};
    if (distance > inner) {
        v.outside = true;
        double q = (distance - inner) / (p.half_diagonal - inner);
        // At radius 255 the denominator is zero for a pixel beyond the half
        // diagonal (an image larger than the record says): count it as a
        // corner pixel so nothing infinite reaches the channels.
        if (!std::isfinite(q)) q = 1;
        const double cap = p.vignette_amount / 6;
        v.offset = q * cap;
        if (v.offset > cap) {
            v.offset = cap;
        } else if (v.offset < 0) {
            v.offset = 0;
        }
        const double scaled = q * 25500;
        const double curve = scaled * scaled / 25500;
        v.weight = curve / 25500 * p.vignette_amount;
    } else {
        const double gap = inner - distance;
        v.weight = gap * gap / p.half_diagonal / inner * p.dodge;
        // A half diagonal of 0, infinite or NaN has no meaningful dodge.
        if (!std::isfinite(v.weight)) v.weight = 0;
    }
    return v;
}

// Steps from the vignette offset to the x-process mix for one channel; no
// step reads another channel. Inlined so the three independent channel
// chains overlap in the processor.
template <ChannelIndex C>
[[gnu::always_inline]] inline double ChannelStages(double ch, const LookParams& p,
                                                   const Vignette& v, int color_mode,
                                                   const CurveTable& xprocess) {
    if (v.outside) ch = ch - v.offset;
    ch = Limit(ch);

    if (color_mode == 0) {
        if constexpr (C == kGreen) ch = p.color / 12 + ch;
        if constexpr (C == kBlue) ch = ch - p.color * 0.25;
    } else if (p.color != 0) {
        const double k = p.color > 0 ? kCoolBlend[C] : kWarmBlend[C];
        ch = CastOverlay(ch, k, std::fabs(p.color));
    }
    ch = Limit(ch);

    double blend;
    if (v.outside) {
        blend = 255 > ch * 2 ? 0 : ch * 2 - 255;  // linear burn with itself
    } else {
        blend = ch + ch > 255 ? 255 : ch + ch;  // linear dodge with itself
    }
    ch = (255 - v.weight) * ch / 255 + v.weight * blend / 255;

    // Soft light of the channel with E / 255 * 128 + 64.
    const double e = Limit(ch);
    const double soft = e < 128 ? (e / 255 * 128 * 2 + 128) * e / 255
                                : 255 - (255 - (e / 255 * 128 + 64)) * 2 * (255 - e) / 255;
    ch = soft * p.contrast / 255 + (255 - p.contrast) * e / 255;

    if (p.brightness > 1) {
        const double k = p.brightness - 1;
        const double t = BrightenTable[LookupIndex(ch)].red;
        ch = t * k / 0.9 + (0.9 - k) * ch / 0.9;
    } else if (p.brightness < 1) {
        const double k = 1 - p.brightness;
        const double t = DarkenTable[LookupIndex(ch)].red;
        ch = t * k / 0.9 + (0.9 - k) * ch / 0.9;
    }
    ch = Limit(ch);

    const double t = Component<C>(xprocess[LookupIndex(ch)]);
    ch = t * p.xprocess / 255 + (255 - p.xprocess) * ch / 255;
    return Limit(ch);
}

template <typename Traits>
typename Traits::Value ToChannel(double ch) {
    double v = Traits::Scaled(ch);
    if (v > Traits::kMax) v = Traits::kMax;
    // NaN only follows from non-finite settings; write it as 0.
    if (!(v >= 0)) v = 0;
    return static_cast<typename Traits::Value>(v);
}

// Everything between reading and writing a pixel, the same for both depths.
[[gnu::always_inline]] inline RgbColor RunLook(const LookParams& p, std::int32_t x, std::int32_t y,
                                               RgbColor in) {
    double r = in.red;
    double g = in.green;
    double b = in.blue;

    const Vignette vignette = VignetteAt(p, x, y);

    // Pop-up values outside their lists act as the nearest item; clamping
    // before subtracting keeps INT_MIN from overflowing. Colour types above
    // 2 act as "Type2".
    const int xprocess_type =
        p.xprocess_type < 1 ? 0 : p.xprocess_type > 8 ? 7 : p.xprocess_type - 1;
    const int lens = p.lens_type < 1 ? 0 : p.lens_type > 4 ? 3 : p.lens_type - 1;
    const int color_mode = p.color_type <= 1 ? 0 : 1;

    if (lens == 1 || lens == 2) {
        const CurveTable& table = LensTable[lens - 1];
        r = table[LookupIndex(r)].red;
        g = table[LookupIndex(g)].green;
        b = table[LookupIndex(b)].blue;
    }
    if (xprocess_type == 7) {
        const RgbColor tinted = VintageTint(r, g, b, p.xprocess);
        r = tinted.red;
        g = tinted.green;
        b = tinted.blue;
    }
    r = Limit(r);
    g = Limit(g);
    b = Limit(b);

    const CurveTable& xprocess = XProcessTable[xprocess_type];
    r = ChannelStages<kRed>(r, p, vignette, color_mode, xprocess);
    g = ChannelStages<kGreen>(g, p, vignette, color_mode, xprocess);
    b = ChannelStages<kBlue>(b, p, vignette, color_mode, xprocess);

    if (lens == 3) {
        r = WarmLensTable[0][LookupIndex(r)];
        g = WarmLensTable[1][LookupIndex(g)];
        b = WarmLensTable[2][LookupIndex(b)];
    }

    if (xprocess_type == 6) {
        double grey = g * 0.39 + r * 0.25 + b * 0.36;
        if (grey > 255) {
            grey = 255;
        } else if (grey < 0) {
            grey = 0;
        }
        r = g = b = grey;
    } else if (xprocess_type == 5) {
        const HslColor hsl = RgbToHsl(r, g, b);
        const RgbColor rgb = HslToRgb(hsl.hue, hsl.saturation * 0.8, hsl.lightness);
        r = rgb.red;
        g = rgb.green;
        b = rgb.blue;
    }
    return {Limit(r), Limit(g), Limit(b)};
}

// The pixel is copied in whole before anything is written (in may be out),
// and both copies go through memcpy: the caller's rows may be another
// library's records of the same layout.
template <typename Traits>
void LookPixel(const PreparedLook* look, std::int32_t x, std::int32_t y,
               const typename Traits::Pixel* in, typename Traits::Pixel* out) {
    if (look == nullptr) return;
    const LookParams& p = look->settings();

    typename Traits::Pixel px;
    std::memcpy(&px, in, sizeof px);
    const RgbColor result = RunLook(
        p, x, y,
        {Traits::ToWorking(px.red), Traits::ToWorking(px.green), Traits::ToWorking(px.blue)});
    px.red = ToChannel<Traits>(result.red);
    px.green = ToChannel<Traits>(result.green);
    px.blue = ToChannel<Traits>(result.blue);
    std::memcpy(out, &px, sizeof px);
}

}  // namespace

void LookPixel8Plain(const PreparedLook* look, std::int32_t x, std::int32_t y, const Pixel8* in,
                     Pixel8* out) {
    LookPixel<Channel8>(look, x, y, in, out);
}

void LookPixel16Plain(const PreparedLook* look, std::int32_t x, std::int32_t y,
                      const Pixel16* in, Pixel16* out) {
    LookPixel<Channel16>(look, x, y, in, out);
}

RgbColor LookWorkingValues(const PreparedLook& look, std::int32_t x, std::int32_t y,
                           RgbColor in) {
    return RunLook(look.settings(), x, y, in);
}

}  // namespace look
