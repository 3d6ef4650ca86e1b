// Every fast variant against the plain body, bit for bit: output pixels at
// both depths and the working values before truncation, over records that
// cover each stage, each shortcut and each pop-up item, and over records no
// host should send.
#include <gtest/gtest.h>

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
#include "look/look_params.h"
#include "look/look_pixel.h"
#include "look/look_variants.h"
#include "tests/support/look_records.h"

using namespace look;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Setting {
    std::string name;
    LookParams params;
};

LookParams Frame(std::int32_t width, std::int32_t height, const LookParams& p) {
    return look_records::AtFrame(p, width, height);
}

// The parameters' defaults on a 1920 x 1080 frame.
LookParams Defaults() { return Frame(1920, 1080, look_records::Defaults()); }

LookParams Heavy() { return look_records::Heavy(Defaults(), 6); }

template <typename Field, typename Value>
Setting With(const std::string& name, LookParams base, Field field, Value value) {
    base.*field = value;
    return {name, base};
}

std::vector<Setting> Settings() {
    std::vector<Setting> s;
    const LookParams d = Defaults();
    const LookParams h = Heavy();
    s.push_back({"defaults", d});
    s.push_back({"heavy", h});
    for (const LookParams& base : {d, h}) {
        const std::string tag = &base == &d ? "" : "heavy ";
        for (std::int32_t t : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, INT_MIN}) {
            LookParams p = base;
            p.xprocess_type = t;
            for (double amount : {0.0, 180.0, 255.0}) {
                p.xprocess = amount;
                s.push_back({tag + "xprocess type " + std::to_string(t) + " amount " +
                                 std::to_string(amount),
                             p});
            }
        }
        for (std::int32_t lens : {0, 1, 2, 3, 4, 5}) {
            s.push_back(
                With(tag + "lens " + std::to_string(lens), base, &LookParams::lens_type, lens));
        }
        for (std::int32_t type : {0, 1, 2, 3}) {
            LookParams p = base;
            p.color_type = type;
            for (double color : {0.0, -0.0, 60.0, -60.0, 127.0, -127.0, 0.5}) {
                p.color = color;
                s.push_back(
                    {tag + "color type " + std::to_string(type) + " " + std::to_string(color), p});
            }
        }
        for (double b : {0.1, 0.5, 0.95, 1.0, 1.05, 1.4, 1.9}) {
            s.push_back(
                With(tag + "brightness " + std::to_string(b), base, &LookParams::brightness, b));
        }
        for (double c : {0.0, -0.0, 1.0, 128.0, 254.5, 255.0}) {
            s.push_back(
                With(tag + "contrast " + std::to_string(c), base, &LookParams::contrast, c));
        }
        for (double x : {-0.0, 1.0, 100.0, 254.0, 255.0}) {
            s.push_back(
                With(tag + "xprocess " + std::to_string(x), base, &LookParams::xprocess, x));
        }
        for (double r : {0.0, 1e-9, 31.875, 255.0}) {
            LookParams p = base;
            p.vignette_radius = r;
            for (double amount : {0.0, 255.0}) {
                p.vignette_amount = amount;
                p.dodge = 255 - amount;
                s.push_back(
                    {tag + "radius " + std::to_string(r) + " amount " + std::to_string(amount), p});
            }
        }
        // Odd frames: odd sizes put the centre between pixels; the smallest
        // frames reach the inner-radius floor.
        for (auto [w, hgt] :
             {std::pair{21, 11}, std::pair{1, 1}, std::pair{2, 2}, std::pair{640, 480}}) {
            s.push_back({tag + "frame " + std::to_string(w) + "x" + std::to_string(hgt),
                         Frame(w, hgt, base)});
        }
    }
    return s;
}

