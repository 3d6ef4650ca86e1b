// Image operations the contact sheet needs from the image library module
// (OpenImageIO's ImageBufAlgo): a filtered downscale and labels drawn with
// a font from the fonts-dejavu-core package.
#pragma once

#include <string>

#include "cli/images/image_io.h"

namespace velvetshade {

// in resized to width x height with OpenImageIO's default filter for the
// direction of the change; out gets in's depth and alpha.
bool ResizeImage(const Image& in, int width, int height, Image& out, std::string& error);

// text centred in the box (x, y, width, height) of image, drawn over what is
// there in grey level grey (0..1), nothing outside the box touched.
bool DrawLabel(Image& image, int x, int y, int width, int height, const std::string& text, double grey,
               std::string& error);

// The module's entry points for the two.
struct ImageOps {
    bool (*resize)(const Image& in, int width, int height, Image& out, std::string& error);
    bool (*draw_label)(Image& image, int x, int y, int width, int height, const std::string& text,
                       double grey, const char* font, std::string& error);
};

// The font labels are drawn with.
inline constexpr const char* kLabelFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

}  // namespace velvetshade

extern "C" const velvetshade::ImageOps* VelvetshadeImageOps();
