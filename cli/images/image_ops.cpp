#include "cli/images/image_ops.h"

#include <system_error>

#include "cli/system/companion_module.h"

namespace velvetshade {
namespace fs = std::filesystem;
namespace {

// The image library module, as cli/image_io.cpp finds it; opening it again
// only takes another reference to the copy already loaded.
const ImageOps* Ops(std::string& error) {
    static const ImageOps* ops = nullptr;
    if (ops != nullptr) return ops;
    std::string why;
    const auto entry = reinterpret_cast<decltype(&VelvetshadeImageOps)>(
        LoadCompanionEntry("velvetshade-images.so", "VelvetshadeImageOps", why));
    if (entry != nullptr && (ops = entry()) != nullptr) return ops;
    error = "the image library velvetshade-images.so cannot be loaded: " + why;
    return nullptr;
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