// Records no host should send: every double field non-finite, huge or tiny,
// alone and all at once; sizes at the ends of their range.
std::vector<Setting> OddSettings() {
    std::vector<Setting> s;
    const double odd_doubles[] = {kNaN, kInf, -kInf, 1e308, -1e308, 4.9e-324, -0.0, 1e20, -3};
    double LookParams::*doubles[] = {&LookParams::vignette_radius, &LookParams::vignette_amount,
                                     &LookParams::dodge,           &LookParams::color,
                                     &LookParams::contrast,        &LookParams::brightness,
                                     &LookParams::xprocess,        &LookParams::half_diagonal};
    const char* names[] = {"vignette_radius", "vignette_amount", "dodge",    "color",
                           "contrast",        "brightness",      "xprocess", "half_diagonal"};
    for (std::int32_t type : {5, 6, 7, 8}) {
        for (std::int32_t lens : {2, 4}) {
            LookParams base = Heavy();
            base.xprocess_type = type;
            base.lens_type = lens;
            const std::string tag =
                "type " + std::to_string(type) + " lens " + std::to_string(lens) + " ";
            for (int f = 0; f < 8; ++f) {
                for (double v : odd_doubles) {
                    LookParams p = base;
                    p.*doubles[f] = v;
                    std::ostringstream name;
                    name << tag << names[f] << " " << v;
                    s.push_back({name.str(), p});
                }
            }
            for (double v : odd_doubles) {
                LookParams p = base;
                for (auto field : doubles) p.*field = v;
                std::ostringstream name;
                name << tag << "all " << v;
                s.push_back({name.str(), p});
            }
            for (std::int32_t size : {INT_MIN, -1, 0, INT_MAX}) {
                LookParams p = base;
                p.width = size;
                s.push_back({tag + "width " + std::to_string(size), p});
                p = base;
                p.height = size;
                s.push_back({tag + "height " + std::to_string(size), p});
            }
        }
    }
    return s;
}


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
    }

    // Runs both bodies on one pixel; records the first few differences.
    void Check8(const Setting& s, const PreparedLook& prepared, std::int32_t x, std::int32_t y,
                PF_Pixel8 in) {
        PF_Pixel8 want{1, 2, 3, 4}, got{5, 6, 7, 8};
        PF_Pixel8 in_copy = in;
        void* refcon = const_cast<PreparedLook*>(&prepared);
        LookPixel8Plain(refcon, x, y, &in, &want);
        fast_.pixel8(refcon, x, y, &in_copy, &got);
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
                 PF_Pixel16 in) {
        PF_Pixel16 want{1, 2, 3, 4}, got{5, 6, 7, 8};
        PF_Pixel16 in_copy = in;
        void* refcon = const_cast<PreparedLook*>(&prepared);
        LookPixel16Plain(refcon, x, y, &in, &want);
        fast_.pixel16(refcon, x, y, &in_copy, &got);
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
    void CheckSetting(const Setting& s, int random_pixels) {
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
    long failures_ = 0;
    long checked_ = 0;
};

TEST_P(VariantTest, MatchesPlainBodyForEachStageAndShortcut) {
    for (const Setting& s : Settings()) CheckSetting(s, 1500);
}

TEST_P(VariantTest, MatchesPlainBodyOnRecordsNoHostShouldSend) {
    for (const Setting& s : OddSettings()) CheckSetting(s, 100);
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
    PF_Pixel8 in{1, 2, 3, 4}, out{9, 8, 7, 6};
    EXPECT_EQ(fast_.pixel8(nullptr, 0, 0, &in, &out), PF_Err_NONE);
    EXPECT_EQ(out.alpha, 9);
    EXPECT_EQ(out.blue, 6);
    PF_Pixel16 in16{1, 2, 3, 4}, out16{9, 8, 7, 6};
    EXPECT_EQ(fast_.pixel16(nullptr, 0, 0, &in16, &out16), PF_Err_NONE);
    EXPECT_EQ(out16.alpha, 9);
    EXPECT_EQ(out16.blue, 6);
}

TEST_P(VariantTest, InPlaceGivesTheSameResult) {
    PreparedLook p = PrepareLook(Heavy());
    for (int v = 0; v < 256; ++v) {
        PF_Pixel8 in{33, std::uint8_t(v), std::uint8_t(255 - v), 10}, out{};
        fast_.pixel8(&p, 5, 6, &in, &out);
        fast_.pixel8(&p, 5, 6, &in, &in);
        ASSERT_EQ(std::memcmp(&in, &out, sizeof in), 0) << v;
        PF_Pixel16 in16{33, std::uint16_t(v * 128), std::uint16_t(32768 - v), 10}, out16{};
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
    EXPECT_EQ(plain.pixel8, &LookPixel8Plain);
    EXPECT_EQ(plain.pixel16, &LookPixel16Plain);
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
