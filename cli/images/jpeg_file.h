// JPEGs read and written through libjpeg-turbo, without the image library:
// loading OpenImageIO is a quarter of a 4K JPEG run.
//
// Read: 8-bit colour JPEGs (YCbCr or RGB), decoded as the image library
// decodes them, with their Exif, XMP, IPTC and ICC markers and comments kept
// to be written again, and read (the Exif through Exiv2) for the writers of
// other formats. Grey and CMYK JPEGs go to the image library.
// Write: a JPEG read this way is written with the library's settings
// (quality 98, the source's chroma sampling) and its markers as they were;
// images from any other source go to the image library, which makes their
// metadata into markers.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "cli/images/image.h"

namespace velvetshade {

constexpr int kJpegQuality = 98;

bool IsJpegName(const std::filesystem::path& path);

// handled false (and nothing reported): not a JPEG this reader takes.
bool ReadJpeg(const std::filesystem::path& path, int depth, Image& image, bool& handled, std::string& error,
              const RowsRead& rows_read = {});

// Whether EncodeJpeg encodes image: a JPEG read by ReadJpeg, at 8 bits.
bool CanWriteJpegDirectly(const Image& image);

// Encodes image into bytes, in memory; messages name format_path.
bool EncodeJpeg(const std::filesystem::path& format_path, const Image& image, std::vector<unsigned char>& bytes,
                std::string& error);

}  // namespace velvetshade
