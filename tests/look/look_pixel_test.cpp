#include "look/look_pixel.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <type_traits>

#include "look/color_math.h"
#include "look/look_settings.h"
#include "look/look_tables.h"
#include "tests/support/look_records.h"

namespace {

using namespace look;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Everything off; the frame is 640 x 480 with its true half diagonal.
LookParams Neutral() {
    LookParams p{};
    p.vignette_radius = 170;
    p.vignette_amount = 0;
    p.dodge = 0;
    p.color = 0;
    p.color_type = 1;
    p.contrast = 0;
    p.brightness = 1;
    p.xprocess = 0;
    p.xprocess_type = 1;
    p.lens_type = 1;
    p.half_diagonal = 400;
    p.width = 640;
    p.height = 480;
    return p;
}

Pixel8 Run8(const LookParams& p, std::int32_t x, std::int32_t y, Pixel8 in) {
    Pixel8 out{1, 2, 3, 4};
    PreparedLook prepared = PrepareLook(p);
    LookPixel8Plain(&prepared, x, y, &in, &out);
    return out;
}

Pixel16 Run16(const LookParams& p, std::int32_t x, std::int32_t y, Pixel16 in) {
    Pixel16 out{1, 2, 3, 4};
    PreparedLook prepared = PrepareLook(p);
    LookPixel16Plain(&prepared, x, y, &in, &out);
    return out;
}

// A grey input at a pixel off the centre, on the dodge side of radius 170.
Pixel8 Grey8(const LookParams& p, int v) {
    const auto c = static_cast<std::uint8_t>(v);
    return Run8(p, 100, 100, {255, c, c, c});
}

template <typename Pixel>
::testing::AssertionResult HasRgb(const Pixel& px, int r, int g, int b) {
    if (px.red == r && px.green == g && px.blue == b) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << +px.red << ", " << +px.green << ", "
                                         << +px.blue << "), want (" << r << ", " << g << ", " << b
                                         << ")";
}
#define EXPECT_RGB(px, r, g, b) EXPECT_TRUE(HasRgb((px), (r), (g), (b)))

// --- a second, plain transcription of the look -------------------------------

double Lim(double v) {
    if (v > 255) {
        v = 255;
    } else if (v < 0) {
        v = 0;
    }
    return v;
}

int Idx(double v) { return static_cast<int>(std::round(Lim(v))); }

double Part(const CurveEntry& e, int c) { return c == 0 ? e.red : c == 1 ? e.green : e.blue; }

// Finished working values for valid records and finite channels.
std::array<double, 3> ReferenceLook(const LookParams& p, int x, int y, std::array<double, 3> ch) {

    const double D = std::sqrt((y - p.height * 0.5) * (y - p.height * 0.5) +
                               (x - p.width * 0.5) * (x - p.width * 0.5));
    double A = p.vignette_radius / 255 * p.half_diagonal;
    if (A <= 1e-5) A = 1e-7;
    const bool outside = D > A;
    const double Q = outside ? (D - A) / (p.half_diagonal - A) : 0;

    int u = p.xprocess_type - 1;
    if (u < 0) u = 0;
    if (u > 7) u = 7;
    int n = p.lens_type - 1;
    if (n < 0) n = 0;
    if (n > 3) n = 3;
    const bool type2 = p.color_type - 1 > 0;

    if (n == 1 || n == 2)
        for (int c = 0; c < 3; ++c) ch[c] = Part(LensTable[n - 1][Idx(ch[c])], c);
    if (u == 7) {
        const RgbColor t = VintageTint(ch[0], ch[1], ch[2], p.xprocess);
        ch[0] = t.red;
        ch[1] = t.green;
        ch[2] = t.blue;
    }
    for (double& v : ch) v = Lim(v);

    const double cool[3] = {2, 101, 160}, warm[3] = {108, 59, 24};
    for (int c = 0; c < 3; ++c) {
        double v = ch[c];
        if (outside) {
            const double cap = p.vignette_amount / 6;
            double offset = Q * cap;
            if (offset > cap) {
                offset = cap;
            } else if (offset < 0) {
                offset = 0;
            }
            v = v - offset;
        }
        v = Lim(v);
        if (!type2) {
            if (c == 1) v = p.color / 12 + v;
            if (c == 2) v = v - p.color * 0.25;
        } else if (p.color != 0) {
            const double K = p.color > 0 ? cool[c] : warm[c];
            const double m = std::abs(p.color);
            double ov;
            if (v < 128) {
                ov = v * K * 2 / 255;
            } else {
                ov = (v + K - v * K / 255) * 2 - 255;
            }
            v = ov * m / 127 + (127 - m) * v / 127;
        }
        v = Lim(v);
        double w, blend;
        if (outside) {
            const double curve = (Q * 25500) * (Q * 25500) / 25500;
            w = curve / 25500 * p.vignette_amount;
            blend = 255 > v * 2 ? 0 : v * 2 - 255;
        } else {
            w = (A - D) * (A - D) / p.half_diagonal / A * p.dodge;
            blend = v + v > 255 ? 255 : v + v;
        }
        v = (255 - w) * v / 255 + w * blend / 255;
        const double E = Lim(v);
        double S;
        if (E < 128) {
            S = (E / 255 * 128 * 2 + 128) * E / 255;
        } else {
            S = 255 - (255 - (E / 255 * 128 + 64)) * 2 * (255 - E) / 255;
        }
        v = S * p.contrast / 255 + (255 - p.contrast) * E / 255;
        if (p.brightness > 1) {
            const double k = p.brightness - 1;
            v = BrightenTable[Idx(v)].red * k / 0.9 + (0.9 - k) * v / 0.9;
        } else if (p.brightness < 1) {
            const double k = 1 - p.brightness;
            v = DarkenTable[Idx(v)].red * k / 0.9 + (0.9 - k) * v / 0.9;
        }
        v = Lim(v);
        v = Part(XProcessTable[u][Idx(v)], c) * p.xprocess / 255 + (255 - p.xprocess) * v / 255;
        ch[c] = Lim(v);
    }
    if (n == 3)
        for (int c = 0; c < 3; ++c) ch[c] = WarmLensTable[c][Idx(ch[c])];
    if (u == 6) {
        double grey = ch[1] * 0.39 + ch[0] * 0.25 + ch[2] * 0.36;
        if (grey > 255) {
            grey = 255;
        } else if (grey < 0) {
            grey = 0;
        }
        ch[0] = ch[1] = ch[2] = grey;
    } else if (u == 5) {
        const HslColor h = RgbToHsl(ch[0], ch[1], ch[2]);
        const RgbColor r = HslToRgb(h.hue, h.saturation * 0.8, h.lightness);
        ch[0] = r.red;
        ch[1] = r.green;
        ch[2] = r.blue;
    }
    return {Lim(ch[0]), Lim(ch[1]), Lim(ch[2])};
}

std::array<double, 3> ReferenceLook(const LookParams& p, int x, int y, const int in[3], double M) {
    return ReferenceLook(p, x, y, {in[0] / M * 255, in[1] / M * 255, in[2] / M * 255});
}

// Codes are the integer part of ch / 255 * M at both depths.
int ReferenceCode(double v, double M) {
    const double s = std::trunc(v / 255 * M);
    return static_cast<int>(s > M ? M : s);
}


TEST(LookPixel, MatchesPlainTranscriptionOnRandomPixels) {
    std::mt19937_64 rng(2024);
    for (int i = 0; i < 150000; ++i) {
        const LookParams p = look_records::Random(rng);
        const int x = static_cast<int>(rng() % p.width), y = static_cast<int>(rng() % p.height);
        const int in8[3] = {int(rng() % 256), int(rng() % 256), int(rng() % 256)};
        const auto want8 = ReferenceLook(p, x, y, in8, 255);
        const Pixel8 got8 = Run8(p, x, y, {7, std::uint8_t(in8[0]), std::uint8_t(in8[1]), std::uint8_t(in8[2])});
        ASSERT_EQ(got8.red, ReferenceCode(want8[0], 255)) << i;
        ASSERT_EQ(got8.green, ReferenceCode(want8[1], 255)) << i;
        ASSERT_EQ(got8.blue, ReferenceCode(want8[2], 255)) << i;
        ASSERT_EQ(got8.alpha, 7);

        const int in16[3] = {int(rng() % 32769), int(rng() % 32769), int(rng() % 32769)};
        const auto want16 = ReferenceLook(p, x, y, in16, 32768);
        const Pixel16 got16 = Run16(p, x, y, {9, std::uint16_t(in16[0]), std::uint16_t(in16[1]), std::uint16_t(in16[2])});
        ASSERT_EQ(got16.red, ReferenceCode(want16[0], 32768)) << i;
        ASSERT_EQ(got16.green, ReferenceCode(want16[1], 32768)) << i;
        ASSERT_EQ(got16.blue, ReferenceCode(want16[2], 32768)) << i;
        ASSERT_EQ(got16.alpha, 9);
    }
}

// Compares the working values bit for bit: a regrouped product or a swapped
// operand shows up here long before it moves a truncated code.
TEST(LookPixel, WorkingValuesMatchPlainTranscriptionExactly) {
    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> channel(-20, 280);
    for (int i = 0; i < 300000; ++i) {
        const LookParams p = look_records::Random(rng);
        const int x = static_cast<int>(rng() % p.width), y = static_cast<int>(rng() % p.height);
        std::array<double, 3> in;
        for (double& v : in) {
            v = channel(rng);
            if (i % 3 == 0) v = std::round(v);
        }
        const auto want = ReferenceLook(p, x, y, in);
        const RgbColor got = LookWorkingValues(PrepareLook(p), x, y, {in[0], in[1], in[2]});
        ASSERT_EQ(got.red, want[0]) << i;
        ASSERT_EQ(got.green, want[1]) << i;
        ASSERT_EQ(got.blue, want[2]) << i;
    }
}

// --- records and calling convention -----------------------------------------

TEST(LookPixel, NullRecordLeavesOutputUntouched) {
    Pixel8 in8{1, 2, 3, 4}, out8{9, 8, 7, 6};
    LookPixel8Plain(nullptr, 0, 0, &in8, &out8);
    EXPECT_EQ(out8.alpha, 9);
    EXPECT_EQ(out8.red, 8);
    EXPECT_EQ(out8.green, 7);
    EXPECT_EQ(out8.blue, 6);
    Pixel16 in16{1, 2, 3, 4}, out16{9, 8, 7, 6};
    LookPixel16Plain(nullptr, 0, 0, &in16, &out16);
    EXPECT_EQ(out16.alpha, 9);
    EXPECT_EQ(out16.blue, 6);
}

TEST(LookPixel, SettingsKeepTheirFieldOrder) {
    EXPECT_LT(offsetof(LookParams, vignette_radius), offsetof(LookParams, vignette_amount));
    EXPECT_LT(offsetof(LookParams, color), offsetof(LookParams, color_type));
    EXPECT_LT(offsetof(LookParams, color_type), offsetof(LookParams, contrast));
    EXPECT_LT(offsetof(LookParams, xprocess_type), offsetof(LookParams, lens_type));
    EXPECT_LT(offsetof(LookParams, lens_type), offsetof(LookParams, half_diagonal));
    EXPECT_LT(offsetof(LookParams, width), offsetof(LookParams, height));
}

TEST(LookPixel, InPlaceGivesTheSameResult) {
    LookParams p = Neutral();
    p.xprocess = 200;
    p.xprocess_type = 6;
    p.lens_type = 2;
    p.contrast = 128;
    Pixel8 in{33, 200, 90, 10}, out{};
    PreparedLook prepared = PrepareLook(p);
    LookPixel8Plain(&prepared, 5, 6, &in, &out);
    Pixel8 same = in;
    LookPixel8Plain(&prepared, 5, 6, &same, &same);
    EXPECT_EQ(same.alpha, out.alpha);
    EXPECT_RGB(same, out.red, out.green, out.blue);
}

// --- neutral settings -------------------------------------------------------

TEST(LookPixel, NeutralSettingsReturnEvery8BitValue) {
    for (int type = 1; type <= 5; ++type) {
        for (int color_type = 1; color_type <= 2; ++color_type) {
            LookParams p = Neutral();
            p.xprocess_type = type;
            p.color_type = color_type;
            for (int v = 0; v < 256; ++v) {
                const auto c = static_cast<std::uint8_t>(v);
                const auto o = static_cast<std::uint8_t>(255 - v);
                for (auto [x, y] : {std::pair{320, 240}, std::pair{0, 0}, std::pair{17, 400}}) {
                    const Pixel8 out = Run8(p, x, y, {c, c, o, std::uint8_t(v / 2)});
                    ASSERT_EQ(out.alpha, c);
                    ASSERT_EQ(out.red, c);
                    ASSERT_EQ(out.green, o);
                    ASSERT_EQ(out.blue, v / 2);
                }
            }
        }
    }
}

TEST(LookPixel, NeutralSettingsReturnEvery16BitValue) {
    for (int color_type = 1; color_type <= 2; ++color_type) {
        LookParams p = Neutral();
        p.color_type = color_type;
        p.xprocess_type = color_type == 1 ? 3 : 5;
        for (int v = 0; v <= 32768; ++v) {
            const auto c = static_cast<std::uint16_t>(v);
            const auto o = static_cast<std::uint16_t>(32768 - v);
            const Pixel16 out = Run16(p, v % 640, v % 480, {c, o, c, std::uint16_t(v / 3)});
            ASSERT_EQ(out.alpha, c);
            ASSERT_EQ(out.red, o);
            ASSERT_EQ(out.green, c);
            ASSERT_EQ(out.blue, v / 3);
        }
    }
}

TEST(LookPixel, SixteenBitScaleIs32768) {
    const LookParams p = Neutral();
    const Pixel16 out = Run16(p, 3, 3, {0, 32768, 16384, 0});
    EXPECT_RGB(out, 32768, 16384, 0);
    // Values above full scale count as full scale.
    EXPECT_RGB(Run16(p, 3, 3, {0, 65535, 40000, 32769}), 32768, 32768, 32768);
}

TEST(LookPixel, AlphaIsCopiedAndNeverWeighs) {
    LookParams p = Neutral();
    p.contrast = 255;
    p.xprocess = 128;
    const Pixel8 opaque = Run8(p, 9, 9, {255, 40, 140, 230});
    const Pixel8 clear = Run8(p, 9, 9, {0, 40, 140, 230});
    EXPECT_EQ(clear.alpha, 0);
    EXPECT_RGB(clear, opaque.red, opaque.green, opaque.blue);
    const Pixel16 clear16 = Run16(p, 9, 9, {0, 4000, 20000, 30000});
    EXPECT_EQ(clear16.alpha, 0);
}

TEST(LookPixel, EightBitOutputTruncatesTheScaledValue) {
    // Brightness 0.82 takes a grey 9 to a working value just below 8; the
    // written code is the integer part of ch / 255 * 255, which is exactly 8,
    // and not the truncated working value 7.
    LookParams p = Neutral();
    p.brightness = 0.82;
    const RgbColor working = LookWorkingValues(PrepareLook(p), 100, 100, {9, 9, 9});
    EXPECT_LT(working.red, 8);
    EXPECT_GT(working.red, 7.99999);
    EXPECT_EQ(working.red / 255 * 255, 8.0);
    EXPECT_RGB(Grey8(p, 9), 8, 8, 8);
}

// --- vignette and dodge -----------------------------------------------------

TEST(Vignette, CentreDodgeDoublesTheChannel) {
    LookParams p = Neutral();
    p.vignette_radius = 255;
    p.dodge = 255;
    const int in[] = {0, 50, 100, 127, 128, 200, 255};
    const int want[] = {0, 100, 200, 254, 255, 255, 255};
    for (int i = 0; i < 7; ++i) {
        const auto c = static_cast<std::uint8_t>(in[i]);
        EXPECT_RGB(Run8(p, 320, 240, {0, c, c, c}), want[i], want[i], want[i]) << in[i];
    }
}

TEST(Vignette, PixelAtTheInnerRadiusIsUnchanged) {
    LookParams p = Neutral();
    p.vignette_radius = 31.875;  // A = 50, reached exactly by (350, 280)
    p.vignette_amount = 255;
    p.dodge = 255;
    for (int v : {0, 60, 128, 201, 255}) {
        const auto c = static_cast<std::uint8_t>(v);
        EXPECT_RGB(Run8(p, 350, 280, {0, c, c, c}), v, v, v);
    }
    // One pixel further out is darkened.
    EXPECT_LT(Run8(p, 351, 280, {0, 200, 200, 200}).red, 200);
}

TEST(Vignette, CornerOfFrameAtFullAmount) {
    LookParams p = Neutral();
    p.vignette_radius = 0;
    p.vignette_amount = 255;
    for (int v : {0, 100, 170}) {
        const auto c = static_cast<std::uint8_t>(v);
        EXPECT_RGB(Run8(p, 0, 0, {0, c, c, c}), 0, 0, 0) << v;
    }
    EXPECT_RGB(Run8(p, 0, 0, {0, 200, 200, 200}), 60, 60, 60);
    EXPECT_RGB(Run8(p, 0, 0, {0, 255, 255, 255}), 170, 170, 170);
    // Dodge does nothing outside the inner radius.
    p.dodge = 255;
    EXPECT_RGB(Run8(p, 0, 0, {0, 200, 200, 200}), 60, 60, 60);
}

TEST(Vignette, IsCircularInPixels) {
    LookParams p = Neutral();
    p.vignette_radius = 0;
    p.vignette_amount = 200;
    // (320 + 90, 240) and (320, 240 + 90) lie at the same distance.
    const Pixel8 across = Run8(p, 410, 240, {0, 150, 150, 150});
    const Pixel8 down = Run8(p, 320, 330, {0, 150, 150, 150});
    EXPECT_RGB(across, down.red, down.green, down.blue);
    EXPECT_LT(across.red, 150);
}

// --- colour cast, contrast, brightness ----------------------------------------

TEST(ColorCast, Type2PullsTowardTheBlendColours) {
    LookParams p = Neutral();
    p.color_type = 2;
    p.color = 127;
    EXPECT_RGB(Grey8(p, 128), 2, 101, 160);
    EXPECT_RGB(Grey8(p, 0), 0, 0, 0);
    EXPECT_RGB(Grey8(p, 255), 255, 255, 255);
    p.color = -127;
    EXPECT_RGB(Grey8(p, 128), 108, 59, 24);
    EXPECT_RGB(Grey8(p, 0), 0, 0, 0);
    EXPECT_RGB(Grey8(p, 255), 255, 255, 255);
}

TEST(ColorCast, Type1ShiftsGreenAndBlue) {
    LookParams p = Neutral();
    p.color = 127;
    EXPECT_RGB(Grey8(p, 128), 128, 138, 96);
    p.color = -127;
    EXPECT_RGB(Grey8(p, 128), 128, 117, 159);
}

TEST(ColorCast, TypesAboveTwoActAsType2AndBelowOneAsType1) {
    LookParams p = Neutral();
    p.color = 90;
    p.color_type = 2;
    const Pixel8 type2 = Grey8(p, 100);
    p.color_type = 1;
    const Pixel8 type1 = Grey8(p, 100);
    for (std::int32_t t : {3, 77, INT_MAX}) {
        p.color_type = t;
        EXPECT_RGB(Grey8(p, 100), type2.red, type2.green, type2.blue) << t;
    }
    for (std::int32_t t : {0, -4, INT_MIN}) {
        p.color_type = t;
        EXPECT_RGB(Grey8(p, 100), type1.red, type1.green, type1.blue) << t;
    }
}

TEST(Contrast, FullSoftLightCurve) {
    LookParams p = Neutral();
    p.contrast = 255;
    const int in[] = {0, 64, 127, 128, 192, 255};
    const int want[] = {0, 48, 127, 128, 208, 255};
    for (int i = 0; i < 6; ++i) {
        EXPECT_RGB(Grey8(p, in[i]), want[i], want[i], want[i]) << in[i];
    }
}

TEST(Brightness, LowestReadsTheDarkenTable) {
    LookParams p = Neutral();
    p.brightness = 0.1;
    for (int v = 0; v < 256; ++v) {
        const int want = DarkenTable[v].red;
        EXPECT_RGB(Grey8(p, v), want, want, want) << v;
    }
    EXPECT_EQ(Grey8(p, 128).red, 74);
}

TEST(Brightness, HighestFallsJustShortOfTheBrightenTable) {
    LookParams p = Neutral();
    p.brightness = 1.9;
    EXPECT_EQ(BrightenTable[96].red, 152);
    EXPECT_RGB(Grey8(p, 96), 151, 151, 151);
    EXPECT_RGB(Grey8(p, 128), 193, 193, 193);
}

// --- x-process, lenses, final treatments ---------------------------------------

TEST(XProcess, FullType1IsTheTable) {
    LookParams p = Neutral();
    p.xprocess = 255;
    EXPECT_RGB(Grey8(p, 0), 23, 23, 63);
    EXPECT_RGB(Grey8(p, 255), 255, 255, 236);
}

TEST(XProcess, PopupValuesOutsideTheListAreClamped) {
    LookParams p = Neutral();
    p.xprocess = 180;
    p.xprocess_type = 1;
    const Pixel8 first = Run8(p, 2, 2, {0, 30, 120, 220});
    p.xprocess_type = 8;
    const Pixel8 last = Run8(p, 2, 2, {0, 30, 120, 220});
    for (std::int32_t t : {0, -1, INT_MIN}) {
        p.xprocess_type = t;
        EXPECT_RGB(Run8(p, 2, 2, {0, 30, 120, 220}), first.red, first.green, first.blue) << t;
    }
    for (std::int32_t t : {9, 1000, INT_MAX}) {
        p.xprocess_type = t;
        EXPECT_RGB(Run8(p, 2, 2, {0, 30, 120, 220}), last.red, last.green, last.blue) << t;
    }
}

TEST(XProcess, BlackAndWhiteWeights) {
    LookParams p = Neutral();
    p.xprocess_type = 7;
    EXPECT_RGB(Run8(p, 1, 1, {0, 255, 0, 0}), 63, 63, 63);
    EXPECT_RGB(Run8(p, 1, 1, {0, 0, 255, 0}), 99, 99, 99);
    EXPECT_RGB(Run8(p, 1, 1, {0, 0, 0, 255}), 91, 91, 91);
    EXPECT_RGB(Run8(p, 1, 1, {0, 255, 255, 255}), 255, 255, 255);
    const Pixel8 mixed = Run8(p, 1, 1, {0, 12, 180, 99});
    EXPECT_EQ(mixed.red, mixed.green);
    EXPECT_EQ(mixed.green, mixed.blue);
}

TEST(XProcess, E6C41CutsSaturationEvenWithoutTheTable) {
    LookParams p = Neutral();
    p.xprocess_type = 6;
    // (200, 100, 50): hue 20, saturation 0.6 -> 0.48, lightness 125/255.
    const RgbColor want = HslToRgb(20, 0.6 * 0.8, 125.0 / 255);
    EXPECT_RGB(Run8(p, 1, 1, {0, 200, 100, 50}), int(want.red), int(want.green), int(want.blue));
    EXPECT_RGB(Run8(p, 1, 1, {0, 77, 77, 77}), 77, 77, 77);
}

TEST(XProcess, VintageTintsEvenWithoutTheTable) {
    LookParams p = Neutral();
    p.xprocess_type = 8;
    p.xprocess = 255;
    // Tint at full strength, then the "Vintage" table at full strength.
    const RgbColor t = VintageTint(128, 128, 128, 255);
    EXPECT_RGB(Grey8(p, 128), XProcessTable[7][LookupIndex(t.red)].red,
               XProcessTable[7][LookupIndex(t.green)].green, XProcessTable[7][LookupIndex(t.blue)].blue);
    p.xprocess = 0;
    EXPECT_RGB(Run8(p, 1, 1, {0, 200, 100, 50}), 200, 100, 50);
}

TEST(Lens, TablesReplaceTheChannels) {
    LookParams p = Neutral();
    p.lens_type = 2;
    EXPECT_RGB(Run8(p, 1, 1, {0, 0, 128, 255}), 6, 141, 232);
    p.lens_type = 3;
    EXPECT_RGB(Run8(p, 1, 1, {0, 0, 128, 255}), 62, 132, 198);
}

TEST(Lens, WarmLensAppliesAfterTheMixWhateverTheAmount) {
    LookParams p = Neutral();
    p.lens_type = 4;
    EXPECT_RGB(Grey8(p, 0), 0, 0, 35);
    EXPECT_RGB(Grey8(p, 255), 240, 237, 201);
    p.xprocess = 255;  // Type1 first: 255 -> (255, 255, 236)
    EXPECT_RGB(Grey8(p, 255), 240, 237, WarmLensTable[2][236]);
}

TEST(Lens, PopupValuesOutsideTheListAreClamped) {
    LookParams p = Neutral();
    for (std::int32_t t : {0, -3, INT_MIN}) {
        p.lens_type = t;
        EXPECT_RGB(Run8(p, 1, 1, {0, 10, 128, 250}), 10, 128, 250) << t;
    }
    for (std::int32_t t : {5, INT_MAX}) {
        p.lens_type = t;
        EXPECT_RGB(Grey8(p, 255), 240, 237, 201) << t;
    }
}

// --- records a host should not send -------------------------------------------

TEST(Robustness, ZeroDenominatorCountsAsTheCorner) {
    // Radius 255 puts the inner circle at the half diagonal; the image is
    // larger than the record says, so (0, 0) lies beyond it.
    LookParams p = Neutral();
    p.vignette_radius = 255;
    p.vignette_amount = 255;
    p.half_diagonal = 10;
    EXPECT_RGB(Run8(p, 0, 0, {0, 200, 200, 200}), 60, 60, 60);
    EXPECT_RGB(Run8(p, 0, 0, {0, 255, 255, 255}), 170, 170, 170);
    const Pixel16 deep = Run16(p, 0, 0, {0, 32768, 32768, 32768});
    EXPECT_RGB(deep, 21845, 21845, 21845);
}

TEST(Robustness, HalfDiagonalWithoutMeaningLeavesNoVignette) {
    for (double half_diagonal : {kNaN, kInf}) {
        LookParams p = Neutral();
        p.vignette_amount = 255;
        p.dodge = 255;
        p.half_diagonal = half_diagonal;
        for (auto [x, y] : {std::pair{320, 240}, std::pair{0, 0}, std::pair{639, 10}})
            EXPECT_RGB(Run8(p, x, y, {0, 40, 150, 250}), 40, 150, 250) << half_diagonal;
    }
    // Zero: the centre pixel (the only one inside the floor radius) is left alone.
    LookParams p = Neutral();
    p.dodge = 255;
    p.half_diagonal = 0;
    EXPECT_RGB(Run8(p, 320, 240, {0, 40, 150, 250}), 40, 150, 250);
}

TEST(Robustness, AnyRecordContentsGiveAPixelInRange) {
    const double odd_doubles[] = {kNaN, kInf, -kInf, 1e308, -1e308, 4.9e-324, -0.0, 1e20};
    const std::int32_t odd_ints[] = {INT_MIN, INT_MAX, 0, -1, 9};
    const Pixel8 in8[] = {{0, 0, 0, 0}, {200, 255, 255, 255}, {9, 128, 7, 250}};
    const Pixel16 in16[] = {{0, 0, 0, 0}, {1, 32768, 32768, 32768}, {2, 65535, 3, 40000}};
    const std::pair<std::int32_t, std::int32_t> spots[] = {
        {0, 0}, {320, 240}, {INT_MAX, INT_MIN}, {INT_MIN, INT_MAX}, {-5, 100000}};

    LookParams heavy = Neutral();
    heavy.vignette_amount = 255;
    heavy.dodge = 255;
    heavy.color = 60;
    heavy.color_type = 2;
    heavy.contrast = 128;
    heavy.brightness = 1.4;
    heavy.xprocess = 255;
    heavy.xprocess_type = 6;
    heavy.lens_type = 2;

    double LookParams::*doubles[] = {&LookParams::vignette_radius, &LookParams::vignette_amount,
                                     &LookParams::dodge,           &LookParams::color,
                                     &LookParams::contrast,        &LookParams::brightness,
                                     &LookParams::xprocess,        &LookParams::half_diagonal};
    std::int32_t LookParams::*ints[] = {&LookParams::color_type, &LookParams::xprocess_type,
                                        &LookParams::lens_type, &LookParams::width, &LookParams::height};
    const auto check = [&](const LookParams& p) {
        for (auto [x, y] : spots) {
            for (const Pixel8& in : in8) {
                const Pixel8 out = Run8(p, x, y, in);
                ASSERT_EQ(out.alpha, in.alpha);
            }
            for (const Pixel16& in : in16) {
                const Pixel16 out = Run16(p, x, y, in);
                ASSERT_EQ(out.alpha, in.alpha);
                ASSERT_LE(out.red, 32768);
                ASSERT_LE(out.green, 32768);
                ASSERT_LE(out.blue, 32768);
            }
        }
    };
    for (std::int32_t type : {6, 7, 8}) {
        for (std::int32_t lens : {1, 2, 3, 4}) {
            LookParams base = heavy;
            base.xprocess_type = type;
            base.lens_type = lens;
            for (auto field : doubles) {
                for (double v : odd_doubles) {
                    LookParams p = base;
                    p.*field = v;
                    check(p);
                    // Every double field odd at once.
                    for (auto other : doubles) p.*other = v;
                    check(p);
                }
            }
            for (auto field : ints) {
                for (std::int32_t v : odd_ints) {
                    LookParams p = base;
                    p.*field = v;
                    check(p);
                }
            }
        }
    }
}

}  // namespace
