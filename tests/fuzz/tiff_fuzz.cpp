// TIFF files from any bytes through the tool's own reader: it reads or
// refuses, never crashes, and what it reads has the size it says.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include <tiffio.h>

#include "cli/images/tiff_file.h"

namespace {

// Frames of up to 2^28 pixels are the reader's to take; the fuzzer keeps to
// small ones so that a header alone does not make it allocate gigabytes.
bool Small(const std::string& path) {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr) return true;
    std::uint32_t width = 0, height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFClose(tif);
    return std::uint64_t(width) * height <= (1u << 20);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = ::memfd_create("fuzz.tif", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, data, size) != ssize_t(size)) std::abort();
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (!Small(path)) {
        ::close(fd);
        return 0;
    }
    for (const int depth : {0, 16}) {
        velvetshade::Image image;
        std::string error;
        if (velvetshade::ReadTiff(path, depth, image, error)) {
            const std::size_t samples = image.samples();
            if (image.width <= 0 || image.height <= 0 || std::int64_t(image.width) * image.height > velvetshade::kMaxPixels ||
                (image.depth == 8 ? image.pixels8.size() : image.pixels16.size()) != samples) {
                std::abort();
            }
            // What was read is written back.
            std::vector<unsigned char> bytes;
            std::vector<std::string> notes;
            if (!velvetshade::EncodeTiff("out.tif", image, velvetshade::WriteSettings{}, notes, bytes, error) ||
                bytes.empty()) {
                std::abort();
            }
        } else if (error.empty()) {
            std::abort();
        }
    }
    ::close(fd);
    return 0;
}
