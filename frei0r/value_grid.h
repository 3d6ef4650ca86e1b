// Slider values as editors store them. MLT keeps a double as text with six
// significant digits ("%g"), so a project saved at the displayed 170 on
// 0..255 holds 0.666667, which is 170.000085 on the range. A value within
// that rounding of a point on the registered two-decimal grid (the steps the
// sliders show) is taken as that point; any other value is spread over the
// range as always.
#pragma once

namespace vsfrei0r {

// `normalised` in 0..1 over [min, max], the registered ends; the value in
// the look's units: a grid point as the decimal it shows (170, 0.55, -35.25,
// each the double nearest the decimal), or min + normalised * (max - min).
double SliderValue(double min, double max, double normalised);

}  // namespace vsfrei0r
