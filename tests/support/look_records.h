// Look settings shared by the look tests and benchmarks.
#pragma once

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <random>

#include "look/parameter_table.h"
#include "look/look_settings.h"

namespace look_records {

using look::LookParams;

// The geometry of a width x height layer rendered at full resolution.
inline LookParams AtFrame(LookParams p, std::int32_t width, std::int32_t height) {
    p.width = width;
    p.height = height;
    p.half_diagonal = 0.5 * std::sqrt(double(height) * height + double(width) * width);
    return p;
}

// The ten parameters at their registered defaults, without geometry.
inline LookParams Defaults() { return look::DefaultSettings(); }

// The heaviest settings: an x-process type ("E6C41" 6 or "Vintage" 8) through
// "F.Zuiko", with contrast, brightness and a "Type2" cast.
inline LookParams Heavy(LookParams p, std::int32_t xprocess_type) {
    p.xprocess_type = xprocess_type;
    p.lens_type = 2;
    p.contrast = 128;
    p.brightness = 1.4;
    p.color = 60;
    p.color_type = 2;
    return p;
}

// Every parameter drawn at random, a quarter of the time at a telling value,
// on a frame of up to 2000 x 2000.
inline LookParams Random(std::mt19937_64& rng) {
    std::uniform_real_distribution<double> unit(0, 1);
    const auto pick = [&](double lo, double hi, std::initializer_list<double> special) {
        if (rng() % 4 == 0) return *(special.begin() + rng() % special.size());
        return lo + unit(rng) * (hi - lo);
    };
    LookParams p{};
    p.vignette_radius = pick(0, 255, {0, 255, 170});
    p.vignette_amount = pick(0, 255, {0, 255, 100});
    p.dodge = pick(0, 255, {0, 255, 129});
    p.color = pick(-127, 127, {0, 127, -127, 60});
    p.color_type = static_cast<std::int32_t>(rng() % 2) + 1;
    p.contrast = pick(0, 255, {0, 255, 128});
    p.brightness = pick(0.1, 1.9, {1, 0.1, 1.9, 1.4});
    p.xprocess = pick(0, 255, {0, 255});
    p.xprocess_type = static_cast<std::int32_t>(rng() % 8) + 1;
    p.lens_type = static_cast<std::int32_t>(rng() % 4) + 1;
    const auto width = static_cast<std::int32_t>(rng() % 2000) + 1;
    const auto height = static_cast<std::int32_t>(rng() % 2000) + 1;
    return AtFrame(p, width, height);
}

}  // namespace look_records
