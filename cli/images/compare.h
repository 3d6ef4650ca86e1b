// Before and after in one image, for reviewing a look.
#pragma once

#include <optional>
#include <string>

#include "cli/images/image_io.h"

namespace velvetshade {

enum class CompareMode {
    Side,   // the input on the left, the output on the right, twice as wide
    Split,  // the input's left half beside the output's right half, a thin line between
};

std::optional<CompareMode> ParseCompareMode(const std::string& text);

// before (the input) and after (its render) have the same size and depth;
// the result is after with both in its pixels, composed upright: a
// photograph's orientation is applied to both first, and the result carries
// none (a tag would turn the pair, not each picture).
Image CompareImages(Image before, Image after, CompareMode mode);

}  // namespace velvetshade
