#include "cli/images/image_ops.h"

#include <system_error>

#include "cli/system/companion_module.h"

namespace velvetshade {
namespace fs = std::filesystem;
namespace {

// The image library module, the one the image formats load.
const ImageOps* Ops(std::string& error) {
    return LoadCompanionTable<ImageOps>("the image library", "velvetshade-images.so", "VelvetshadeImageOps", error);
}

}  // namespace

bool ResizeImage(const Image& in, int width, int height, Image& out, std::string& error) {
    const ImageOps* ops = Ops(error);
    return ops != nullptr && ops->resize(in, width, height, out, error);
}

bool DrawLabel(Image& image, int x, int y, int width, int height, const std::string& text, double grey,
               std::string& error) {
    std::error_code ec;
    if (!fs::exists(kLabelFont, ec)) {
        error = std::string("the label font ") + kLabelFont + " is missing (Debian package fonts-dejavu-core)";
        return false;
    }
    const ImageOps* ops = Ops(error);
    return ops != nullptr && ops->draw_label(image, x, y, width, height, text, grey, kLabelFont, error);
}

}  // namespace velvetshade
