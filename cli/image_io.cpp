#include "cli/image_io.h"

#include <dlfcn.h>
#include <system_error>

#include "cli/input_file.h"
#include "cli/tiff_file.h"

namespace velvetshade {
namespace fs = std::filesystem;
namespace {

constexpr const char* kLibraryFile = "velvetshade-images.so";

// Loaded once and kept for the process's life: images it filled may hold
// descriptions whose code lives in it.
const ImageLibrary* Library(std::string& error) {
    static const ImageLibrary* library = nullptr;
    static std::string failure;
    if (library != nullptr) return library;
    if (!failure.empty()) {
        error = failure;
        return nullptr;
    }
    // A program with the library linked in (the tests) uses its own copy.
    if (const auto self = reinterpret_cast<decltype(&VelvetshadeImageLibrary)>(
            ::dlsym(RTLD_DEFAULT, "VelvetshadeImageLibrary"))) {
        return library = self();
    }
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    const fs::path candidates[] = {exe.parent_path() / kLibraryFile,
                                   exe.parent_path().parent_path() / "lib" / "velvetshade" / kLibraryFile};
    std::string why;
    for (const fs::path& path : candidates) {
        if (ec || !fs::exists(path, ec)) continue;
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            why = ::dlerror();
            continue;
        }
        const auto entry = reinterpret_cast<decltype(&VelvetshadeImageLibrary)>(
            ::dlsym(handle, "VelvetshadeImageLibrary"));
        if (entry != nullptr && (library = entry()) != nullptr) return library;
        why = candidates[0].string() + " lacks its entry point";
    }
    failure = "the image library " + std::string(kLibraryFile) + " cannot be loaded" +
              (why.empty() ? " (not found beside velvetshade)" : ": " + why);
    error = failure;
    return nullptr;
}

}  // namespace

bool ReadImage(const fs::path& path, int depth, Image& image, std::string& error) {
    if (!CheckInputFile(path, error)) return false;
    if (IsTiffFile(path)) return ReadTiff(path, depth, image, error);
    const ImageLibrary* library = Library(error);
    if (library == nullptr) {
        error = "cannot read " + path.string() + ": " + error;
        return false;
    }
    return library->read(path, depth, image, error);
}

bool CanWriteImage(const fs::path& path, std::string& error) {
    if (IsTiffName(path)) return true;
    const ImageLibrary* library = Library(error);
    if (library == nullptr) {
        error = "cannot write " + path.string() + ": " + error;
        return false;
    }
    return library->can_write(path, error);
}

bool EncodeImage(const fs::path& format_path, const Image& image, std::vector<std::string>& notes,
                 std::vector<unsigned char>& bytes, std::string& error) {
    if (IsTiffName(format_path)) return EncodeTiff(format_path, image, bytes, error);
    const ImageLibrary* library = Library(error);
    if (library == nullptr) {
        error = "cannot write " + format_path.string() + ": " + error;
        return false;
    }
    // A TIFF read without the library goes elsewhere: the library's own
    // description of the source goes with it, as if the library had read it.
    std::shared_ptr<const LibraryDescription> described;
    if (!image.source && !image.tiff_source.empty()) {
        if (!library->describe(image.tiff_source, described, error)) return false;
    }
    return library->encode(format_path, image, described ? described.get() : image.source.get(), notes, bytes,
                           error);
}

}  // namespace velvetshade
