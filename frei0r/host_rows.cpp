#include "frei0r/host_rows.h"

#include <cstdio>
#include <dlfcn.h>
#include <string>

namespace vsfrei0r {

bool HostPadsRows(const void* caller, std::uint32_t width) {
    // 64 bytes a row is 16 RGBA pixels: the widest alignment FFmpeg gives
    // its frames (its AVX-512 one; narrower ones pad fewer widths).
    if (width % 16 == 0) return false;
    Dl_info info{};
    if (caller == nullptr || dladdr(caller, &info) == 0 || info.dli_fname == nullptr) return false;
    void* library = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) return false;
    using Version = unsigned (*)();
    const auto version = reinterpret_cast<Version>(dlsym(library, "avfilter_version"));
    // Observed in libavfilter 8 (FFmpeg 5.1); the major version is the top 16 bits.
    const bool pads = version != nullptr && (version() >> 16) <= 8;
    dlclose(library);
    return pads;
}

void ReportPaddedRows(std::uint32_t width, std::uint32_t height) {
    const std::uint32_t padded = (width + 15) / 16 * 16;
    const std::uint32_t left = (padded - width) / 2;
    const std::string w = std::to_string(width), h = std::to_string(height);
    const std::string line =
        "velvetshade: this FFmpeg pads the rows of frames " + w + " pixels wide, which a frei0r filter cannot be "
        "told: the last rows would come out wrong. Pad the width to a multiple of 16 before the filter and crop "
        "after it, for example -vf \"pad=" + std::to_string(padded) + ":" + h + ":" + std::to_string(left) +
        ":0,frei0r=velvetshade:...,crop=" + w + ":" + h + ":" + std::to_string(left) + ":0\"\n";
    // One write, so lines from several instances do not interleave.
    std::fputs(line.c_str(), stderr);
}

}  // namespace vsfrei0r
