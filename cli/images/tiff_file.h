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

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cli/images/image.h"

namespace velvetshade {

class PendingFile;

// Deflate strips are coded by default as literals only (huffman_deflate.h):
// on a 4K photograph's differenced 8-bit strips libdeflate's level 1 ran at
// 96 MB/s for 18.7 MB, literals alone at about 820 MB/s for 18.9 MB (FFmpeg's
// zlib default: 22.1 MB). Matches buy more on 16-bit samples of an 8-bit
// source (29.2 against 37 MB); a level asked for (--compression 0-9) is
// libdeflate's.
constexpr int kTiffDefaultCompression = -1;

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

// A TIFF rendered into a TIFF a band of rows at a time (RenderTiffBands).
struct TiffBands {
    // Told once, before any band, with the image as read: its size, depth,
    // alpha and tags, no pixels.
    std::function<void(const Image& described)> begin;
    // Renders rows [first, first + rows) in place: RGBA rows at the image's
    // depth (pixels8 or pixels16, the other null), its width wide. Called on
    // the workers, bands side by side.
    std::function<void(std::uint8_t* pixels8, std::uint16_t* pixels16, int first, int rows)> render;
};
enum class BandRender { kNotThisKind, kWritten, kWriteFailed };

// Renders the TIFF in into out, a TIFF, with no frame-sized buffer: its
// strips are decoded, rendered and encoded side by side on the workers and
// written as they are done, after the directories. What ReadTiff and
// EncodeTiff would give, in a layout of its own. described.compression names
// the compression asked for (empty: the source's); described gets the image
// as read, without pixels. kNotThisKind, with nothing written, for sources
// it does not take (depth other than asked, planes, tiles, codecs other than
// deflate, a strip that does not decode) and outputs of other codecs: those
// go the usual way.
BandRender RenderTiffBands(const std::filesystem::path& in, int depth, const std::filesystem::path& format_path,
                           const WriteSettings& settings, const TiffBands& bands, PendingFile& out,
                           Image& described, std::vector<std::string>& notes, std::string& error);

}  // namespace velvetshade
