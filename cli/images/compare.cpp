#include "cli/images/compare.h"

#include <algorithm>
#include <cstring>

#include "cli/images/orientation.h"

namespace velvetshade {
namespace {

// Row copies by hand rather than the image library's paste: a TIFF render
// never loads that library, which takes longer to load than a 4K frame takes
// to render.

template <typename T>
void Compose(const PixelVector<T>& before, const PixelVector<T>& after, int width, int height, CompareMode mode,
             T white, PixelVector<T>& out) {
    const std::size_t w = std::size_t(width), row = w * 4;
    if (mode == CompareMode::Side) {
        for (std::size_t y = 0; y < std::size_t(height); ++y) {
            std::memcpy(&out[y * row * 2], &before[y * row], row * sizeof(T));
            std::memcpy(&out[y * row * 2 + row], &after[y * row], row * sizeof(T));
        }
        return;
    }
    // One pixel wide up to 1000 pixels, then wider, so the line stays visible.
    const std::size_t line = std::max<std::size_t>(1, w / 1000);
    const std::size_t middle = w / 2, line_start = middle - std::min(middle, line / 2);
    for (std::size_t y = 0; y < std::size_t(height); ++y) {
        const std::size_t at = y * row;
        std::memcpy(&out[at], &before[at], middle * 4 * sizeof(T));
        std::memcpy(&out[at + middle * 4], &after[at + middle * 4], (w - middle) * 4 * sizeof(T));
        for (std::size_t x = line_start; x < std::min(w, line_start + line); ++x) {
            std::fill_n(&out[at + x * 4], 4, white);
        }
    }
}

}  // namespace

std::optional<CompareMode> ParseCompareMode(const std::string& text) {
    if (text == "side") return CompareMode::Side;
    if (text == "split") return CompareMode::Split;
    return std::nullopt;
}

Image CompareImages(Image before, Image after, CompareMode mode) {
    TurnUpright(before);
    TurnUpright(after);
    // The result is the rendered image in all but its pixels: metadata and
    // output settings go on as they would without the comparison.
    const PixelVector<std::uint8_t> rendered8 = std::move(after.pixels8);
    const PixelVector<std::uint16_t> rendered16 = std::move(after.pixels16);
    const int width = after.width;
    after.Allocate(mode == CompareMode::Side ? width * 2 : width, after.height, after.depth);
    if (after.depth == 16) {
        Compose(before.pixels16, rendered16, width, after.height, mode, std::uint16_t(65535), after.pixels16);
    } else {
        Compose(before.pixels8, rendered8, width, after.height, mode, std::uint8_t(255), after.pixels8);
    }
    return after;
}

}  // namespace velvetshade
