// Slider values as editors save them come back as the displayed decimals:
// every point of every slider's two-decimal grid, written as MLT writes a
// double ("%g"), as Kdenlive derives it from its factor, and with more
// digits, gives the decimal itself; values between the points keep the
// linear spread.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "frei0r/value_grid.h"
#include "look/parameter_table.h"

namespace {

double Printed(double v, int digits) {
    char text[64];
    std::snprintf(text, sizeof(text), "%.*g", digits, v);
    return std::strtod(text, nullptr);
}

TEST(SliderValues, EveryGridPointAsEditorsWriteItIsTheDecimalShown) {
    int sliders = 0;
    for (const look::ParameterRow& row : look::kParameters) {
        if (row.kind != look::ParameterKind::kSlider) continue;
        ++sliders;
        SCOPED_TRACE(row.name);
        ASSERT_EQ(row.precision, 2);
        // The ends as the panels show them: 0.1, not 0.1f.
        const long first = std::lround(row.min * 100.0), last = std::lround(row.max * 100.0);
        const double lo = first / 100.0, hi = last / 100.0;
        int misses = 0;
        for (long hundredths = first; hundredths <= last; ++hundredths) {
            const double shown = hundredths / 100.0;
            char decimal[32];
            std::snprintf(decimal, sizeof(decimal), "%.2f", shown);
            ASSERT_EQ(shown, std::strtod(decimal, nullptr));
            const double offset = lo, factor = hi - lo;
            const double stored[] = {
                Printed((shown - offset) / factor, 6),                      // MLT, Kdenlive
                Printed((shown - offset) / factor, 7),
                Printed((shown - offset) / factor, 9),
                (shown - offset) / factor,                                  // Shotcut, a double
                double(hundredths - first) / double(last - first),         // exact ratio
                Printed(double(hundredths - first) / double(last - first), 6),
            };
            for (double t : stored) {
                const double got = vsfrei0r::SliderValue(row.min, row.max, t);
                if (got != shown && ++misses <= 5) {
                    ADD_FAILURE() << decimal << " stored as " << t << " came back as " << got;
                }
            }
        }
        EXPECT_EQ(misses, 0);
    }
    EXPECT_EQ(sliders, 7);
}

TEST(SliderValues, ValuesOffTheGridKeepTheLinearSpread) {
    for (const look::ParameterRow& row : look::kParameters) {
        if (row.kind != look::ParameterKind::kSlider) continue;
        SCOPED_TRACE(row.name);
        const double min = row.min, max = row.max;
        const double steps = std::round(max * 100.0) - std::round(min * 100.0);
        for (double step : {0.0, 1.0, 17.0, steps / 2, steps - 1}) {
            const double point = step / steps;
            // Half-way between points, and just outside six digits' rounding.
            const double unit = std::pow(10.0, std::floor(std::log10(point > 0 ? point : 1)) - 5);
            for (double t : {(step + 0.5) / steps, point + 0.6 * unit, point - 0.6 * unit}) {
                if (t < 0 || t > 1) continue;
                EXPECT_EQ(vsfrei0r::SliderValue(min, max, t), min + t * (max - min)) << t;
            }
        }
        // Not a grid point: the old mapping, bit for bit.
        EXPECT_EQ(vsfrei0r::SliderValue(min, max, 1.0 / 3.0 + 1e-6),
                  min + (1.0 / 3.0 + 1e-6) * (max - min));
    }
}

}  // namespace
