#include "look/color_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

using namespace look;


constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(NumericPrimitives, MaximumAndMinimumIgnoreNaNAndOrderSignedZeros) {
    EXPECT_EQ(Maximum(kNaN, 3), 3);
    EXPECT_EQ(Maximum(3, kNaN), 3);
    EXPECT_EQ(Minimum(kNaN, -2), -2);
    EXPECT_EQ(Minimum(-2, kNaN), -2);
    EXPECT_TRUE(std::isnan(Maximum(kNaN, kNaN)));
    EXPECT_FALSE(std::signbit(Maximum(-0.0, 0.0)));
    EXPECT_FALSE(std::signbit(Maximum(0.0, -0.0)));
    EXPECT_TRUE(std::signbit(Minimum(-0.0, 0.0)));
    EXPECT_TRUE(std::signbit(Minimum(0.0, -0.0)));
    EXPECT_EQ(Maximum(1, 2), 2);
    EXPECT_EQ(Minimum(1, 2), 1);
    EXPECT_EQ(Maximum(-kInf, -1e308), -1e308);
}

TEST(NumericPrimitives, RoundGoesHalfAwayFromZeroExactly) {
    EXPECT_EQ(RoundHalfAway(0.5), 1);
    EXPECT_EQ(RoundHalfAway(2.5), 3);
    EXPECT_EQ(RoundHalfAway(-0.5), -1);
    EXPECT_EQ(RoundHalfAway(-2.5), -3);
    EXPECT_EQ(RoundHalfAway(0.49999999999999994), 0);  // adding 0.5 would give 1
    EXPECT_EQ(RoundHalfAway(4503599627370495.5), 4503599627370496.0);
    EXPECT_EQ(RoundHalfAway(1e300), 1e300);
    EXPECT_EQ(RoundHalfAway(kInf), kInf);
    EXPECT_EQ(RoundHalfAway(-kInf), -kInf);
    EXPECT_TRUE(std::isnan(RoundHalfAway(kNaN)));
    EXPECT_TRUE(std::signbit(RoundHalfAway(-0.3)));

    // std::round is the same operation; compare on halves, their neighbours
    // and random values across magnitudes.
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> exponent(-4, 55);
    for (int i = 0; i < 200000; ++i) {
        double v = std::pow(2.0, exponent(rng)) * ((rng() & 1) ? 1 : -1);
        if (i % 3 == 0) v = std::floor(v) + 0.5;
        if (i % 3 == 1) v = std::nextafter(std::floor(v) + 0.5, (rng() & 1) ? kInf : -kInf);
        ASSERT_EQ(RoundHalfAway(v), std::round(v)) << v;
    }
}

TEST(NumericPrimitives, SquareRootOfNegativeIsNaN) {
    EXPECT_TRUE(std::isnan(SquareRoot(-1)));
    EXPECT_EQ(SquareRoot(2), std::sqrt(2.0));
}

struct HslCase {
    double r, g, b, hue, saturation, lightness;
};

TEST(RgbToHsl, WorkedColours) {
    const HslCase cases[] = {
        {0, 0, 0, 0, 0, 0},
        {255, 255, 255, 0, 0, 1},
        {128, 128, 128, 0, 0, 128.0 / 255},
        {255, 0, 0, 0, 1, 0.5},
        {255, 255, 0, 60, 1, 0.5},  // tie red/green: the green rule wins
        {0, 255, 0, 120, 1, 0.5},
        {0, 255, 255, 180, 1, 0.5},  // tie green/blue: the blue rule wins
        {0, 0, 255, 240, 1, 0.5},
        {255, 0, 255, 300, 1, 0.5},  // tie red/blue: the blue rule wins
        {10, 20, 30, 210, 0.5, 20.0 / 255},
        {200, 100, 50, 20, 0.6, 125.0 / 255},
    };
    for (const HslCase& c : cases) {
        const HslColor hsl = RgbToHsl(c.r, c.g, c.b);
        EXPECT_NEAR(hsl.hue, c.hue, 1e-9) << c.r << "," << c.g << "," << c.b;
        EXPECT_NEAR(hsl.saturation, c.saturation, 1e-12) << c.r << "," << c.g << "," << c.b;
        EXPECT_NEAR(hsl.lightness, c.lightness, 1e-12) << c.r << "," << c.g << "," << c.b;
        const RgbColor back = HslToRgb(hsl.hue, hsl.saturation, hsl.lightness);
        EXPECT_NEAR(back.red, c.r, 1e-9);
        EXPECT_NEAR(back.green, c.g, 1e-9);
        EXPECT_NEAR(back.blue, c.b, 1e-9);
    }
}

TEST(RgbToHsl, HueIsNotWrapped) {
    const HslColor hsl = RgbToHsl(255, 0, 128);
    EXPECT_NEAR(hsl.hue, -30.1176470588, 1e-8);
    const RgbColor back = HslToRgb(hsl.hue, hsl.saturation, hsl.lightness);
    EXPECT_NEAR(back.red, 255, 1e-9);
    EXPECT_NEAR(back.green, 0, 1e-9);
    EXPECT_NEAR(back.blue, 128, 1e-9);
}

TEST(RgbToHsl, ExactValuesInOrderWritten) {
    // (255, 200, 10): the red rule, with every step kept in binary64.
    const double r = 255.0 / 255, g = 200.0 / 255, b = 10.0 / 255;
    const HslColor hsl = RgbToHsl(255, 200, 10);
    EXPECT_EQ(hsl.lightness, (b + r) * 0.5);
    EXPECT_EQ(hsl.saturation, (r - b) / ((2 - r) - b));
    EXPECT_EQ(hsl.hue, (g - b) / (r - b) * 60);
}

