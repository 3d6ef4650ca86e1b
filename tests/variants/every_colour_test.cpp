// Every 8-bit colour through every variant this processor runs, for the
// parameter defaults and the heavy settings, alternately at a pixel on the
// vignette side and one on the dodge side; the plain body is computed once
// per colour.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "look/look_params.h"
#include "look/look_pixel.h"
#include "look/look_variants.h"

namespace {

LookParams Frame1080(bool heavy) {
    LookParams p{};
    p.vignette_radius = 170;
    p.vignette_amount = 100;
    p.dodge = 129;
    p.color = heavy ? 60 : 0;
    p.color_type = heavy ? 2 : 1;
    p.contrast = heavy ? 128 : 0;
    p.brightness = heavy ? 1.4 : 1;
    p.xprocess = 255;
    p.xprocess_type = heavy ? 6 : 2;
    p.lens_type = heavy ? 2 : 1;
    p.width = 1920;
    p.height = 1080;
    p.half_diagonal = 0.5 * std::sqrt(1080.0 * 1080 + 1920.0 * 1920);
    return p;
}

struct Spot {
    std::int32_t x;
    std::int32_t y;
};

void CheckEveryColour(const LookParams& plain, Spot vignette, Spot dodge) {
    LookParams prepared = plain;
    PrepareLookParams(prepared);
    std::vector<LookKernels> fast;
    for (LookVariant v : kLookVariants) {
        if (v != LookVariant::kPlain && LookVariantRuns(v)) fast.push_back(LookKernelsFor(v));
    }
    long differences = 0;
    for (std::uint32_t c = 0; c < (1u << 24); ++c) {
        const auto [x, y] = (c & 1) != 0 ? vignette : dodge;
        PF_Pixel8 in{static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 16),
                     static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c)};
        PF_Pixel8 want{};
        LookPixel8Plain(const_cast<LookParams*>(&plain), x, y, &in, &want);
        for (const LookKernels& k : fast) {
            PF_Pixel8 got{};
            k.pixel8(&prepared, x, y, &in, &got);
            if (std::memcmp(&want, &got, sizeof want) != 0 && ++differences <= 5) {
                ADD_FAILURE() << "colour " << (c >> 16) << ", " << ((c >> 8) & 255) << ", "
                              << (c & 255) << " at (" << x << ", " << y << ")";
            }
        }
    }
    EXPECT_EQ(differences, 0);
}

TEST(EveryColour, Defaults) { CheckEveryColour(Frame1080(false), {37, 1050}, {1200, 700}); }

TEST(EveryColour, HeavySettings) { CheckEveryColour(Frame1080(true), {1900, 20}, {800, 500}); }

}  // namespace
