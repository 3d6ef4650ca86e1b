// An image in memory, as every reader fills it and every writer takes it,
// with what it carries over from its source file. Pixels are kept as the file
// holds them (RGBA, 0..255 or 0..65535); alpha is never premultiplied or
// divided on the way.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cli/system/workers.h"
#include "host/pixel_memory.h"

namespace velvetshade {

// The image library's own description of a file it read; defined in the
// library module only.
struct LibraryDescription;

// A field of a TIFF's image directory kept as stored: a text with its
// closing zero, or a block's bytes.
struct TiffField {
    std::uint16_t tag = 0;
    std::vector<std::uint8_t> values;
};

// Fields of a TIFF's image directory that a TIFF written through libtiff
// carries as stored: texts, and a camera's PrintIM block when its numbers are
// in the byte order of the file written (the machine's).
struct KeptTiffField {
    std::uint16_t tag;
    const char* name;
};
inline constexpr KeptTiffField kKeptTiffFields[] = {
    {269, "DocumentName"}, {285, "PageName"}, {316, "HostComputer"}, {337, "TargetPrinter"}, {50341, "PrintIM"}};

inline std::string KeptTiffFieldName(std::uint32_t tag) {
    for (const KeptTiffField& field : kKeptTiffFields) {
        if (field.tag == tag) return field.name;
    }
    return {};
}

// A text chunk of a PNG source beyond those ImageTags names, written again as
// it was into a PNG made from it.
struct PngText {
    int compression = -1;  // libpng's: -1 tEXt, 0 zTXt, 1 iTXt, 2 compressed iTXt
    std::string key, text, lang, lang_key;
};

// What a file written from an image carries over from its source, whichever
// reader filled it. Codes are TIFF's own; 0 or empty means absent.
struct ImageTags {
    std::string description, date_time, artist, copyright, software;
    float x_resolution = 0, y_resolution = 0;
    int resolution_unit = 0;  // 1 none, 2 inch, 3 centimetre
    int orientation = 0;      // 1 (top-left) .. 8
    std::vector<std::uint8_t> icc_profile;
    int compression = 0;  // the source TIFF's, kept where libtiff can write it
    int predictor = 0;
    bool associated_alpha = false;  // the source marks its alpha premultiplied
    // The image library's description of the source holds a camera's
    // metadata (Exif, GPS, XMP, IPTC, make and model), which only the library
    // writes into other formats. Never set for files read without it.
    bool more_metadata = false;
    // The source's Exif as a TIFF-structured block (what a JPEG's APP1
    // segment holds after its signature, and a PNG's eXIf chunk): the
    // camera's fields of the main directory and the Exif, GPS and
    // interoperability directories and maker note, values as stored. A PNG
    // written from it holds it whole; a TIFF takes its directories (the main
    // one's fields go through the tags here).
    std::vector<std::uint8_t> exif;
    // What of the source's metadata could not be read, each with why ("the
    // XMP packet is dropped: it cannot be read"): notes for a PNG or TIFF
    // written from it.
    std::vector<std::string> dropped;
    // Fields of a TIFF source's image directory beyond those above, by
    // libtiff's name or as "tag 50342" where it knows none (PrintIM excepted):
    // what our own writers leave out, but for the kept fields below in a TIFF;
    // the image library carries those of them it read under the same name.
    std::vector<std::string> other_fields;
    // Of them, those a TIFF written through libtiff carries as stored (see
    // kKeptTiffFields).
    std::vector<TiffField> kept_fields;
    std::string make, model;
    // Blocks of the main directory as stored: XMP packet, IPTC records,
    // Photoshop resources.
    std::vector<std::uint8_t> xmp, iptc, photoshop;
    // A PNG source's texts beyond description, author, copyright, software
    // and XMP, which only a PNG written from it holds.
    std::vector<PngText> png_texts;
    // A PNG source's colour chunks as libpng reports them (fixed point,
    // 100000 to 1): the gamma (0: none), the white point's and primaries' x
    // and y (all 0: none) and the sRGB rendering intent (-1: none), which only
    // a PNG holds. With an sRGB chunk libpng also reports sRGB's own gamma and
    // primaries, which go out beside it, as the format recommends.
    std::int32_t png_gamma = 0;
    std::int32_t png_chromaticities[8] = {};
    int png_srgb_intent = -1;
    bool HasPngColourChunks() const {
        return png_gamma != 0 || png_srgb_intent >= 0 ||
               std::any_of(std::begin(png_chromaticities), std::end(png_chromaticities),
                           [](std::int32_t v) { return v != 0; });
    }
};

// The note for fields of a TIFF source a writer leaves out.
inline std::string OtherFieldsNote(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
    return names.size() == 1 ? "TIFF field " + list + " is dropped: velvetshade does not carry it"
                             : "TIFF fields " + list + " are dropped: velvetshade does not carry them";
}

// A marker of a JPEG source (Exif, XMP, ICC profile, IPTC, comment), written
// again as it was into a JPEG made from it.
struct JpegMarker {
    int code = 0;
    std::vector<std::uint8_t> data;
};

// What a JPEG written from a JPEG source keeps of it.
struct JpegSource {
    std::vector<JpegMarker> markers;
    int sampling[3][2] = {};  // horizontal and vertical factors of Y, Cb, Cr; zeros: not a JPEG source
};

// Frame-sized pixel buffers, zeroed by the system rather than by a pass of ours.
template <typename T>
using PixelVector = std::vector<T, vshost::PixelAllocator<T>>;

struct Image {
    int width = 0;
    int height = 0;
    int depth = 8;           // bits per channel of the pixels below: 8 or 16
    bool has_alpha = false;  // false: alpha is opaque and not written
    PixelVector<std::uint8_t> pixels8;    // RGBA rows when depth is 8
    PixelVector<std::uint16_t> pixels16;  // RGBA rows when depth is 16
    // The library's description of the source: its metadata and colour-space
    // tags go out with the result, and a float source is written as float
    // where the format can. Null for generated images and files read without
    // the library (TIFFs, most PNGs).
    std::shared_ptr<const LibraryDescription> source;
    // A source read without the library, described by it only if written in a
    // format only the library writes.
    std::filesystem::path source_path;
    std::string source_format;  // "tiff", "png", "openexr", ...; empty for generated images
    // Metadata of a generated image (name, value), written like a source's.
    std::vector<std::pair<std::string, std::string>> attributes;
    ImageTags tags;
    JpegSource jpeg;  // read without the library
    // Values of a float source outside 0..1, clipped on reading.
    long long clipped = 0;
    // Asked for on the command line: 1..100 for lossy formats (0: the
    // format's default) and a compression name (empty: the source's or the
    // format's default).
    int quality = 0;
    std::string compression;

