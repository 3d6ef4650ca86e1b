// The look on SSE2, which every x86-64 processor has: red and green share one
// register, blue and the pad lane another.
#include <emmintrin.h>

#include <cfloat>
#include <cstdint>
#include <cstring>

#include "look/color_math.h"
#include "look/look_settings.h"
#include "look/look_pixel.h"
#include "look/look_pixels.h"
#include "look/look_shortcuts.h"
#include "look/look_tables.h"

namespace look {

namespace {

struct Vec {
    __m128d rg;
    __m128d bp;
};
using Mask = Vec;

[[gnu::always_inline]] inline Vec Splat(double v) {
    const __m128d s = _mm_set1_pd(v);
    return {s, s};
}
[[gnu::always_inline]] inline Vec Make(double r, double g, double b) {
    return {_mm_setr_pd(r, g), _mm_set_sd(b)};
}
[[gnu::always_inline]] inline Vec Load(const double* v) {
    return {_mm_loadu_pd(v), _mm_loadu_pd(v + 2)};
}
[[gnu::always_inline]] inline Vec MakeInts(std::int32_t r, std::int32_t g, std::int32_t b) {
    return {_mm_cvtepi32_pd(_mm_setr_epi32(r, g, 0, 0)), _mm_cvtepi32_pd(_mm_cvtsi32_si128(b))};
}

[[gnu::always_inline]] inline Vec operator+(Vec a, Vec b) {
    return {_mm_add_pd(a.rg, b.rg), _mm_add_pd(a.bp, b.bp)};
}
[[gnu::always_inline]] inline Vec operator-(Vec a, Vec b) {
    return {_mm_sub_pd(a.rg, b.rg), _mm_sub_pd(a.bp, b.bp)};
}
[[gnu::always_inline]] inline Vec operator*(Vec a, Vec b) {
    return {_mm_mul_pd(a.rg, b.rg), _mm_mul_pd(a.bp, b.bp)};
}
[[gnu::always_inline]] inline Vec operator/(Vec a, Vec b) {
    return {_mm_div_pd(a.rg, b.rg), _mm_div_pd(a.bp, b.bp)};
}

// Ordered compares: false when either side is NaN, as in C++.
[[gnu::always_inline]] inline Mask Less(Vec a, Vec b) {
    return {_mm_cmplt_pd(a.rg, b.rg), _mm_cmplt_pd(a.bp, b.bp)};
}
[[gnu::always_inline]] inline Mask Greater(Vec a, Vec b) {
    return {_mm_cmpgt_pd(a.rg, b.rg), _mm_cmpgt_pd(a.bp, b.bp)};
}
[[gnu::always_inline]] inline Mask GreaterEqual(Vec a, Vec b) {
    return {_mm_cmpge_pd(a.rg, b.rg), _mm_cmpge_pd(a.bp, b.bp)};
}
[[gnu::always_inline]] inline Mask Equal(Vec a, Vec b) {
    return {_mm_cmpeq_pd(a.rg, b.rg), _mm_cmpeq_pd(a.bp, b.bp)};
}
[[gnu::always_inline]] inline Mask IsNaN(Vec a) {
    return {_mm_cmpunord_pd(a.rg, a.rg), _mm_cmpunord_pd(a.bp, a.bp)};
}
[[gnu::always_inline]] inline Vec Select(Mask m, Vec a, Vec b) {
    return {_mm_or_pd(_mm_and_pd(m.rg, a.rg), _mm_andnot_pd(m.rg, b.rg)),
            _mm_or_pd(_mm_and_pd(m.bp, a.bp), _mm_andnot_pd(m.bp, b.bp))};
}

// maxpd(0, v) is 0 > v ? 0 : v and minpd(255, v) is 255 < v ? 255 : v: a NaN
// or -0 in v comes through both, as the limit requires.
[[gnu::always_inline]] inline Vec Limit(Vec v) {
    const __m128d zero = _mm_setzero_pd();
    const __m128d top = _mm_set1_pd(255);
    return {_mm_min_pd(top, _mm_max_pd(zero, v.rg)), _mm_min_pd(top, _mm_max_pd(zero, v.bp))};
}
// maxpd(v, 0) is v > 0 ? v : 0, which sends NaN to 0.
[[gnu::always_inline]] inline Vec ClampIndex(Vec v) {
    const __m128d zero = _mm_setzero_pd();
    const __m128d top = _mm_set1_pd(255);
    return {_mm_min_pd(_mm_max_pd(v.rg, zero), top), _mm_min_pd(_mm_max_pd(v.bp, zero), top)};
}
[[gnu::always_inline]] inline Vec AtMost(Vec m, Vec v) {
    return {_mm_min_pd(m.rg, v.rg), _mm_min_pd(m.bp, v.bp)};
}
[[gnu::always_inline]] inline Vec AtLeast(Vec m, Vec v) {
    return {_mm_max_pd(m.rg, v.rg), _mm_max_pd(m.bp, v.bp)};
}
[[gnu::always_inline]] inline Vec AtLeastZero(Vec v) {
    return {_mm_max_pd(v.rg, _mm_setzero_pd()), _mm_max_pd(v.bp, _mm_setzero_pd())};
}
[[gnu::always_inline]] inline __m128d Pick1(__m128d mask, __m128d a, __m128d b) {
    return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b));
}

