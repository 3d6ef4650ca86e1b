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
    // A source with a camera's metadata goes out through the library as a
    // TIFF too: its Exif, XMP and IPTC travel with its description, which
    // libtiff's writer does not carry.
    if (IsTiffName(format_path) && !image.tags.more_metadata) {
        return EncodeTiff(format_path, image, bytes, error);
    }
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

int CountPages(const fs::path& path) {
    std::string error;
    // A FIFO or device would block the first reader; reading reports it.
    if (!CheckInputFile(path, error)) return 0;
    if (IsTiffFile(path)) return CountTiffPages(path);
    const ImageLibrary* library = Library(error);
    return library == nullptr ? 0 : library->count_pages(path);
}

bool ReadPage(const fs::path& path, int depth, int page, Image& image, std::string& error) {
    if (page == 0) return ReadImage(path, depth, image, error);
    // Later pages of a TIFF through the library, which reads any page.
    const ImageLibrary* library = Library(error);
    if (library == nullptr) {
        error = "cannot read " + path.string() + ": " + error;
        return false;
    }
    return library->read_page(path, depth, page, image, error);
}

bool CanWritePages(const fs::path& path) {
    std::string error;
    const ImageLibrary* library = Library(error);
    return library != nullptr && library->can_write_pages(path);
}

bool EncodePages(const fs::path& format_path, const std::vector<Image>& pages, std::vector<std::string>& notes,
                 std::vector<unsigned char>& bytes, std::string& error) {
    if (pages.size() == 1) return EncodeImage(format_path, pages.front(), notes, bytes, error);
    const ImageLibrary* library = Library(error);
    if (library == nullptr) {
        error = "cannot write " + format_path.string() + ": " + error;
        return false;
    }
    // Pages read by libtiff carry no library description: give them one.
    std::vector<Image> described;
    const std::vector<Image>* all = &pages;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (pages[i].source || pages[i].tiff_source.empty()) continue;
        if (described.empty()) described = pages;
        if (!library->describe(pages[i].tiff_source, described[i].source, error)) return false;
        all = &described;
    }
    return library->encode_pages(format_path, *all, notes, bytes, error);
}

}  // namespace velvetshade
