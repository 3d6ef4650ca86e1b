#include "cli/images/chart.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace velvetshade {
namespace {

struct Rgb {
    double r, g, b;
};

constexpr Rgb kBackground{0.18, 0.18, 0.18};

// Primaries and secondaries, then sky, foliage and a few strong mixed hues.
constexpr Rgb kPatches[] = {
    {0.85, 0.10, 0.10}, {0.10, 0.70, 0.15}, {0.12, 0.20, 0.80}, {0.10, 0.75, 0.80},
    {0.80, 0.15, 0.70}, {0.95, 0.85, 0.10}, {0.95, 0.55, 0.10}, {0.45, 0.20, 0.60},
    {0.35, 0.55, 0.85}, {0.35, 0.48, 0.20}, {0.95, 0.60, 0.70}, {0.10, 0.45, 0.45},
};

// Light to dark skin.
constexpr Rgb kSkin[] = {
    {1.000, 0.878, 0.769}, {0.945, 0.761, 0.655}, {0.878, 0.675, 0.549}, {0.776, 0.525, 0.404},
    {0.690, 0.455, 0.329}, {0.553, 0.333, 0.239}, {0.431, 0.259, 0.180}, {0.282, 0.173, 0.125},
};

Rgb Hue(double h, double value) {
    const double k = h * 6.0;
    auto channel = [&](double n) {
        const double t = std::fmod(n + k, 6.0);
        return value * (1.0 - std::clamp(std::min(t, 4.0 - t), 0.0, 1.0));
    };
    return {channel(5.0), channel(3.0), channel(1.0)};
}

// One of n equal patches across the band, inset so the background shows between them.
bool InPatch(int x, int y, int width, int top, int bottom, int n, int& index) {
    const int inset = std::max(2, width / 256);
    index = std::min(n - 1, x * n / width);
    const int left = index * width / n, right = (index + 1) * width / n;
    return x >= left + inset && x < right - inset && y >= top + inset && y < bottom - inset;
}

Rgb Detail(int x, int y, int width, int top, int bottom) {
    const int quarter = width / 4;
    const int part = std::min(3, x / std::max(1, quarter));
    const int lx = x - part * quarter, ly = y - top;
    const int band_width = part == 3 ? width - 3 * quarter : quarter;
    switch (part) {
    case 0: {  // one-pixel, then two-pixel checkerboard
        const int cell = ly < (bottom - top) / 2 ? 1 : 2;
        const double v = ((lx / cell + ly / cell) % 2) ? 0.95 : 0.05;
        return {v, v, v};
    }
    case 1: {  // vertical line pairs, 1 to 4 pixels wide
        const int w = 1 + lx * 4 / std::max(1, band_width);
        const double v = (lx / w) % 2 ? 0.95 : 0.05;
        return {v, v, v};
    }
    case 2: {  // horizontal line pairs
        const int w = 1 + lx * 4 / std::max(1, band_width);
        const double v = (ly / w) % 2 ? 0.95 : 0.05;
        return {v, v, v};
    }
    default: {  // zone plate reaching the pixel frequency at its corners
        const double cx = band_width * 0.5, cy = (bottom - top) * 0.5;
        const double dx = lx - cx, dy = ly - cy;
        const double k = std::numbers::pi / (2.0 * std::max(1.0, std::hypot(cx, cy)));
        const double v = 0.5 + 0.45 * std::cos(k * (dx * dx + dy * dy));
        return {v, v, v};
    }
    }
}

Rgb ChartPixel(int x, int y, int width, int height) {
    auto row = [&](double fraction) { return int(std::lround(fraction * height)); };
    const int ramp = row(0.10), steps = row(0.20), hues = row(0.45), colours = row(0.65),
              skin = row(0.80);
    const double u = width > 1 ? double(x) / double(width - 1) : 0.0;
    int index = 0;
    if (y < ramp) return {u, u, u};
    if (y < steps) {
        if (!InPatch(x, y, width, ramp, steps, 16, index)) return kBackground;
        const double v = index / 15.0;
        return {v, v, v};
    }
    if (y < hues) {
        const double depth = double(y - steps) / std::max(1, hues - steps - 1);
        return Hue(u, 1.0 - 0.65 * depth);
    }
    if (y < colours) return InPatch(x, y, width, hues, colours, 12, index) ? kPatches[index] : kBackground;
    if (y < skin) return InPatch(x, y, width, colours, skin, 8, index) ? kSkin[index] : kBackground;
    return Detail(x, y, width, skin, height);
}

}  // namespace

Image MakeChart(int width, int height, int depth) {
    Image image;
    image.Allocate(width, height, depth);
    image.has_alpha = false;
    image.attributes = {{"oiio:ColorSpace", "sRGB"}, {"ImageDescription", "velvetshade test chart"}};
    const double max = depth == 16 ? 65535.0 : 255.0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb c = ChartPixel(x, y, width, height);
            const std::size_t at = (std::size_t(y) * std::size_t(width) + std::size_t(x)) * 4;
            const double v[4] = {c.r, c.g, c.b, 1.0};
            for (int ch = 0; ch < 4; ++ch) {
                const auto q = std::lround(std::clamp(v[ch], 0.0, 1.0) * max);
                if (depth == 16) image.pixels16[at + std::size_t(ch)] = std::uint16_t(q);
                else image.pixels8[at + std::size_t(ch)] = std::uint8_t(q);
            }
        }
    }
    return image;
}

}  // namespace velvetshade
