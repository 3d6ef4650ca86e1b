// PNGs read and written through libpng, without the image library: loading
// OpenImageIO costs about 0.2 s, and its writer compresses a 4K frame on one
// core with zlib's slow default, 1.7 s of a 2.1 s run.
//
// Read: 8- and 16-bit RGB and RGBA without a transparency chunk; other kinds
// go to the image library.
// Write: RGB or RGBA at the image's depth. The rows are filtered and
// compressed in independent groups on every worker, each group's deflate
// primed with the end of the one before and ended on a byte boundary, so that
// the groups join into the one zlib stream a PNG holds.
#pragma once

#include <filesystem>
#include <string>

#include "cli/image_io.h"
#include "cli/workers.h"

namespace velvetshade {

// zlib's level 1, run-length matches only, every row filtered Up: a 4K
// photograph comes out 15% smaller than FFmpeg's PNG (zlib's default level,
// no filter) in a quarter of the time. From level 3 each row takes the filter
// that suits it best and deflate looks for every match.
constexpr int kPngDefaultCompression = 1;
constexpr int kPngAdaptiveFilters = 3;

bool IsPngName(const std::filesystem::path& path);

// Whether the file is a PNG this reader takes (see above); false leaves it to
// the image library, which reads every other kind or names what is wrong.
bool IsDirectPng(const std::filesystem::path& path);

// depth: 8 or 16 to force, 0 for the file's own.
bool ReadPng(const std::filesystem::path& path, int depth, Image& image, std::string& error);

// compression: zlib's level 0..9, or -1 for kPngDefaultCompression.
// Messages name format_path, the file the user asked for.
bool WritePng(const std::filesystem::path& write_path, const std::filesystem::path& format_path,
              const Image& image, int compression, const Workers& workers, std::string& error);

}  // namespace velvetshade
