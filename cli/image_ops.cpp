#include "cli/image_ops.h"

#include <dlfcn.h>
#include <system_error>

namespace velvetshade {
namespace fs = std::filesystem;
namespace {

// The image library module, as cli/image_io.cpp finds it; opening it again
// only takes another reference to the copy already loaded.
const ImageOps* Ops(std::string& error) {
    static const ImageOps* ops = nullptr;
    if (ops != nullptr) return ops;
    // A program with the library linked in (the tests) uses its own copy.
    if (const auto self = reinterpret_cast<decltype(&VelvetshadeImageOps)>(
            ::dlsym(RTLD_DEFAULT, "VelvetshadeImageOps"))) {
        return ops = self();
    }
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    std::string why = "not found beside velvetshade";
    for (const fs::path& path : {exe.parent_path() / "velvetshade-images.so",
                                 exe.parent_path().parent_path() / "lib" / "velvetshade" / "velvetshade-images.so"}) {
        if (ec || !fs::exists(path, ec)) continue;
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            why = ::dlerror();
            continue;
        }
        const auto entry =
            reinterpret_cast<decltype(&VelvetshadeImageOps)>(::dlsym(handle, "VelvetshadeImageOps"));
        if (entry != nullptr && (ops = entry()) != nullptr) return ops;
        why = path.string() + " lacks its image operations";
    }
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
