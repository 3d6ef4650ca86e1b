// The span look on SSE2, which every x86-64 processor has: two pixels per
// register, one register per channel.
#include <emmintrin.h>

#include <algorithm>
#include <cfloat>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "look/color_math.h"
#include "look/look_settings.h"
#include "look/look_pixels.h"
#include "look/look_shortcuts.h"
#include "look/look_span.h"
#include "look/look_span_formats.h"
#include "look/look_tables.h"

namespace look {

namespace {

constexpr int kLanes = 2;
using Vec = __m128d;
using Mask = __m128d;
// Two 32-bit lanes in the low half.
using Index = __m128i;

[[gnu::always_inline]] inline Vec Splat(double v) { return _mm_set1_pd(v); }
[[gnu::always_inline]] inline Vec Iota() { return _mm_setr_pd(0, 1); }
[[gnu::always_inline]] inline Vec ReverseLanes(Vec v) { return _mm_shuffle_pd(v, v, 1); }
[[gnu::always_inline]] inline void Store(double* to, Vec v) { _mm_storeu_pd(to, v); }
[[gnu::always_inline]] inline Vec Sqrt(Vec v) { return _mm_sqrt_pd(v); }

// Ordered compares: false when either side is NaN, as in C++.
[[gnu::always_inline]] inline Mask Less(Vec a, Vec b) { return _mm_cmplt_pd(a, b); }
[[gnu::always_inline]] inline Mask Greater(Vec a, Vec b) { return _mm_cmpgt_pd(a, b); }
[[gnu::always_inline]] inline Mask Equal(Vec a, Vec b) { return _mm_cmpeq_pd(a, b); }
[[gnu::always_inline]] inline Mask IsNaN(Vec a) { return _mm_cmpunord_pd(a, a); }
// |v| <= DBL_MAX: false for infinities and NaN.
[[gnu::always_inline]] inline Mask IsFinite(Vec v) {
    return _mm_cmple_pd(_mm_andnot_pd(Splat(-0.0), v), Splat(DBL_MAX));
}
[[gnu::always_inline]] inline Vec Select(Mask m, Vec a, Vec b) {
    return _mm_or_pd(_mm_and_pd(m, a), _mm_andnot_pd(m, b));
}
[[gnu::always_inline]] inline Vec And(Mask m, Vec v) { return _mm_and_pd(m, v); }
[[gnu::always_inline]] inline Vec BitsAnd(Vec a, Vec b) { return _mm_and_pd(a, b); }
[[gnu::always_inline]] inline Vec BitsOr(Vec a, Vec b) { return _mm_or_pd(a, b); }
[[gnu::always_inline]] inline Mask AndNotMasks(Mask m, Mask n) { return _mm_andnot_pd(m, n); }
[[gnu::always_inline]] inline bool AnyLane(Mask m) { return _mm_movemask_pd(m) != 0; }
[[gnu::always_inline]] inline bool AllLanes(Mask m) { return _mm_movemask_pd(m) == 0x3; }
[[gnu::always_inline]] inline bool AnyNaN(Vec v) { return AnyLane(IsNaN(v)); }

// maxpd(0, v) is 0 > v ? 0 : v and minpd(255, v) is 255 < v ? 255 : v: a NaN
// or -0 in v comes through both, as the limit requires.
[[gnu::always_inline]] inline Vec Limit(Vec v) {
    return _mm_min_pd(Splat(255), _mm_max_pd(_mm_setzero_pd(), v));
}
// maxpd(v, 0) is v > 0 ? v : 0, which sends NaN to 0.
[[gnu::always_inline]] inline Vec ClampIndex(Vec v) {
    return _mm_min_pd(_mm_max_pd(v, _mm_setzero_pd()), Splat(255));
}
[[gnu::always_inline]] inline Vec AtMost(Vec m, Vec v) { return _mm_min_pd(m, v); }
[[gnu::always_inline]] inline Vec AtLeast(Vec m, Vec v) { return _mm_max_pd(m, v); }

[[gnu::always_inline]] inline Index ToIndex(Vec v) { return _mm_cvttpd_epi32(v); }
[[gnu::always_inline]] inline Vec IndexValues(Index i) { return _mm_cvtepi32_pd(i); }

[[gnu::always_inline]] inline int Lane0(Index i) { return _mm_cvtsi128_si32(i); }
[[gnu::always_inline]] inline int Lane1(Index i) { return _mm_cvtsi128_si32(_mm_srli_si128(i, 4)); }

[[gnu::always_inline]] inline Vec TableAt(const double* table, Index i) {
    return _mm_loadh_pd(_mm_load_sd(table + Lane0(i)), table + Lane1(i));
}
[[gnu::always_inline]] inline Index IntsAt(const std::int32_t* table, Index i) {
    return _mm_setr_epi32(table[Lane0(i)], table[Lane1(i)], 0, 0);
}
// A curve entry is four bytes, red lowest.
[[gnu::always_inline]] inline Index CurveAt(const CurveEntry* table, Index i, int c) {
    std::uint32_t first;
    std::uint32_t second;
    std::memcpy(&first, &table[Lane0(i)], sizeof first);
    std::memcpy(&second, &table[Lane1(i)], sizeof second);
    return _mm_setr_epi32(static_cast<int>((first >> (8 * c)) & 0xFF),
                          static_cast<int>((second >> (8 * c)) & 0xFF), 0, 0);
}

// minpd(max, v) keeps NaN, which maxpd(v, 0) then sends to 0.
[[gnu::always_inline]] inline Index Codes(Vec v, int max) {
    return _mm_cvttpd_epi32(_mm_max_pd(_mm_min_pd(Splat(max), v), _mm_setzero_pd()));
}
// 255v as 256v - v; SSE2 has no 32-bit minimum, so a compare picks 255.
[[gnu::always_inline]] inline Index WideLensIndices(Index v) {
    const __m128i scaled = _mm_sub_epi32(_mm_slli_epi32(v, 8), v);
    const __m128i index = _mm_srli_epi32(_mm_add_epi32(scaled, _mm_set1_epi32(16384)), 15);
    const __m128i top = _mm_set1_epi32(255);
    const __m128i above = _mm_cmpgt_epi32(index, top);
    return _mm_or_si128(_mm_and_si128(above, top), _mm_andnot_si128(above, index));
}

// Two pixels: red, green and blue as 32-bit lanes, and the pixels as read,
// whose alpha goes back out unchanged.
template <typename Format>
struct Group {
    Index r;
    Index g;
    Index b;
    __m128i raw;
};

// 8-bit pixels are one 32-bit lane each: a channel is a shift and a mask.
template <typename Format>
    requires(Format::kMax == 255)
[[gnu::always_inline]] inline Group<Format> ReadGroup(const typename Format::Pixel* in) {
    const __m128i raw = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in));
    const __m128i byte = _mm_set1_epi32(0xFF);
    return {_mm_and_si128(_mm_srli_epi32(raw, 8 * Format::kRed), byte),
            _mm_and_si128(_mm_srli_epi32(raw, 8 * Format::kGreen), byte),
            _mm_and_si128(_mm_srli_epi32(raw, 8 * Format::kBlue), byte), raw};
}