    // Pixels all zero. Inline: the image library module fills images too.
    void Allocate(int w, int h, int bits) {
        width = w;
        height = h;
        depth = bits;
        // Fresh buffers come zeroed, so none is cleared pass by pass.
        pixels8 = {};
        pixels16 = {};
        if (bits == 8) pixels8.resize(samples());
        else pixels16.resize(samples());
    }
    std::size_t samples() const { return std::size_t(width) * std::size_t(height) * 4; }
};

// Largest image accepted, in pixels: a damaged header must not make us try to
// allocate terabytes.
constexpr std::int64_t kMaxPixels = std::int64_t(1) << 28;

// Why an image of that size is refused, the same from every reader.
inline std::string TooLargeMessage(std::int64_t width, std::int64_t height) {
    return std::to_string(width) + "x" + std::to_string(height) + " is larger than velvetshade handles (at most " +
           std::to_string(kMaxPixels) + " pixels, 16384x16384)";
}

// To depth bits as the image library converts: v * 257, and round(v / 257).
void ChangeDepth(Image& image, int depth);

// An image's rows where they lie, without the Image that owns them (whose
// reader may move it meanwhile; the buffer stays where it is).
struct PixelRows {
    const std::uint8_t* pixels8 = nullptr;    // RGBA rows when depth is 8
    const std::uint16_t* pixels16 = nullptr;  // RGBA rows when depth is 16
    int width = 0, height = 0, depth = 8;
    bool has_alpha = false;
};

// Told on the reading thread, in order from the top, that rows [first, last)
// of the image being read hold their final pixels (before any change of
// depth). Readers that decode a file whole never tell. A read that fails
// after telling rows tells (image, 0, 0) before it lets the image go: from
// then on no row may be touched.
using RowsRead = std::function<void(const Image& image, int first, int last)>;

// Where an encoder that writes as it goes hands a file's bytes, in order; a
// write that fails says why in error and returns false.
using ByteSink = std::function<bool(const void* data, std::size_t size, std::string& error)>;

// How images are written by the writers of our own (PNG, TIFF).
class PngAhead;
struct WriteSettings {
    int compression = -1;  // deflate level 0..9 for PNG and deflate TIFF; -1: the format's default
    Workers workers;       // for compressing parts of the file side by side
    PngAhead* png_ahead = nullptr;  // a PNG's rows compressed while the image was still being read
    // Our PNG writer hands its file here as it is made, and leaves bytes
    // empty; every other writer fills bytes. Called from any worker, one call
    // at a time.
    ByteSink sink{};
};

}  // namespace velvetshade
