#include "frei0r/value_grid.h"

#include <cmath>

namespace vsfrei0r {

namespace {

// Half a unit in the sixth significant digit of x > 0: how far "%g" may
// move it. A hair wider, so that a value whose seventh digit is a 5 still
// lands after the division that made it and the parse that read it back.
double SixDigitRounding(double x) {
    if (!(x > 0.0)) return 0.0;
    int exponent = static_cast<int>(std::floor(std::log10(x)));
    // log10 may miss by one next to a power of ten.
    if (std::pow(10.0, exponent) > x) --exponent;
    if (std::pow(10.0, exponent + 1) <= x) ++exponent;
    return 0.5 * std::pow(10.0, exponent - 5) * (1.0 + 1e-9);
}

}  // namespace

double SliderValue(double min, double max, double normalised) {
    // The grid in hundredths, from the registered floats: 0.1f is 10.
    const double first = std::round(min * 100.0);
    const double steps = std::round(max * 100.0) - first;
    if (steps > 0.0 && normalised >= 0.0 && normalised <= 1.0) {
        const double step = std::round(normalised * steps);
        if (std::fabs(normalised - step / steps) <= SixDigitRounding(step / steps)) {
            // Whole numbers over 100: the double nearest the decimal, as a
            // command line or a look file reads it.
            return (first + step) / 100.0;
        }
    }
    return min + normalised * (max - min);
}

}  // namespace vsfrei0r
