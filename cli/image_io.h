// Still images in and out through OpenImageIO. Pixels are kept as the file
// holds them (RGBA, 0..255 or 0..65535); alpha is never premultiplied or
// divided on the way.
#pragma once

#include <OpenImageIO/imageio.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace velvetshade {

struct Image {
    int width = 0;
    int height = 0;
    int depth = 8;           // bits per channel of the pixels below: 8 or 16
    bool has_alpha = false;  // false: alpha is opaque and not written
    std::vector<std::uint8_t> pixels8;    // RGBA rows when depth is 8
    std::vector<std::uint16_t> pixels16;  // RGBA rows when depth is 16
    // The source's description: its metadata and colour-space tags go out with
    // the result, and a float source is written as float where the format can.
    OIIO::ImageSpec source;
    std::string source_format;  // "png", "openexr", ...; empty for generated images

    void Allocate(int w, int h, int bits);
    std::size_t samples() const { return std::size_t(width) * std::size_t(height) * 4; }
};

// Largest image accepted, in pixels: a damaged header must not make us try to
// allocate terabytes.
constexpr std::int64_t kMaxPixels = std::int64_t(1) << 28;

// depth: 8 or 16 to force, 0 to choose from the file (8-bit files at 8,
// anything deeper or float at 16).
bool ReadImage(const std::filesystem::path& path, int depth, Image& image, std::string& error);

// Whether OpenImageIO has a writer for the file name's extension.
bool CanWriteImage(const std::filesystem::path& path, std::string& error);

// Writes image to write_path in the format named by format_path's extension.
// notes gets what the format could not keep (alpha in a JPEG, say).
bool WriteImage(const std::filesystem::path& write_path, const std::filesystem::path& format_path,
                const Image& image, std::vector<std::string>& notes, std::string& error);

}  // namespace velvetshade
