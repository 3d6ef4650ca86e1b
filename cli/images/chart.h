// The built-in test chart, generated in code: grey ramp and steps, a hue
// sweep, colour patches, skin tones and fine detail, at any size.
#pragma once

#include "cli/images/image_io.h"

namespace velvetshade {

// depth 8 or 16; opaque, tagged sRGB.
Image MakeChart(int width, int height, int depth);

}  // namespace velvetshade
