#include "look/parameter_table.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

namespace {

using look::LookParams;
using look::ParameterValues;

// Each value lands in the setting its row names, out-of-range sliders as
// they are, pop-ups and sizes truncated and saturated; the half diagonal
// comes from the unrounded size.
TEST(SettingsFromValues, FillsEachRowsSettingAndTheFrame) {
    const ParameterValues values = {300.5, -4, 129, -127, 2.9, 1e9, 0.1, 255, 12, -1e300};
    const LookParams p = look::SettingsFromValues(values, 1920.75, 1080.25);
    EXPECT_EQ(p.vignette_radius, 300.5);
    EXPECT_EQ(p.vignette_amount, -4);
    EXPECT_EQ(p.dodge, 129);
    EXPECT_EQ(p.color, -127);
    EXPECT_EQ(p.color_type, 2);
    EXPECT_EQ(p.contrast, 1e9);
    EXPECT_EQ(p.brightness, 0.1);
    EXPECT_EQ(p.xprocess, 255);
    EXPECT_EQ(p.xprocess_type, 12);
    EXPECT_EQ(p.lens_type, INT_MIN);
    EXPECT_EQ(p.width, 1920);
    EXPECT_EQ(p.height, 1080);
    EXPECT_EQ(p.half_diagonal, 0.5 * std::sqrt(1080.25 * 1080.25 + 1920.75 * 1920.75));

    ParameterValues odd = values;
    odd[4] = std::numeric_limits<double>::quiet_NaN();
    odd[8] = 1e12;
    const LookParams q = look::SettingsFromValues(odd, -1e12, std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(q.color_type, 0);
    EXPECT_EQ(q.xprocess_type, INT_MAX);
    EXPECT_EQ(q.width, INT_MIN);
    EXPECT_EQ(q.height, 0);

    // The defaults on an empty frame.
    const LookParams d = look::DefaultSettings();
    EXPECT_EQ(d.vignette_radius, 170);
    EXPECT_EQ(d.xprocess_type, 2);
    EXPECT_EQ(d.lens_type, 1);
    EXPECT_EQ(d.half_diagonal, 0);
    EXPECT_EQ(d.width, 0);
}

}  // namespace
