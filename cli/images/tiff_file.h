// TIFFs read and written through libtiff, without the image library: loading
// OpenImageIO costs about 0.25 s before a pixel is read, longer than a 4K
// frame takes to render.
//
// Read: 8- and 16-bit unsigned RGB and grey, with or without alpha, in strips
// or tiles, contiguous or planar, in any compression libtiff decodes; grey
// becomes RGB. Other 8-bit-or-less kinds (palette, CMYK, YCbCr, min-is-white,
// bilevel) go through libtiff's RGBA reader at 8 bits. Float, 32-bit, signed
// and deeper CMYK samples are refused.
// Write: RGB or RGBA at the image's depth, contiguous strips, with the
// source's tags and compression when libtiff writes it (none, LZW, deflate,
// PackBits); anything else is written with deflate. A source's camera
// metadata goes out as it came: make, model, XMP, IPTC and Photoshop blocks
// through libtiff, the Exif, GPS and interoperability directories and maker
// note of its Exif block through Exiv2 (cli/images/metadata.h), which reads
// a TIFF source's too. What cannot be read or carried whole is left out and
// named. Other fields of the image directory are named too, but for a few
// kept as stored (kKeptTiffFields).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "cli/images/image.h"

namespace velvetshade {

// libdeflate's level 1 for deflate strips: with the horizontal predictor a 4K
// photograph comes out at 18.7 MB against FFmpeg's 22.1 MB (zlib's default
// level, no predictor), and the whole run took 0.56 s of CPU on one core
// instead of 0.81 s with libtiff's zlib.
constexpr int kTiffDefaultCompression = 1;

// .tif or .tiff in any case: the names written as TIFF.
bool IsTiffName(const std::filesystem::path& path);

// Whether the file starts like a TIFF (classic or BigTIFF), whatever its name.
bool IsTiffFile(const std::filesystem::path& path);

// The compressions written to TIFFs by name: none, lzw, deflate (or zip), packbits.
bool IsTiffCompressionName(const std::string& name);

// Pages (directories) in the file; 0 when it cannot be read.
int CountTiffPages(const std::filesystem::path& path);

// The fields of page's directory that no writer of ours carries, as
// ImageTags::other_fields names them.
std::vector<std::string> OtherTiffFields(const std::filesystem::path& path, int page);

// depth: 8 or 16 to force, 0 for the file's own (8 up to 8 bits, 16 above).
// Uncompressed and deflate strips are decoded side by side on the workers.
bool ReadTiff(const std::filesystem::path& path, int depth, Image& image, std::string& error,
              const Workers& workers = {});

// Encodes image into bytes, in memory; messages name format_path, the file
// the user asked for, and notes get what of the camera's metadata could not
// be written. Deflate strips are compressed side by side on the workers.
bool EncodeTiff(const std::filesystem::path& format_path, const Image& image, const WriteSettings& settings,
                std::vector<std::string>& notes, std::vector<unsigned char>& bytes, std::string& error);

}  // namespace velvetshade
