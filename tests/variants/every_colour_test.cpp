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
#include "tests/support/look_records.h"

namespace {

using namespace look;

// The defaults, or the heavy settings, on a 1920 x 1080 frame.
LookParams Frame1080(bool heavy) {
    const LookParams p = look_records::AtFrame(look_records::Defaults(), 1920, 1080);
    return heavy ? look_records::Heavy(p, 6) : p;
}

struct Spot {
    std::int32_t x;
    std::int32_t y;
};

void CheckEveryColour(const LookParams& settings, Spot vignette, Spot dodge) {
    PreparedLook prepared = PrepareLook(settings);
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
        LookPixel8Plain(&prepared, x, y, &in, &want);
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
