#include "cli/images/image.h"

namespace velvetshade {

void ChangeDepth(Image& image, int depth) {
    if (depth == image.depth) return;
    Image changed;
    changed.Allocate(image.width, image.height, depth);
    const std::size_t n = image.samples();
    if (depth == 16) {
        for (std::size_t i = 0; i < n; ++i) changed.pixels16[i] = std::uint16_t(image.pixels8[i] * 257u);
    } else {
        for (std::size_t i = 0; i < n; ++i) changed.pixels8[i] = std::uint8_t((image.pixels16[i] + 128u) / 257u);
    }
    image.pixels8 = std::move(changed.pixels8);
    image.pixels16 = std::move(changed.pixels16);
    image.depth = depth;
}

}  // namespace velvetshade
