// Helpers for the velvetshade tests: scratch directories, running the built
// tool, and images written and read through OpenImageIO.
#pragma once

#include <OpenImageIO/imageio.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/images/image_io.h"
#include "look/look_settings.h"

namespace velvetshade::test {

using look::LookParams;

// A fresh directory, removed with everything in it.
struct TempDir {
    explicit TempDir(const std::string& name);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // Files whose names show they are our temporaries.
    std::vector<std::filesystem::path> Leftovers() const;
    std::filesystem::path path;
};

struct RunResult {
    int exit_code = -1;
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs the built velvetshade with args.
RunResult RunTool(const std::vector<std::string>& args);
// Runs the built velvetshade as a child of its own, and measures its peak
// resident memory.
struct MeasuredRun {
    int exit_code = -1;
    double peak_mib = 0;
    std::string err;
};
MeasuredRun RunToolMeasured(const std::vector<std::string>& args);
// A peak says little under the sanitizers: AddressSanitizer keeps freed
// blocks in quarantine instead of handing them back, ThreadSanitizer's
// allocator and shadow memory grow with every block touched.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kPeaksAreMeaningful = false;
#else
constexpr bool kPeaksAreMeaningful = true;
#endif
// Runs any program, for ffmpeg and ffprobe.
RunResult RunProgram(const std::vector<std::string>& argv);
// A TIFF's metadata as exiftool reads it, numbers as stored, without what
// depends on how the strips are laid out.
std::string TiffMetadata(const std::filesystem::path& path);

// Channels interleaved, 0..255 or 0..65535 in uint32 for both depths.
struct Pixels {
    int width = 0, height = 0, channels = 0;
    int bits = 8;
    OIIO::TypeDesc format;
    std::vector<std::uint32_t> data;
    std::uint32_t at(int x, int y, int c) const {
        return data[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * std::size_t(channels) + std::size_t(c)];
    }
};

Pixels RandomPixels(int width, int height, int channels, int bits, unsigned seed);
// Writes as the depth of p (unassociated alpha), with extra attributes.
void WriteImage(const std::filesystem::path& path, const Pixels& p,
                const std::vector<std::pair<std::string, std::string>>& attributes = {});
// Reads at the file's depth (8 stays 8, anything else as 16), alpha unassociated.
Pixels ReadImage(const std::filesystem::path& path, OIIO::ImageSpec* spec = nullptr);

std::string ReadBytes(const std::filesystem::path& path);

// p (RGB or RGBA) as the tool holds it: RGBA, opaque alpha for three channels.
Image ToImage(const Pixels& p);

// The look parameters as velvetshade sets them through the host, with the
// frame geometry of an image w x h rendered at scale num/den.
LookParams Geometry(LookParams params, int width, int height, int num = 1, int den = 1);

// What the module's own pixel functions make of p (RGB or RGBA, 8 or 16
// bits, 16-bit values converted to the host scale and back as velvetshade does).
Pixels Expected(const Pixels& p, const LookParams& params);

}  // namespace velvetshade::test
