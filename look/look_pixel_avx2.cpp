// The look on AVX2: red, green, blue and the pad lane in one register. Only
// the functions below are built for AVX2 (the build assumes SSE2 alone), and
// only a processor that reports AVX2 reaches them (look_variants.cpp).
// "avx2" brings no fused multiply-add: that needs "fma", which is never named.
#include <immintrin.h>

#include <cfloat>
#include <cstdint>
#include <cstring>

#include "look/color_math.h"
#include "look/look_settings.h"
#include "look/look_pixel.h"
#include "look/look_pixels.h"
#include "look/look_shortcuts.h"
#include "look/look_tables.h"

#pragma GCC push_options
#pragma GCC target("avx2")

namespace look {

namespace {

using Vec = __m256d;
using Mask = __m256d;

[[gnu::always_inline]] inline Vec Splat(double v) { return _mm256_set1_pd(v); }
[[gnu::always_inline]] inline Vec Make(double r, double g, double b) {
    return _mm256_setr_pd(r, g, b, 0);
}
[[gnu::always_inline]] inline Vec Load(const double* v) { return _mm256_loadu_pd(v); }
[[gnu::always_inline]] inline Vec MakeInts(std::int32_t r, std::int32_t g, std::int32_t b) {
    return _mm256_cvtepi32_pd(_mm_setr_epi32(r, g, b, 0));
}

// Ordered compares: false when either side is NaN, as in C++.
[[gnu::always_inline]] inline Mask Less(Vec a, Vec b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
[[gnu::always_inline]] inline Mask Greater(Vec a, Vec b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
[[gnu::always_inline]] inline Mask GreaterEqual(Vec a, Vec b) {
    return _mm256_cmp_pd(a, b, _CMP_GE_OQ);
}
[[gnu::always_inline]] inline Mask Equal(Vec a, Vec b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
[[gnu::always_inline]] inline Mask IsNaN(Vec a) { return _mm256_cmp_pd(a, a, _CMP_UNORD_Q); }
[[gnu::always_inline]] inline Vec Select(Mask m, Vec a, Vec b) { return _mm256_blendv_pd(b, a, m); }

// maxpd(0, v) is 0 > v ? 0 : v and minpd(255, v) is 255 < v ? 255 : v: a NaN
// or -0 in v comes through both, as the limit requires.
[[gnu::always_inline]] inline Vec Limit(Vec v) {
    return _mm256_min_pd(_mm256_set1_pd(255), _mm256_max_pd(_mm256_setzero_pd(), v));
}
// maxpd(v, 0) is v > 0 ? v : 0, which sends NaN to 0.
[[gnu::always_inline]] inline Vec ClampIndex(Vec v) {
    return _mm256_min_pd(_mm256_max_pd(v, _mm256_setzero_pd()), _mm256_set1_pd(255));
}
[[gnu::always_inline]] inline Vec AtMost(Vec m, Vec v) { return _mm256_min_pd(m, v); }
[[gnu::always_inline]] inline Vec AtLeast(Vec m, Vec v) { return _mm256_max_pd(m, v); }
[[gnu::always_inline]] inline Vec AtLeastZero(Vec v) {
    return _mm256_max_pd(v, _mm256_setzero_pd());
}
[[gnu::always_inline]] inline __m128d Pick1(__m128d mask, __m128d a, __m128d b) {
    return _mm_blendv_pd(b, a, mask);
}

struct Lanes {
    std::int32_t r;
    std::int32_t g;
    std::int32_t b;
};
[[gnu::always_inline]] inline Lanes LanesOf(__m128i i) {
    return {_mm_cvtsi128_si32(i), _mm_extract_epi32(i, 1), _mm_extract_epi32(i, 2)};
}
[[gnu::always_inline]] inline Lanes TruncateLanes(Vec v) { return LanesOf(_mm256_cvttpd_epi32(v)); }

using Index = __m128i;
[[gnu::always_inline]] inline Index ToIndex(Vec v) { return _mm256_cvttpd_epi32(v); }
[[gnu::always_inline]] inline Index IndexOf(std::int32_t r, std::int32_t g, std::int32_t b) {
    return _mm_setr_epi32(r, g, b, 0);
}
// Table reads are three loads and two inserts for the red, green and blue
// lanes; the pad lane reads nothing. On Zen 3, where a gather is microcoded,
// this made pixels as fast as vgatherdpd at the defaults and 2-10% faster
// with the heavier settings (8 runs side by side on the two cores).
[[gnu::always_inline]] inline Vec LoadLanes(const double* r, const double* g, const double* b) {
    const __m128d rg = _mm_loadh_pd(_mm_load_sd(r), g);
    return _mm256_insertf128_pd(_mm256_castpd128_pd256(rg), _mm_load_sd(b), 1);
}
// Row c of the [3][256] table for lane c.
[[gnu::always_inline]] inline Vec ChannelTableAt(const double (*table)[256], Index i) {
    const Lanes at = LanesOf(i);
    return LoadLanes(&table[0][at.r], &table[1][at.g], &table[2][at.b]);
}
[[gnu::always_inline]] inline Vec RedTableAt(const double* table, Index i) {
    const Lanes at = LanesOf(i);
    return LoadLanes(&table[at.r], &table[at.g], &table[at.b]);
}
// Truncation gives INT_MIN for NaN, and the integer clamps then give 0, as
// for values below 0; above max the integer part is at least max.
[[gnu::always_inline]] inline Index Codes(Vec v, int max) {
    return _mm_min_epi32(_mm_max_epi32(_mm256_cvttpd_epi32(v), _mm_setzero_si128()),
                         _mm_set1_epi32(max));
}
// The pixel's bytes or words (alpha, red, green, blue) widened to 32 bits and
// turned to (red, green, blue, alpha); the pad lane's alpha is never used.
[[gnu::always_inline]] inline Index ReadChannels(const Pixel8* in) {
    std::uint32_t bits;
    std::memcpy(&bits, in, sizeof bits);
    const __m128i wide = _mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(bits)));
    return _mm_shuffle_epi32(wide, _MM_SHUFFLE(0, 3, 2, 1));
}
[[gnu::always_inline]] inline Index ReadChannels(const Pixel16* in) {
    std::uint64_t bits;
    std::memcpy(&bits, in, sizeof bits);
    const __m128i wide = _mm_cvtepu16_epi32(_mm_cvtsi64_si128(static_cast<long long>(bits)));
    return _mm_shuffle_epi32(wide, _MM_SHUFFLE(0, 3, 2, 1));
}
[[gnu::always_inline]] inline Vec IndexValues(Index i) { return _mm256_cvtepi32_pd(i); }
// 255v as 256v - v.
[[gnu::always_inline]] inline Index WideLensIndices(Index v) {
    const __m128i scaled = _mm_sub_epi32(_mm_slli_epi32(v, 8), v);
    const __m128i index = _mm_srli_epi32(_mm_add_epi32(scaled, _mm_set1_epi32(16384)), 15);
    return _mm_min_epi32(index, _mm_set1_epi32(255));
}
// Codes 0..255 (or 0..32768) in the low bytes (words) of the red, green and
// blue lanes, moved behind alpha and written at once.
[[gnu::always_inline]] inline void WritePixel(Pixel8* out, std::uint8_t alpha, Index codes) {
    const __m128i order =
        _mm_setr_epi8(-1, 0, 4, 8, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const auto bits = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_shuffle_epi8(codes, order)));
    const std::uint32_t pixel = bits | alpha;
    std::memcpy(out, &pixel, sizeof pixel);
}
[[gnu::always_inline]] inline void WritePixel(Pixel16* out, std::uint16_t alpha, Index codes) {
    const __m128i order = _mm_setr_epi8(-1, -1, 0, 1, 4, 5, 8, 9, -1, -1, -1, -1, -1, -1, -1, -1);
    const auto bits = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_shuffle_epi8(codes, order)));
    const std::uint64_t pixel = bits | alpha;
    std::memcpy(out, &pixel, sizeof pixel);
}
[[gnu::always_inline]] inline Vec WarmLensAt(Index i) {
    const Lanes at = LanesOf(i);
    return _mm256_cvtepi32_pd(
        _mm_setr_epi32(WarmLensTable[0][at.r], WarmLensTable[1][at.g], WarmLensTable[2][at.b], 0));
}

