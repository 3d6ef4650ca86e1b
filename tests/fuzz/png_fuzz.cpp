// PNG files from any bytes through the tool's own reader: it reads or
// refuses, never crashes, and what it reads has the size it says.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "cli/images/png_file.h"

namespace {

// The fuzzer keeps to small frames, so that a header alone does not make the
// reader allocate gigabytes.
bool Small(const std::uint8_t* data, std::size_t size) {
    if (size < 24 || std::memcmp(data + 12, "IHDR", 4) != 0) return true;
    const auto be32 = [&](std::size_t at) {
        return std::uint32_t(data[at]) << 24 | std::uint32_t(data[at + 1]) << 16 | std::uint32_t(data[at + 2]) << 8 |
               data[at + 3];
    };
    return std::uint64_t(be32(16)) * be32(20) <= (1u << 20);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!Small(data, size)) return 0;
    const int fd = ::memfd_create("fuzz.png", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, data, size) != ssize_t(size)) std::abort();
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    for (const int depth : {0, 16}) {
        velvetshade::Image image;
        std::string error;
        if (velvetshade::ReadPng(path, depth, image, error)) {
            if (image.width <= 0 || image.height <= 0 ||
                (image.depth == 8 ? image.pixels8.size() : image.pixels16.size()) != image.samples()) {
                std::abort();
            }
        } else if (error.empty()) {
            std::abort();
        }
    }
    ::close(fd);
    return 0;
}
