// Every fast variant against the plain body, bit for bit: output pixels at
// both depths and the working values before truncation, over records that
// cover each stage, each shortcut and each pop-up item, and over records no
// host should send.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iomanip>
#include <iterator>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "look/color_math.h"
#include "look/look_settings.h"
#include "look/look_pixel.h"
#include "look/look_span.h"
#include "look/look_variants.h"
#include "tests/support/look_records.h"
#include "tests/variants/variant_settings.h"

using namespace look;

namespace {

using namespace variant_settings;

}  // namespace

// Test names show the variant.
namespace look {
void PrintTo(LookVariant variant, std::ostream* os) { *os << LookVariantName(variant); }
}  // namespace look

namespace {

// Same bits, except that any NaN matches any NaN (a NaN's payload never
// reaches an output code).
bool SameBits(double a, double b) {
    if (std::isnan(a) && std::isnan(b)) return true;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class VariantTest : public ::testing::TestWithParam<LookVariant> {
protected:
    void SetUp() override {
        if (!LookVariantRuns(GetParam())) {
            GTEST_SKIP() << "this processor lacks " << LookVariantName(GetParam());
        }
        fast_ = LookKernelsFor(GetParam());
        spans_ = SpanKernelsFor(GetParam());
        span_values_ = SpanValueKernelsFor(GetParam());
    }

    // Runs both bodies on one pixel; records the first few differences.
    void Check8(const Setting& s, const PreparedLook& prepared, std::int32_t x, std::int32_t y,
                Pixel8 in) {
        Pixel8 want{1, 2, 3, 4}, got{5, 6, 7, 8};
        LookPixel8Plain(&prepared, x, y, &in, &want);
        fast_.pixel8(&prepared, x, y, &in, &got);
        ++checked_;
        if (std::memcmp(&want, &got, sizeof want) != 0) {
            std::ostringstream m;
            m << std::setprecision(17) << s.name << " 8-bit at (" << x << ", " << y << ") in ("
              << +in.red << ", " << +in.green << ", " << +in.blue << "): want (" << +want.red
              << ", " << +want.green << ", " << +want.blue << ", a " << +want.alpha << ") got ("
              << +got.red << ", " << +got.green << ", " << +got.blue << ", a " << +got.alpha << ")";
            Report(m.str());
        }
    }

    void Check16(const Setting& s, const PreparedLook& prepared, std::int32_t x, std::int32_t y,
                 Pixel16 in) {
        Pixel16 want{1, 2, 3, 4}, got{5, 6, 7, 8};
        LookPixel16Plain(&prepared, x, y, &in, &want);
        fast_.pixel16(&prepared, x, y, &in, &got);
        ++checked_;
        if (std::memcmp(&want, &got, sizeof want) != 0) {
            std::ostringstream m;
            m << std::setprecision(17) << s.name << " 16-bit at (" << x << ", " << y << ") in ("
              << in.red << ", " << in.green << ", " << in.blue << "): want (" << want.red << ", "
              << want.green << ", " << want.blue << ") got (" << got.red << ", " << got.green
              << ", " << got.blue << ")";
            Report(m.str());
        }
    }

    void CheckWorking(const Setting& s, const PreparedLook& prepared, std::int32_t x,
                      std::int32_t y, RgbColor in) {
        const RgbColor want = LookWorkingValues(prepared, x, y, in);
        const RgbColor got = fast_.working_values(prepared, x, y, in);
        ++checked_;
        if (!SameBits(want.red, got.red) || !SameBits(want.green, got.green) ||
            !SameBits(want.blue, got.blue)) {
            std::ostringstream m;
            m << std::setprecision(17) << s.name << " working values at (" << x << ", " << y
              << ") in (" << in.red << ", " << in.green << ", " << in.blue << "): want ("
              << want.red << ", " << want.green << ", " << want.blue << ") got (" << got.red << ", "
              << got.green << ", " << got.blue << ")";
            Report(m.str());
        }
    }

    // A run of pixels through the variant's span, into another row and in
    // place, against the plain body pixel by pixel; columns past INT32_MAX
    // must be left as they were.
    template <typename Pixel, typename Span, typename Plain>
    void CheckSpan(const Setting& s, const char* what, const PreparedLook& prepared,
                   std::int32_t x0, std::int32_t y, const std::vector<Pixel>& in, Span span,
                   Plain plain) {
        const auto count = static_cast<std::int32_t>(in.size());
        Pixel sentinel;
        std::memset(&sentinel, 0xA5, sizeof sentinel);
        std::vector<Pixel> want(in.size(), sentinel), want_in_place = in;
        for (std::int32_t i = 0; i < count && std::int64_t{x0} + i <= INT32_MAX; ++i) {
            plain(prepared, x0 + i, y, &in[i], &want[i]);
            want_in_place[i] = want[i];
        }
        std::vector<Pixel> got(in.size(), sentinel), in_place = in;
        span(prepared, x0, y, in.data(), got.data(), count);
        span(prepared, x0, y, in_place.data(), in_place.data(), count);
        checked_ += count;
        for (std::int32_t i = 0; i < count; ++i) {
            const bool same = std::memcmp(&want[i], &got[i], sizeof(Pixel)) == 0;
            const bool same_in_place =
                std::memcmp(&want_in_place[i], &in_place[i], sizeof(Pixel)) == 0;
            if (same && same_in_place) continue;
            std::ostringstream m;
            m << s.name << " " << what << " span of " << count << " from (" << x0 << ", " << y
              << "), pixel " << i << (same ? " in place" : "") << ": in (" << +in[i].red << ", "
              << +in[i].green << ", " << +in[i].blue << ", a " << +in[i].alpha << ") want ("
              << +want[i].red << ", " << +want[i].green << ", " << +want[i].blue << ", a "
              << +want[i].alpha << ") got (" << +got[i].red << ", " << +got[i].green << ", "
              << +got[i].blue << ", a " << +got[i].alpha << ")";
            Report(m.str());
            return;
        }
    }

    // The finished working values of a run against the plain body's, bit
    // for bit: a last-bit difference on the way shows here long before it
    // moves a truncated code.
    template <typename Pixel, typename Values>
    void CheckSpanValues(const Setting& s, const char* what, const PreparedLook& prepared,
                         std::int32_t x0, std::int32_t y, const std::vector<Pixel>& in,
                         Values values, double scale) {
        const auto count = static_cast<std::int32_t>(in.size());
        std::vector<RgbColor> got(in.size(), RgbColor{-1, -1, -1});
        values(prepared, x0, y, in.data(), got.data(), count);
        for (std::int32_t i = 0; i < count && std::int64_t{x0} + i <= INT32_MAX; ++i) {
            const RgbColor from{in[i].red / scale * 255, in[i].green / scale * 255,
                                in[i].blue / scale * 255};
            const RgbColor want = LookWorkingValues(prepared, x0 + i, y, from);
            ++checked_;
            if (SameBits(want.red, got[i].red) && SameBits(want.green, got[i].green) &&
                SameBits(want.blue, got[i].blue)) {
                continue;
            }
            std::ostringstream m;
            m << std::setprecision(17) << s.name << " " << what << " span values from (" << x0
              << ", " << y << "), pixel " << i << ": want (" << want.red << ", " << want.green
              << ", " << want.blue << ") got (" << got[i].red << ", " << got[i].green << ", "
              << got[i].blue << ")";
            Report(m.str());
            return;
        }
    }

    // The same pixels (16-bit ones from the bytes' scale with random low
    // bits) through the 8-bit, RGBA and 16-bit spans.
    void CheckSpans(const Setting& s, const PreparedLook& prepared, std::int32_t x0,
                    std::int32_t y, const std::vector<Pixel8>& in, std::mt19937_64& rng) {
        CheckSpan(s, "8-bit", prepared, x0, y, in, spans_.span8,
                  [](const PreparedLook& l, std::int32_t x, std::int32_t yy, const Pixel8* i,
                     Pixel8* o) { LookPixel8Plain(&l, x, yy, i, o); });
        std::vector<RgbaPixel8> rgba;
        std::vector<Pixel16> wide;
        for (const Pixel8& px : in) {
            rgba.push_back({px.red, px.green, px.blue, px.alpha});
            const auto widen = [&rng](std::uint8_t v) {
                const auto w = static_cast<std::uint32_t>(v) * 128 + rng() % 129;
                // Now and then beyond full scale.
                return static_cast<std::uint16_t>(rng() % 64 == 0 ? w + 32768 : w);
            };
            wide.push_back({static_cast<std::uint16_t>(rng()), widen(px.red), widen(px.green),
                            widen(px.blue)});
        }
        CheckSpan(s, "RGBA", prepared, x0, y, rgba, spans_.rgba8,
                  [](const PreparedLook& l, std::int32_t x, std::int32_t yy, const RgbaPixel8* i,
                     RgbaPixel8* o) {
                      const Pixel8 from{i->alpha, i->red, i->green, i->blue};
                      Pixel8 to{};
                      LookPixel8Plain(&l, x, yy, &from, &to);
                      *o = {to.red, to.green, to.blue, to.alpha};
                  });
        CheckSpan(s, "16-bit", prepared, x0, y, wide, spans_.span16,
                  [](const PreparedLook& l, std::int32_t x, std::int32_t yy, const Pixel16* i,
                     Pixel16* o) { LookPixel16Plain(&l, x, yy, i, o); });
        CheckSpanValues(s, "8-bit", prepared, x0, y, in, span_values_.values8, 255.0);
        CheckSpanValues(s, "16-bit", prepared, x0, y, wide, span_values_.values16, 32768.0);
    }

    // Runs crossing each spot: every grey level (every fourth unless
    // thorough), then runs of every length up to a few groups, starting
    // anywhere relative to the lanes; when thorough, whole rows too.
    void CheckSpansAt(const Setting& s, const PreparedLook& prepared,
                      const std::vector<std::pair<std::int32_t, std::int32_t>>& spots,
                      std::mt19937_64& rng, int random_pixels, bool thorough) {
        const auto before = [](std::int32_t x, std::int32_t by) {
            return static_cast<std::int32_t>(std::max<std::int64_t>(INT32_MIN, std::int64_t{x} - by));
        };
        const auto random_pixel = [&rng] {
            return Pixel8{std::uint8_t(rng()), std::uint8_t(rng()), std::uint8_t(rng()),
                          std::uint8_t(rng())};
        };
        for (auto [x, y] : spots) {
            std::vector<Pixel8> grey;
            for (int v = 0; v < 256; v += thorough ? 1 : 4) {
                const auto c = static_cast<std::uint8_t>(v);
                grey.push_back({std::uint8_t(rng()), c, c, c});
            }
            CheckSpans(s, prepared, before(x, static_cast<std::int32_t>(grey.size() / 2)), y,
                       grey, rng);
        }
        for (int count = 1; count <= 13; ++count) {
            const auto [x, y] = spots[rng() % spots.size()];
            std::vector<Pixel8> run;
            for (int i = 0; i < count; ++i) run.push_back(random_pixel());
            CheckSpans(s, prepared, before(x, static_cast<std::int32_t>(rng() % 8)), y, run, rng);
        }
        const auto [x, y] = spots[rng() % spots.size()];
        std::vector<Pixel8> run;
        for (int i = 0; i < random_pixels; ++i) run.push_back(random_pixel());
        CheckSpans(s, prepared, before(x, random_pixels / 2), y, run, rng);
        // Whole rows, and rows less a few columns at either end, where the
        // span pairs each column with its mirror image.
        const std::int32_t width = s.params.width;
        if (thorough && width > 0 && width <= 4096) {
            const auto cut = static_cast<std::int32_t>(rng() % 6);
            for (auto [from, to] : {std::pair{0, width}, std::pair{cut, width - 5 + cut}}) {
                if (to <= from) continue;
                std::vector<Pixel8> row;
                for (std::int32_t i = from; i < to; ++i) row.push_back(random_pixel());
                CheckSpans(s, prepared, from, spots[rng() % spots.size()].second, row, rng);
            }
        }
    }

    // Positions across the frame and around it: centre, corners, the inner
    // radius's neighbourhood, beyond the frame and far outside.
    static std::vector<std::pair<std::int32_t, std::int32_t>> Spots(const LookParams& p,
                                                                    std::mt19937_64& rng) {
        const std::int32_t w = p.width > 0 && p.width < 100000 ? p.width : 640;
        const std::int32_t h = p.height > 0 && p.height < 100000 ? p.height : 480;
        std::vector<std::pair<std::int32_t, std::int32_t>> spots = {
            {w / 2, h / 2}, {0, 0},      {w - 1, h - 1},    {w / 2 + 1, h / 2},
            {-5, h + 7},    {w * 3, -h}, {INT_MAX, INT_MIN}};
        // On and beside the inner circle, along the row through the centre.
        const double inner = p.vignette_radius / 255 * p.half_diagonal;
        if (std::isfinite(inner) && std::fabs(inner) < 1e6) {
            const auto c = static_cast<std::int32_t>(w * 0.5 + inner);
            for (std::int32_t dx = -1; dx <= 1; ++dx) spots.push_back({c + dx, h / 2});
        }
        for (int i = 0; i < 9; ++i) {
            spots.push_back(
                {static_cast<std::int32_t>(rng() % w), static_cast<std::int32_t>(rng() % h)});
        }
        return spots;
    }

    // All grey levels at every spot, every value of each channel with the
    // other two random, random colours, random 16-bit colours and the
    // 16-bit edges, and working values off the usual scale.
    void CheckSetting(const Setting& s, int random_pixels, bool thorough = true) {
        const PreparedLook prepared = PrepareLook(s.params);
        std::mt19937_64 rng(std::hash<std::string>{}(s.name));
        const auto spots = Spots(s.params, rng);
        for (auto [x, y] : spots) {
            for (int v = 0; v < 256; ++v) {
                const auto c = static_cast<std::uint8_t>(v);
                Check8(s, prepared, x, y, {c, c, c, c});
            }
        }
        for (int channel = 0; channel < 3; ++channel) {
            for (int v = 0; v < 256; ++v) {
                const auto [x, y] = spots[rng() % spots.size()];
                std::uint8_t rgb[3] = {std::uint8_t(rng()), std::uint8_t(rng()),
                                       std::uint8_t(rng())};
                rgb[channel] = static_cast<std::uint8_t>(v);
                Check8(s, prepared, x, y, {std::uint8_t(rng()), rgb[0], rgb[1], rgb[2]});
            }
        }
        for (int i = 0; i < random_pixels; ++i) {
            const auto [x, y] = spots[rng() % spots.size()];
            Check8(s, prepared, x, y,
                   {std::uint8_t(rng()), std::uint8_t(rng()), std::uint8_t(rng()),
                    std::uint8_t(rng())});
            const auto wide = [&rng] { return std::uint16_t(rng() % 32769); };
            Check16(s, prepared, x, y, {std::uint16_t(rng()), wide(), wide(), wide()});
        }
        const std::uint16_t edges[] = {0, 1, 128, 16384, 32767, 32768, 32769, 65535};
        for (std::uint16_t r : edges) {
            for (std::uint16_t g : edges) {
                for (std::uint16_t b : edges)
                    Check16(s, prepared, spots[0].first, spots[1].second, {7, r, g, b});
            }
        }
        CheckSpansAt(s, prepared, spots, rng, random_pixels, thorough);
        std::uniform_real_distribution<double> off_scale(-20, 280);
        const double odd[] = {kNaN,   kInf,   -kInf,    -0.0,     0.0,   255.0,
                              127.5,  1e300,  -1e300,   4.9e-324, 1e-310, 0.49999999999999994,
                              254.5,  128.0,  127.99999999999999};
        for (int i = 0; i < random_pixels / 4; ++i) {
            const auto [x, y] = spots[rng() % spots.size()];
            double rgb[3];
            for (double& v : rgb) {
                v = rng() % 8 == 0 ? odd[rng() % std::size(odd)] : off_scale(rng);
                if (rng() % 3 == 0) v = std::round(v);
            }
            CheckWorking(s, prepared, x, y, {rgb[0], rgb[1], rgb[2]});
        }
    }

    // The first few differences in full, then only their count.
    void Report(const std::string& what) {
        if (++failures_ <= 5) ADD_FAILURE() << what;
    }

    void TearDown() override {
        if (failures_ > 0) ADD_FAILURE() << failures_ << " of " << checked_ << " checks differ";
    }

    LookKernels fast_{};
    SpanKernels spans_{};
    SpanValueKernels span_values_{};
    long failures_ = 0;
    long checked_ = 0;
};

TEST_P(VariantTest, MatchesPlainBodyForEachStageAndShortcut) {
    for (const Setting& s : Settings()) CheckSetting(s, 1500);
}

TEST_P(VariantTest, MatchesPlainBodyOnRecordsNoHostShouldSend) {
    for (const Setting& s : OddSettings()) CheckSetting(s, 100, false);
}

TEST_P(VariantTest, MatchesPlainBodyOnRandomRecords) {
    std::mt19937_64 rng(31337);
    for (int i = 0; i < 400; ++i)
        CheckSetting({"random " + std::to_string(i), look_records::Random(rng)}, 300);
}

// Only PrepareLook makes a prepared look, so no variant can be handed a
// record nobody prepared; a null one leaves the pixel alone.
static_assert(!std::is_default_constructible_v<PreparedLook>);
static_assert(!std::is_constructible_v<PreparedLook, LookParams>);
static_assert(!std::is_aggregate_v<PreparedLook>);

TEST_P(VariantTest, NullLookLeavesThePixelAlone) {
    Pixel8 in{1, 2, 3, 4}, out{9, 8, 7, 6};
    fast_.pixel8(nullptr, 0, 0, &in, &out);
    EXPECT_EQ(out.alpha, 9);
    EXPECT_EQ(out.blue, 6);
    Pixel16 in16{1, 2, 3, 4}, out16{9, 8, 7, 6};
    fast_.pixel16(nullptr, 0, 0, &in16, &out16);
    EXPECT_EQ(out16.alpha, 9);
    EXPECT_EQ(out16.blue, 6);
}

TEST_P(VariantTest, InPlaceGivesTheSameResult) {
    PreparedLook p = PrepareLook(Heavy());
    for (int v = 0; v < 256; ++v) {
        Pixel8 in{33, std::uint8_t(v), std::uint8_t(255 - v), 10}, out{};
        fast_.pixel8(&p, 5, 6, &in, &out);
        fast_.pixel8(&p, 5, 6, &in, &in);
        ASSERT_EQ(std::memcmp(&in, &out, sizeof in), 0) << v;
        Pixel16 in16{33, std::uint16_t(v * 128), std::uint16_t(32768 - v), 10}, out16{};
        fast_.pixel16(&p, 5, 6, &in16, &out16);
        fast_.pixel16(&p, 5, 6, &in16, &in16);
        ASSERT_EQ(std::memcmp(&in16, &out16, sizeof in16), 0) << v;
    }
}

INSTANTIATE_TEST_SUITE_P(Fast, VariantTest,
                         ::testing::Values(LookVariant::kSse2, LookVariant::kAvx2),
                         [](const auto& param_info) {
                             return std::string(LookVariantName(param_info.param));
                         });

}  // namespace

namespace {

// The factory hands out the plain body, the SSE2 body and a variant this
// processor runs; a variant it cannot run falls back to SSE2.
TEST(LookVariants, FactoryNamesTheBodies) {
    const LookKernels plain = LookKernelsFor(LookVariant::kPlain);
    EXPECT_EQ(plain.pixel8, static_cast<PixelFunction8>(&LookPixel8Plain));
    EXPECT_EQ(plain.pixel16, static_cast<PixelFunction16>(&LookPixel16Plain));
    const LookKernels sse2 = LookKernelsFor(LookVariant::kSse2);
    EXPECT_EQ(sse2.pixel8, &LookPixel8Sse2);
    EXPECT_EQ(sse2.pixel16, &LookPixel16Sse2);
    EXPECT_TRUE(LookVariantRuns(LookVariant::kPlain));
    EXPECT_TRUE(LookVariantRuns(LookVariant::kSse2));
    const LookVariant fastest = FastestLookVariant();
    EXPECT_TRUE(LookVariantRuns(fastest));
    EXPECT_NE(fastest, LookVariant::kPlain);
    EXPECT_EQ(FastestLookKernels().pixel8, LookKernelsFor(fastest).pixel8);
    EXPECT_EQ(FastestLookKernels().pixel16, LookKernelsFor(fastest).pixel16);
    const LookKernels avx2 = LookKernelsFor(LookVariant::kAvx2);
    if (LookVariantRuns(LookVariant::kAvx2)) {
        EXPECT_EQ(fastest, LookVariant::kAvx2);
        EXPECT_EQ(avx2.pixel8, &LookPixel8Avx2);
    } else {
        EXPECT_EQ(avx2.pixel8, &LookPixel8Sse2);
    }
}

// Preparing copies the settings and derives the values the formulas
// compute; preparing the same settings again gives the same bytes.
TEST(LookVariants, PreparingIsRepeatable) {
    LookParams settings{};
    settings.vignette_radius = 90;
    settings.vignette_amount = 40;
    settings.color = -30;
    settings.color_type = 2;
    settings.contrast = 17;
    settings.brightness = 0.6;
    settings.xprocess = 99;
    settings.xprocess_type = 3;
    settings.lens_type = 3;
    settings.width = 300;
    settings.height = 200;
    settings.half_diagonal = 0.5 * std::sqrt(300.0 * 300 + 200.0 * 200);
    const PreparedLook once = PrepareLook(settings);
    const PreparedLook twice = PrepareLook(settings);
    EXPECT_EQ(std::memcmp(&once, &twice, sizeof once), 0);
    EXPECT_EQ(std::memcmp(&once.settings(), &settings, sizeof settings), 0);
    const LookFrame& f = once.frame();
    EXPECT_EQ(f.xprocess_index, 2);
    EXPECT_EQ(f.lens_index, 2);
    EXPECT_EQ(f.inner_radius, 90.0 / 255 * settings.half_diagonal);
    EXPECT_EQ(f.brightness_k, 1 - 0.6);
    EXPECT_NE(f.stages & LOOK_LENS_TABLE, 0u);
    EXPECT_NE(f.stages & LOOK_CAST_OVERLAY, 0u);
    EXPECT_NE(f.stages & LOOK_BRIGHTNESS_TABLE, 0u);
    EXPECT_EQ(f.stages & (LOOK_XPROCESS_FULL | LOOK_XPROCESS_OFF | LOOK_CONTRAST_OFF), 0u);
}

}  // namespace
