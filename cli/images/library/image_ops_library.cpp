// The contact sheet's image operations, inside the image library module.
#include <OpenImageIO/imagebufalgo.h>

#include <algorithm>

#include "cli/images/image_ops.h"

namespace velvetshade {
namespace {

OIIO::ImageSpec SpecOf(const Image& image) {
    OIIO::ImageSpec spec(image.width, image.height, 4,
                         image.depth == 16 ? OIIO::TypeDesc::UINT16 : OIIO::TypeDesc::UINT8);
    spec.alpha_channel = 3;
    return spec;
}

void* PixelsOf(Image& image) {
    return image.depth == 16 ? static_cast<void*>(image.pixels16.data()) : static_cast<void*>(image.pixels8.data());
}

std::string Why(const OIIO::ImageBuf& buf) {
    std::string text = buf.geterror();
    if (text.empty()) text = OIIO::geterror();
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text.empty() ? "unknown error" : text;
}

// Everything on the calling thread: OpenImageIO's own pool would be threads
// the tool does not own (and that ThreadSanitizer cannot see into), and a
// 2560 x 1600 photograph downscales to a cell in well under a second.
void OneThread() { OIIO::attribute("threads", 1); }

bool Resize(const Image& in, int width, int height, Image& out, std::string& error) {
    OneThread();
    out = Image{};
    out.Allocate(width, height, in.depth);
    out.has_alpha = in.has_alpha;
    // The source is only read; ImageBuf wraps memory through a non-const pointer.
    Image& source = const_cast<Image&>(in);
    const OIIO::ImageBuf src(SpecOf(in), PixelsOf(source));
    OIIO::ImageBuf dst(SpecOf(out), PixelsOf(out));
    if (!OIIO::ImageBufAlgo::resize(dst, src, "", 0.0f, OIIO::ROI::All(), 1)) {
        error = "cannot resize the image: " + Why(dst);
        return false;
    }
    return true;
}

bool DrawLabel(Image& image, int x, int y, int width, int height, const std::string& text, double grey,
               const char* font, std::string& error) {
    OneThread();
    OIIO::ImageBuf buf(SpecOf(image), PixelsOf(image));
    // As large as the strip allows, smaller where the text would not fit across.
    int size = std::max(8, height * 3 / 5);
    for (; size > 6; --size) {
        const OIIO::ROI extent = OIIO::ImageBufAlgo::text_size(text, size, font);
        if (!extent.defined() || extent.width() <= width - 4) break;
    }
    const float colour[4] = {float(grey), float(grey), float(grey), 1.0f};
    const OIIO::ROI box(x, x + width, y, y + height, 0, 1, 0, 4);
    if (!OIIO::ImageBufAlgo::render_text(buf, x + width / 2, y + height / 2, text, size, font, colour,
                                         OIIO::ImageBufAlgo::TextAlignX::Center,
                                         OIIO::ImageBufAlgo::TextAlignY::Center, 0, box, 1)) {
        error = "cannot draw the label \"" + text + "\" with " + font + ": " + Why(buf);
        return false;
    }
    return true;
}

constexpr ImageOps kOps = {Resize, DrawLabel};

}  // namespace
}  // namespace velvetshade

extern "C" __attribute__((visibility("default"))) const velvetshade::ImageOps* VelvetshadeImageOps() {
    return &velvetshade::kOps;
}