template <typename Format>
    requires(Format::kMax == 255)
[[gnu::always_inline]] inline void WriteGroup(typename Format::Pixel* out, const Group<Format>& px,
                                              Index r, Index g, Index b) {
    const __m128i alpha = _mm_and_si128(px.raw, _mm_set1_epi32(0xFF << (8 * Format::kAlpha)));
    const __m128i rgb = _mm_or_si128(
        _mm_or_si128(_mm_slli_epi32(r, 8 * Format::kRed), _mm_slli_epi32(g, 8 * Format::kGreen)),
        _mm_slli_epi32(b, 8 * Format::kBlue));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_or_si128(alpha, rgb));
}

// 16-bit pixels are one 64-bit lane each: a channel is a shift and a mask,
// and the two pixels' 32-bit lanes 0 and 2 are moved to 0 and 1.
template <typename Format>
    requires(Format::kMax == 32768)
[[gnu::always_inline]] inline Group<Format> ReadGroup(const typename Format::Pixel* in) {
    const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i word = _mm_set1_epi64x(0xFFFF);
    const auto channel = [&](__m128i shifted) __attribute__((always_inline)) {
        return _mm_shuffle_epi32(_mm_and_si128(shifted, word), _MM_SHUFFLE(3, 3, 2, 0));
    };
    return {channel(_mm_srli_epi64(raw, 16 * Format::kRed)),
            channel(_mm_srli_epi64(raw, 16 * Format::kGreen)),
            channel(_mm_srli_epi64(raw, 16 * Format::kBlue)), raw};
}

// Codes are at most 32768, so each fits its word.
template <typename Format>
    requires(Format::kMax == 32768 && Format::kAlpha == 0 && Format::kRed == 1 &&
             Format::kGreen == 2 && Format::kBlue == 3)
[[gnu::always_inline]] inline void WriteGroup(typename Format::Pixel* out, const Group<Format>& px,
                                              Index r, Index g, Index b) {
    const __m128i low = _mm_slli_epi32(r, 16);                     // alpha slot, red
    const __m128i high = _mm_or_si128(g, _mm_slli_epi32(b, 16));  // green, blue
    const __m128i alpha = _mm_and_si128(px.raw, _mm_set1_epi64x(0xFFFF));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_or_si128(alpha, _mm_unpacklo_epi32(low, high)));
}

#include "look/look_span_body.inc"

}  // namespace

void LookSpan8Sse2(const PreparedLook& look, std::int32_t x0, std::int32_t y, const Pixel8* in,
                   Pixel8* out, std::int32_t count) {
    RenderSpan<span_formats::Argb8, Pixel8>(look, x0, y, in, out, count);
}

void LookSpan16Sse2(const PreparedLook& look, std::int32_t x0, std::int32_t y, const Pixel16* in,
                    Pixel16* out, std::int32_t count) {
    RenderSpan<span_formats::Argb16, Pixel16>(look, x0, y, in, out, count);
}

void LookSpanRgba8Sse2(const PreparedLook& look, std::int32_t x0, std::int32_t y,
                       const RgbaPixel8* in, RgbaPixel8* out, std::int32_t count) {
    RenderSpan<span_formats::Rgba8, RgbaPixel8>(look, x0, y, in, out, count);
}

void LookSpanValues8Sse2(const PreparedLook& look, std::int32_t x0, std::int32_t y,
                         const Pixel8* in, RgbColor* out, std::int32_t count) {
    RenderSpan<span_formats::Argb8, RgbColor>(look, x0, y, in, out, count);
}

void LookSpanValues16Sse2(const PreparedLook& look, std::int32_t x0, std::int32_t y,
                          const Pixel16* in, RgbColor* out, std::int32_t count) {
    RenderSpan<span_formats::Argb16, RgbColor>(look, x0, y, in, out, count);
}

}  // namespace look
