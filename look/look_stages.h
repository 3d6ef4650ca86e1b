// Steps of the plain body that PrepareLook also makes, once per table
// entry, so a table holds exactly what the plain body computes. Internal to
// the look.
#pragma once

namespace look::stages {

// v > 255 -> 255, v < 0 -> 0; NaN passes.
constexpr double Limit(double v) {
    if (v > 255) return 255;
    if (v < 0) return 0;
    return v;
}

// "Type2" cast of a limited channel toward blend constant k, with m the
// colour's magnitude (not yet limited).
constexpr double CastOverlay(double ch, double k, double m) {
    const double overlay = ch < 128 ? ch * k * 2 / 255 : (ch + k - ch * k / 255) * 2 - 255;
    return overlay * m / 127 + (127 - m) * ch / 127;
}

}  // namespace look::stages
