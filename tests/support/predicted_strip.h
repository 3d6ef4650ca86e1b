// Photograph-like TIFF strips for the deflate coders: smooth shading plus
// sensor noise, differenced along the row as the horizontal predictor leaves
// them, RGB in 8 or 16 bits (little-endian).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace velvetshade::test {

inline std::vector<std::uint8_t> PredictedStrip(int width, int rows, int bytes_per_sample, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, bytes_per_sample == 1 ? 1.5 : 120.0);
    const double full = bytes_per_sample == 1 ? 255.0 : 65535.0;
    std::vector<std::uint8_t> strip;
    strip.reserve(std::size_t(width) * std::size_t(rows) * 3 * std::size_t(bytes_per_sample));
    for (int y = 0; y < rows; ++y) {
        int previous[3] = {0, 0, 0};
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                const double shade = 0.5 + 0.3 * std::sin(x * 0.004 + c) * std::cos(y * 0.01);
                const int v = std::clamp(int(std::lround(shade * full + noise(random))), 0, int(full));
                const int d = v - previous[c];
                previous[c] = v;
                strip.push_back(std::uint8_t(d));
                if (bytes_per_sample == 2) strip.push_back(std::uint8_t(d >> 8));
            }
        }
    }
    return strip;
}

}  // namespace velvetshade::test
