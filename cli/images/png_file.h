// PNGs read and written through libpng, without the image library: in a 4K
// PNG run through it (2.1 s of CPU), loading it took a tenth and zlib and
// libpng, compressing on one core at zlib's default level, 71%.
//
// Read: 8- and 16-bit RGB and RGBA without a transparency chunk; other kinds
// go to the image library.
// Write: RGB or RGBA at the image's depth. The rows are filtered and
// compressed in independent groups on every worker, each group's deflate
// primed with the end of the one before and ended on a byte boundary, so that
// the groups join into the one zlib stream a PNG holds.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/images/image.h"
#include "cli/system/workers.h"

namespace velvetshade {

// zlib's level 1, run-length matches only, every row filtered Up: a 4K
// photograph comes out at 19.0 MB against FFmpeg's 22.2 MB (zlib's default
// level, no filter), the whole run in 0.9 s of CPU against its 2.1 s. From
// level 3 each row takes the filter that suits it best and deflate looks for
// every match.
constexpr int kPngDefaultCompression = 1;
constexpr int kPngAdaptiveFilters = 3;

bool IsPngName(const std::filesystem::path& path);

// Whether the PNG writer carries the XMP packet: as stored, in the standard
// international text chunk, which holds no zero byte.
bool PngCarriesXmp(const std::vector<std::uint8_t>& xmp);

// Whether the file is a PNG this reader takes (see above); false leaves it to
// the image library, which reads every other kind or names what is wrong.
bool IsDirectPng(const std::filesystem::path& path);

// depth: 8 or 16 to force, 0 for the file's own.
bool ReadPng(const std::filesystem::path& path, int depth, Image& image, std::string& error,
             const RowsRead& rows_read = {});

// A PNG's rows filtered and compressed as they become final, while the rest
// of the image is still being read and rendered: on 2 threads the thread
// rendering beside the reader is half idle, and compressing is the largest
// part of a PNG run. EncodePng takes the groups done, if they are of the
// same image and level, and makes the rest, into the same file.
class PngAhead {
public:
    explicit PngAhead(int compression);  // as EncodePng takes it
    ~PngAhead();
    PngAhead(const PngAhead&) = delete;
    PngAhead& operator=(const PngAhead&) = delete;
    // Rows [0, rows) of image hold what is to be written: the groups wholly
    // among them are compressed, on the calling thread.
    void RowsFinal(const PixelRows& image, int rows);

    struct State;

private:
    friend bool EncodePng(const std::filesystem::path&, const Image&, int, const Workers&,
                          std::vector<unsigned char>&, std::string&, PngAhead*, const ByteSink&);
    const int compression_;
    std::unique_ptr<State> state_;
};

// Encodes image into bytes, in memory; given a sink, hands the file to it in
// order instead, piece by piece as the groups are compressed, and leaves
// bytes empty. compression: zlib's level 0..9, or -1 for
// kPngDefaultCompression. Messages name format_path, the file the user asked
// for; a sink's failure is reported in its own words.
bool EncodePng(const std::filesystem::path& format_path, const Image& image, int compression,
               const Workers& workers, std::vector<unsigned char>& bytes, std::string& error,
               PngAhead* ahead = nullptr, const ByteSink& sink = {});

}  // namespace velvetshade
