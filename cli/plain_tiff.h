// Uncompressed RGB(A) TIFFs in the exact layout our image library writes,
// read and written directly. Loading the image library costs a large part of
// a frame's time at startup, so the common case of such a TIFF in and TIFF out
// goes without it. Everything else, and every file that differs in any way
// from that layout, goes through the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/image_io.h"

namespace velvetshade {

// A plain TIFF's header: everything before the first strip. The library
// writes back an image it read from such a file with the same header, so
// the header is kept and written again with the new pixels.
struct TiffLayout {
    int width = 0;
    int height = 0;
    int channels = 0;  // 3 (RGB) or 4 (RGBA)
    int bits = 0;      // 8 or 16
    int rows_per_strip = 0;
    std::vector<std::uint8_t> header;
    std::filesystem::path source;  // the file it was read from

    std::size_t row_bytes() const { return std::size_t(width) * std::size_t(channels) * std::size_t(bits / 8); }
    std::size_t pixel_bytes() const { return row_bytes() * std::size_t(height); }
};

// .tif or .tiff in any case: what the library writes as TIFF.
bool IsTiffName(const std::filesystem::path& path);

// The header the library writes for an uncompressed, contiguous, unsigned RGB(A)
// image with these tags; alpha_kind is the ExtraSamples value (1 associated,
// 2 unassociated; ignored for RGB). software and date_time include their
// terminating NUL.
std::vector<std::uint8_t> PlainTiffHeader(int width, int height, int channels, int bits,
                                          int rows_per_strip, int alpha_kind,
                                          const std::string& software, const std::string& date_time);

// The layout of the file's first bytes (file_size bytes in all) when they are
// exactly a plain TIFF header as PlainTiffHeader makes it, with whole strips
// following it; false for anything else.
bool ParsePlainTiff(const std::uint8_t* data, std::size_t size, std::size_t file_size, TiffLayout& layout);

// Reads path into image when it is a plain TIFF of depth bits (or any depth
// for depth 0); false, with image untouched, when it is not one or cannot be
// read: the image library then reads it and reports what is wrong.
bool ReadPlainTiff(const std::filesystem::path& path, int depth, Image& image);

// Whether image, read by ReadPlainTiff, can be written as a TIFF with its
// source's header, i.e. exactly as the image library would write it.
bool CanWritePlainTiff(const Image& image, const std::filesystem::path& format_path);

// Writes image to write_path; messages name format_path, the file the user asked for.
bool WritePlainTiff(const std::filesystem::path& write_path, const std::filesystem::path& format_path,
                    const Image& image, std::string& error);

}  // namespace velvetshade