TEST(HslToRgb, GreyAndPrimaries) {
    const RgbColor grey = HslToRgb(200, 0, 0.5);
    EXPECT_EQ(grey.red, 127.5);
    EXPECT_EQ(grey.green, 127.5);
    EXPECT_EQ(grey.blue, 127.5);
    const RgbColor negative_zero = HslToRgb(200, -0.0, 0.25);
    EXPECT_EQ(negative_zero.blue, 63.75);

    const RgbColor green = HslToRgb(120, 1, 0.5);
    EXPECT_EQ(green.red, 0);
    EXPECT_EQ(green.green, 255);
    EXPECT_EQ(green.blue, 0);
}

TEST(HslToRgb, WhiteLumaIsNotClamped) {
    const double white_luma = (255 * 0.586611 + 255 * 0.298912) + 255 * 0.114478;
    const RgbColor c = HslToRgb(43, 0.3, white_luma / 255);
    for (double v : {c.red, c.green, c.blue}) {
        EXPECT_GT(v, 255);
        EXPECT_LT(v, 255.001);
    }
}

TEST(HslToRgb, HuesFarOutsideTheCircleStayFinite) {
    for (double hue : {-1000.0, 1000.0, 1e300, -1e300}) {
        const RgbColor c = HslToRgb(hue, 0.5, 0.5);
        EXPECT_TRUE(std::isfinite(c.red) && std::isfinite(c.green) && std::isfinite(c.blue));
    }
}

// A second, plain transcription of the conversion: catches a comparison on t
// against 1/6 instead of 6t against 1, or a regrouped product.
double ReferenceHueChannel(double p, double q, double t) {
    if (t < 0) t = t + 1;
    if (t > 1) t = t - 1;
    if (6 * t < 1) return ((q - p) * 6) * t + p;
    if (2 * t < 1) return q;
    if (3 * t < 2) return ((q - p) * (0.6666666666666666 - t)) * 6 + p;
    return p;
}

TEST(HslToRgb, MatchesPlainTranscriptionNearSectorEdges) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> unit(0, 1);
    const double edges[] = {-60, 0, 60, 120, 180, 240, 300, 360};
    for (int i = 0; i < 300000; ++i) {
        double hue = edges[i % 8];
        for (int steps = static_cast<int>(rng() % 40); steps > 0; --steps)
            hue = std::nextafter(hue, (i & 8) ? 1e9 : -1e9);
        if (i % 5 == 0) hue = unit(rng) * 420 - 60;
        const double s = i % 7 == 0 ? 1.0 : unit(rng);
        const double l = unit(rng);
        const double q = l < 0.5 ? (s + 1) * l : (s + l) - s * l;
        const double p = 2 * l - q;
        const double h = hue / 360;
        const RgbColor c = HslToRgb(hue, s, l);
        ASSERT_EQ(c.red, ReferenceHueChannel(p, q, h + 0.3333333333333333) * 255) << hue;
        ASSERT_EQ(c.green, ReferenceHueChannel(p, q, h) * 255) << hue;
        ASSERT_EQ(c.blue, ReferenceHueChannel(p, q, h - 0.3333333333333333) * 255) << hue;
    }
}

TEST(VintageTint, WorkedValues) {
    for (double amount : {0.0, 100.0, 255.0}) {
        const RgbColor black = VintageTint(0, 0, 0, amount);
        EXPECT_EQ(black.red, 0);
        EXPECT_EQ(black.green, 0);
        EXPECT_EQ(black.blue, 0);
    }
    const RgbColor white = VintageTint(255, 255, 255, 255);
    for (double v : {white.red, white.green, white.blue}) {
        EXPECT_GT(v, 255);
        EXPECT_LT(v, 255.0002);
    }
    const RgbColor tint = HslToRgb(43, 0.3, 0.25);
    EXPECT_NEAR(tint.red, 83, 0.5);
    EXPECT_NEAR(tint.green, 72, 0.5);
    EXPECT_NEAR(tint.blue, 45, 0.5);

    const RgbColor grey = VintageTint(128, 128, 128, 255);
    EXPECT_NEAR(grey.red, 147, 0.5);
    EXPECT_NEAR(grey.green, 136, 0.5);
    EXPECT_NEAR(grey.blue, 109, 0.5);

    const RgbColor untouched = VintageTint(30, 140, 250, 0);
    EXPECT_NEAR(untouched.red, 30, 1e-12);
    EXPECT_NEAR(untouched.green, 140, 1e-12);
    EXPECT_NEAR(untouched.blue, 250, 1e-12);
}

TEST(VintageTint, BlendIsEvaluatedInOrderWritten) {
    const double r = 200, g = 90, b = 30, k = 77;
    const double luma = (g * 0.586611 + r * 0.298912) + b * 0.114478;
    const RgbColor t = HslToRgb(43, 0.3, luma / 255);
    const RgbColor v = VintageTint(r, g, b, k);
    EXPECT_EQ(v.red, (((r + t.red) * 0.5) * k) / 255 + ((255 - k) * r) / 255);
    EXPECT_EQ(v.green, (((g + t.green) * 0.5) * k) / 255 + ((255 - k) * g) / 255);
    EXPECT_EQ(v.blue, (((b + t.blue) * 0.5) * k) / 255 + ((255 - k) * b) / 255);
}

}  // namespace