[[gnu::always_inline]] inline bool AnyNaN(Vec v) {
    return (_mm256_movemask_pd(_mm256_cmp_pd(v, v, _CMP_UNORD_Q)) & 7) != 0;
}

constexpr bool kLaneHsl = true;
// (green, blue, red, pad) and (blue, red, green, pad).
[[gnu::always_inline]] inline Vec RotateToGbr(Vec v) {
    return _mm256_permute4x64_pd(v, _MM_SHUFFLE(3, 0, 2, 1));
}
[[gnu::always_inline]] inline Vec RotateToBrg(Vec v) {
    return _mm256_permute4x64_pd(v, _MM_SHUFFLE(3, 1, 0, 2));
}
// Lane indices (as pairs of 32-bit halves) of the highest set bit of each
// red-green-blue mask pattern; no bit set gives red.
struct LanePicks {
    std::int32_t index[8][8];
};
constexpr LanePicks MakeLanePicks() {
    LanePicks t{};
    for (int bits = 0; bits < 8; ++bits) {
        const int lane = bits & 4 ? 2 : bits & 2 ? 1 : 0;
        for (int k = 0; k < 8; k += 2) {
            t.index[bits][k] = 2 * lane;
            t.index[bits][k + 1] = 2 * lane + 1;
        }
    }
    return t;
}
constexpr LanePicks kLanePicks = MakeLanePicks();
// The value of the last (bluest) lane whose mask is set, in every lane.
[[gnu::always_inline]] inline Vec SpreadLastMatch(Vec v, Mask m) {
    const int bits = _mm256_movemask_pd(m) & 7;
    const __m256i index =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kLanePicks.index[bits]));
    return _mm256_castps_pd(_mm256_permutevar8x32_ps(_mm256_castpd_ps(v), index));
}

[[gnu::always_inline]] inline __m128d RedLane(Vec v) { return _mm256_castpd256_pd128(v); }
[[gnu::always_inline]] inline __m128d GreenLane(Vec v) {
    return _mm_permute_pd(_mm256_castpd256_pd128(v), 1);
}
[[gnu::always_inline]] inline __m128d BlueLane(Vec v) { return _mm256_extractf128_pd(v, 1); }

#include "look/look_pixel_body.inc"

}  // namespace

void LookPixel8Avx2(const PreparedLook* look, std::int32_t x, std::int32_t y, const Pixel8* in,
                    Pixel8* out) {
    FastPixel<Depth8>(look, x, y, in, out);
}

void LookPixel16Avx2(const PreparedLook* look, std::int32_t x, std::int32_t y,
                     const Pixel16* in, Pixel16* out) {
    FastPixel<Depth16>(look, x, y, in, out);
}

RgbColor LookWorkingValuesAvx2(const PreparedLook& look, std::int32_t x, std::int32_t y,
                               RgbColor in) {
    return FastWorkingValues(look, x, y, in);
}

}  // namespace look

#pragma GCC pop_options