struct Lanes {
    std::int32_t r;
    std::int32_t g;
    std::int32_t b;
};
[[gnu::always_inline]] inline Lanes TruncateLanes(Vec v) {
    const __m128i rg = _mm_cvttpd_epi32(v.rg);
    return {_mm_cvtsi128_si32(rg), _mm_cvtsi128_si32(_mm_srli_si128(rg, 4)),
            _mm_cvtsi128_si32(_mm_cvttpd_epi32(v.bp))};
}

// Table reads lane by lane.
using Index = Lanes;
[[gnu::always_inline]] inline Index ToIndex(Vec v) { return TruncateLanes(v); }
[[gnu::always_inline]] inline Index IndexOf(std::int32_t r, std::int32_t g, std::int32_t b) {
    return {r, g, b};
}
[[gnu::always_inline]] inline Vec ChannelTableAt(const double (*table)[256], Index i) {
    return {_mm_setr_pd(table[0][i.r], table[1][i.g]), _mm_set_sd(table[2][i.b])};
}
[[gnu::always_inline]] inline Vec RedTableAt(const double* table, Index i) {
    return {_mm_setr_pd(table[i.r], table[i.g]), _mm_set_sd(table[i.b])};
}
[[gnu::always_inline]] inline Index Codes(Vec v, int max) {
    return TruncateLanes(AtLeastZero(AtMost(Splat(max), v)));
}
template <typename Pixel>
[[gnu::always_inline]] inline Index ReadChannels(const Pixel* in) {
    Pixel px;
    std::memcpy(&px, in, sizeof px);
    return {px.red, px.green, px.blue};
}
[[gnu::always_inline]] inline Vec IndexValues(Index i) { return MakeInts(i.r, i.g, i.b); }
[[gnu::always_inline]] inline Index WideLensIndices(Index v) {
    const auto index = [](std::int32_t c) {
        const std::int32_t i = (c * 255 + 16384) >> 15;
        return i < 255 ? i : 255;
    };
    return {index(v.r), index(v.g), index(v.b)};
}
template <typename Pixel, typename Alpha>
[[gnu::always_inline]] inline void WritePixel(Pixel* out, Alpha alpha, Index codes) {
    using Value = decltype(out->red);
    const Pixel px{alpha, static_cast<Value>(codes.r), static_cast<Value>(codes.g),
                   static_cast<Value>(codes.b)};
    std::memcpy(out, &px, sizeof px);
}
[[gnu::always_inline]] inline Vec WarmLensAt(Index i) {
    return MakeInts(WarmLensTable[0][i.r], WarmLensTable[1][i.g], WarmLensTable[2][i.b]);
}

[[gnu::always_inline]] inline bool AnyNaN(Vec v) {
    const int rg = _mm_movemask_pd(_mm_cmpunord_pd(v.rg, v.rg));
    const int b = _mm_movemask_pd(_mm_cmpunord_sd(v.bp, v.bp)) & 1;
    return (rg | b) != 0;
}

// The colour conversion runs on scalars: lane permutes cost more here.
constexpr bool kLaneHsl = false;

[[gnu::always_inline]] inline __m128d RedLane(Vec v) { return v.rg; }
[[gnu::always_inline]] inline __m128d GreenLane(Vec v) { return _mm_unpackhi_pd(v.rg, v.rg); }
[[gnu::always_inline]] inline __m128d BlueLane(Vec v) { return v.bp; }

#include "look/look_pixel_body.inc"

}  // namespace

void LookPixel8Sse2(const PreparedLook* look, std::int32_t x, std::int32_t y, const Pixel8* in,
                    Pixel8* out) {
    FastPixel<Depth8>(look, x, y, in, out);
}

void LookPixel16Sse2(const PreparedLook* look, std::int32_t x, std::int32_t y,
                     const Pixel16* in, Pixel16* out) {
    FastPixel<Depth16>(look, x, y, in, out);
}

RgbColor LookWorkingValuesSse2(const PreparedLook& look, std::int32_t x, std::int32_t y,
                               RgbColor in) {
    return FastWorkingValues(look, x, y, in);
}

}  // namespace look
