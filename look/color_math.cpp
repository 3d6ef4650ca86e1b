#include "look/color_math.h"

namespace look {

namespace {

constexpr double kOneThird = 1.0 / 3.0;  // 0.3333333333333333
constexpr double kTwoThirds = 2.0 / 3.0;  // 0.6666666666666666

// The tests compare 6t, 2t and 3t with 1, 1 and 2, not t with 1/6, 1/2, 2/3:
// the two forms differ in the last bit near the sector edges.
double HueChannel(double p, double q, double t) {
    if (t < 0) t += 1;
    if (t > 1) t -= 1;
    if (6 * t < 1) return (q - p) * 6 * t + p;
    if (2 * t < 1) return q;
    if (3 * t < 2) return (q - p) * (kTwoThirds - t) * 6 + p;
    return p;
}

}  // namespace

HslColor RgbToHsl(double red, double green, double blue) {
    const double r = red / 255;
    const double g = green / 255;
    const double b = blue / 255;
    const double max = Maximum(r, Maximum(g, b));
    const double min = Minimum(r, Minimum(g, b));
    const double lightness = (min + max) * 0.5;
    double saturation = lightness < 0.5 ? (max - min) / (min + max)
                                        : (max - min) / ((2 - max) - min);
    const double d = max - min;
    // Later matches overwrite earlier ones, so on ties blue beats green beats red.
    double hue = 0;
    if (r == max) hue = (g - b) / d;
    if (g == max) hue = (b - r) / d + 2;
    if (b == max) hue = (r - g) / d + 4;
    if (max == min) {
        hue = 0;
        saturation = 0;
    }
    return {hue * 60, saturation, lightness};
}

RgbColor HslToRgb(double hue, double saturation, double lightness) {
    if (saturation == 0) {
        const double grey = lightness * 255;
        return {grey, grey, grey};
    }
    const double q = lightness < 0.5 ? (saturation + 1) * lightness
                                     : (saturation + lightness) - saturation * lightness;
    const double p = 2 * lightness - q;
    const double h = hue / 360;
    const double red = HueChannel(p, q, h + kOneThird) * 255;
    const double green = HueChannel(p, q, h) * 255;
    const double blue = HueChannel(p, q, h - kOneThird) * 255;
    return {red, green, blue};
}

RgbColor VintageTint(double red, double green, double blue, double amount) {
    // The weights add up to 1.000001, so white has a luma just above 255.
    const double luma = (green * 0.586611 + red * 0.298912) + blue * 0.114478;
    const RgbColor tint = HslToRgb(43, 0.3, luma / 255);
    const auto blend = [amount](double x, double t) {
        return (x + t) * 0.5 * amount / 255 + (255 - amount) * x / 255;
    };
    return {blend(red, tint.red), blend(green, tint.green), blend(blue, tint.blue)};
}

}  // namespace look
