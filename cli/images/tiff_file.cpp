#include "cli/images/tiff_file.h"

#include <libdeflate.h>
#include <tiffio.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/images/format_file.h"
#include "cli/images/huffman_deflate.h"
#include "cli/images/metadata.h"
#include "cli/system/output_file.h"

namespace velvetshade {
namespace fs = std::filesystem;
namespace {

// libtiff's first error on a file, kept for our message instead of printed.
struct Messages {
    std::string first;
};

int KeepError(TIFF*, void* user, const char* module, const char* format, va_list args) {
    auto& messages = *static_cast<Messages*>(user);
    if (messages.first.empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        messages.first = text;
        if (messages.first.empty() && module != nullptr) messages.first = module;
    }
    return 1;
}

int DropWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Opens with messages routed to messages; mode as TIFFOpen's; fd < 0 opens path.
TIFF* Open(const fs::path& path, int fd, const char* mode, Messages& messages) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, KeepError, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options, DropWarning, nullptr);
    TIFF* tif = fd < 0 ? TIFFOpenExt(path.c_str(), mode, options)
                       : TIFFFdOpenExt(fd, path.c_str(), mode, options);
    TIFFOpenOptionsFree(options);
    return tif;
}

// A TIFF written into a byte vector: the encoder never meets the disk, whose
// writes are the caller's, checked.
struct InMemory {
    std::vector<unsigned char>& bytes;
    std::size_t at;
    std::size_t populated = 0;  // bytes of the buffer whose pages are in place

    // Faults the buffer's pages in ahead of the writes, a few megabytes per
    // call: one call maps them where a fault per page would (a 4K 16-bit
    // frame is 12,000 pages; 30 of its 385 ms on one thread went to them).
    void Populate(std::size_t end) {
        if (end <= populated) return;
        constexpr std::size_t kAhead = std::size_t(4) << 20;
        const std::size_t page = std::size_t(sysconf(_SC_PAGESIZE));
        const auto base = reinterpret_cast<std::uintptr_t>(bytes.data());
        const std::uintptr_t from = (base + populated + page - 1) / page * page;
        const std::uintptr_t to = (base + std::min(bytes.capacity(), end + kAhead)) / page * page;
        // Only a hint: pages it leaves out are faulted in as they are written.
        if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
        populated = std::min(bytes.capacity(), end + kAhead);
    }

    static InMemory& Of(thandle_t h) { return *static_cast<InMemory*>(h); }
    static tmsize_t Read(thandle_t h, void* data, tmsize_t size) {
        InMemory& m = Of(h);
        const std::size_t n = std::min(std::size_t(size), m.at < m.bytes.size() ? m.bytes.size() - m.at : 0);
        if (n > 0) std::memcpy(data, m.bytes.data() + m.at, n);
        m.at += n;
        return tmsize_t(n);
    }
    static tmsize_t Write(thandle_t h, void* data, tmsize_t size) {
        InMemory& m = Of(h);
        const std::size_t n = std::size_t(size);
        const std::size_t end = m.at + n;
        if (end > m.bytes.capacity()) {
            m.bytes.reserve(std::max(end, 2 * m.bytes.capacity()));
            m.populated = 0;
        }
        m.Populate(end);
        if (m.at > m.bytes.size()) m.bytes.resize(m.at);  // a gap left by a seek reads as zeros
        // Bytes over old ones are copied in place, the rest appended without
        // clearing them first.
        const auto* in = static_cast<const unsigned char*>(data);
        const std::size_t over = std::min(n, m.bytes.size() - m.at);
        std::memcpy(m.bytes.data() + m.at, in, over);
        m.bytes.insert(m.bytes.end(), in + over, in + n);
        m.at = end;
        return size;
    }
    static toff_t Seek(thandle_t h, toff_t offset, int whence) {
        InMemory& m = Of(h);
        const std::int64_t base = whence == SEEK_CUR ? std::int64_t(m.at)
                                  : whence == SEEK_END ? std::int64_t(m.bytes.size()) : 0;
        const std::int64_t to = base + std::int64_t(offset);
        if (to < 0) return toff_t(-1);
        m.at = std::size_t(to);
        return toff_t(to);
    }
    static int Close(thandle_t) { return 0; }
    static toff_t Size(thandle_t h) { return toff_t(Of(h).bytes.size()); }
};

struct Closer {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};

// The pixels' arrangement in the file, for placing decoded samples as RGBA.
template <typename T>
struct Placer {
    int samples;  // per pixel
    int colour;   // 3 for RGB, 1 for grey (spread to red, green and blue)
    int alpha;    // the alpha sample, or -1 for opaque
    static constexpr T kOpaque = T(~T(0));

    // n pixels of interleaved samples.
    void Interleaved(const T* s, T* d, std::size_t n) const {
        if (samples == 4 && colour == 3 && alpha == 3) {
            std::memcpy(d, s, n * 4 * sizeof(T));
        } else if (colour == 3) {
            for (std::size_t i = 0; i < n; ++i, s += samples, d += 4) {
                d[0] = s[0], d[1] = s[1], d[2] = s[2], d[3] = alpha >= 0 ? s[alpha] : kOpaque;
            }
        } else {
            for (std::size_t i = 0; i < n; ++i, s += samples, d += 4) {
                d[0] = d[1] = d[2] = s[0], d[3] = alpha >= 0 ? s[alpha] : kOpaque;
            }
        }
    }
    // n samples of one plane; alpha was set opaque beforehand when there is none.
    void Plane(int plane, const T* s, T* d, std::size_t n) const {
        if (plane < colour && colour == 1) {
            for (std::size_t i = 0; i < n; ++i, d += 4) d[0] = d[1] = d[2] = s[i];
        } else if (plane < colour || plane == alpha) {
            const int c = plane < colour ? plane : 3;
            for (std::size_t i = 0; i < n; ++i, d += 4) d[c] = s[i];
        }
    }
    bool Wanted(int plane) const { return plane < colour || plane == alpha; }
};

// Decodes every strip or tile into pixels (RGBA rows, width wide).
template <typename T>
bool Decode(TIFF* tif, int width, int height, bool separate, const Placer<T>& placer, T* pixels,
            std::string& why) {
    const bool tiled = TIFFIsTiled(tif) != 0;
    std::uint32_t unit_w = std::uint32_t(width), unit_h = 0;
    if (tiled) {
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &unit_w);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &unit_h);
    } else {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &unit_h);
    }
    unit_h = std::min(unit_h, std::uint32_t(height));
    // A tile may overhang the image, but not by more than a few times its
    // area: a small file must not make us allocate gigabytes for one tile.
    const std::int64_t unit_cap =
        std::min<std::int64_t>(kMaxPixels, 4 * std::max<std::int64_t>(std::int64_t(width) * height, 1 << 20));
    if (unit_w == 0 || unit_h == 0 || std::int64_t(unit_w) * unit_h > unit_cap) {
        why = "its strips or tiles have no size or a size beyond reason";
        return false;
    }
    const std::size_t unit_samples = separate ? 1 : std::size_t(placer.samples);
    const tmsize_t unit_bytes = tiled ? TIFFTileSize(tif) : TIFFStripSize(tif);
    if (unit_bytes <= 0 || std::size_t(unit_bytes) < std::size_t(unit_w) * unit_h * unit_samples * sizeof(T)) {
        why = "its strips or tiles are smaller than their rows";
        return false;
    }
    // A strip or tile holds its rows and little else; a header claiming far
    // more would have us allocate gigabytes for a small file.
    if (std::size_t(unit_bytes) > 4 * std::size_t(unit_w) * unit_h * unit_samples * sizeof(T) + 65536) {
        why = "its strips or tiles are far larger than their rows";
        return false;
    }
    std::vector<T> unit(std::size_t(unit_bytes) / sizeof(T) + 1);
    if (separate && placer.alpha < 0) {
        for (std::size_t i = 3; i < std::size_t(width) * std::size_t(height) * 4; i += 4) pixels[i] = placer.kOpaque;
    }
    const int planes = separate ? placer.samples : 1;
    for (int plane = 0; plane < planes; ++plane) {
        if (separate && !placer.Wanted(plane)) continue;
        for (std::uint32_t y0 = 0; y0 < std::uint32_t(height); y0 += unit_h) {
            for (std::uint32_t x0 = 0; x0 < std::uint32_t(width); x0 += unit_w) {
                const std::uint32_t rows = std::min(unit_h, std::uint32_t(height) - y0);
                const std::uint32_t cols = std::min(unit_w, std::uint32_t(width) - x0);
                const tmsize_t got =
                    tiled ? TIFFReadEncodedTile(tif, TIFFComputeTile(tif, x0, y0, 0, std::uint16_t(plane)),
                                                unit.data(), unit_bytes)
                          : TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, y0, std::uint16_t(plane)),
                                                 unit.data(), unit_bytes);
                const std::size_t needed = (tiled ? std::size_t(unit_h) : rows) * unit_w * unit_samples * sizeof(T);
                if (got < 0 || std::size_t(got) < needed) {
                    why = got < 0 ? "" : "a strip or tile is cut short";
                    return false;
                }
                for (std::uint32_t r = 0; r < rows; ++r) {
                    const T* s = unit.data() + std::size_t(r) * unit_w * unit_samples;
                    T* d = pixels + ((std::size_t(y0) + r) * std::size_t(width) + x0) * 4;
                    if (separate) placer.Plane(plane, s, d, cols);
                    else placer.Interleaved(s, d, cols);
                }
            }
        }
    }
    return true;
}

// A file mapped for reading, whole; data null when it cannot be.
struct FileMap {
    const std::uint8_t* data = nullptr;
    std::uint64_t size = 0;
    explicit FileMap(int fd) {
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_size <= 0) return;
        void* p = ::mmap(nullptr, std::size_t(st.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        if (p == MAP_FAILED) return;
        data = static_cast<const std::uint8_t*>(p);
        size = std::uint64_t(st.st_size);
    }
    ~FileMap() {
        if (data != nullptr) ::munmap(const_cast<std::uint8_t*>(data), std::size_t(size));
    }
    FileMap(const FileMap&) = delete;
    FileMap& operator=(const FileMap&) = delete;
};

// Per-thread buffers and codec states, kept from strip to strip and frame to
// frame: fresh ones cost page faults and cleared tables for every strip.
template <typename T>
T* Scratch(std::size_t n) {
    thread_local std::vector<T> buffer;
    if (buffer.size() < n) buffer.resize(n);
    return buffer.data();
}

libdeflate_decompressor* Inflater() {
    thread_local const std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> decompressor(
        libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
    return decompressor.get();
}

libdeflate_compressor* Deflater(int level) {
    struct Held {
        int level = -1;
        libdeflate_compressor* compressor = nullptr;
        ~Held() { libdeflate_free_compressor(compressor); }
    };
    thread_local Held held;
    if (held.level != level) {
        libdeflate_free_compressor(held.compressor);
        held.compressor = libdeflate_alloc_compressor(level);
        held.level = held.compressor != nullptr ? level : -1;
    }
    return held.compressor;
}

// One strip as stored (uncompressed or deflate, with or without the
// horizontal predictor) into its rows of RGBA pixels, width wide. False when
// it does not decode to its rows.
template <typename T>
bool DecodeStoredStrip(std::pair<const std::uint8_t*, std::size_t> stored, bool deflate, bool predictor,
                       std::size_t rows_per_strip, std::size_t rows, std::size_t width, const Placer<T>& placer,
                       T* pixels) {
    const std::size_t row_samples = width * std::size_t(placer.samples);
    const std::size_t bytes = rows * row_samples * sizeof(T);
    T* decoded = nullptr;
    const T* samples = reinterpret_cast<const T*>(stored.first);
    if (deflate) {
        // Room for whole strips: some writers fill the last one out.
        const std::size_t room = rows_per_strip * row_samples;
        decoded = Scratch<T>(room);
        libdeflate_decompressor* inflater = Inflater();
        std::size_t got = 0;
        if (inflater == nullptr ||
            libdeflate_zlib_decompress(inflater, stored.first, stored.second, decoded, room * sizeof(T), &got) !=
                LIBDEFLATE_SUCCESS ||
            got < bytes) {
            return false;
        }
        samples = decoded;
    } else if (stored.second < bytes || reinterpret_cast<std::uintptr_t>(samples) % alignof(T) != 0) {
        return false;
    }
    for (std::size_t r = 0; r < rows; ++r) {
        const T* s = samples + r * row_samples;
        if (predictor) {
            T* row = decoded + r * row_samples;
            for (std::size_t k = std::size_t(placer.samples); k < row_samples; ++k) {
                row[k] = T(row[k] + row[k - std::size_t(placer.samples)]);
            }
        }
        placer.Interleaved(s, pixels + r * width * 4, width);
    }
    return true;
}

// A file's strips as stored, straight from the file, mapped: no copy, no
// buffers to fault in. Only uncompressed and deflate strips, with or without
// the horizontal predictor, in the machine's byte order beyond 8 bits.
struct StoredStrips {
    bool deflate = false, predictor = false;
    std::size_t rows_per_strip = 0;
    std::unique_ptr<FileMap> file;
    std::vector<std::pair<const std::uint8_t*, std::size_t>> stored;

    // False (nothing reported) when the file is not of this kind.
    bool Open(TIFF* tif, int height, std::size_t sample_size) {
        std::uint16_t compression = COMPRESSION_NONE, predictor_kind = PREDICTOR_NONE;
        std::uint32_t rows = 0;
        TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows);
        deflate = compression == COMPRESSION_ADOBE_DEFLATE || compression == COMPRESSION_DEFLATE;
        // Only codecs with a predictor know the tag; asking others is an error.
        if (deflate) TIFFGetFieldDefaulted(tif, TIFFTAG_PREDICTOR, &predictor_kind);
        if (TIFFIsTiled(tif) || (compression != COMPRESSION_NONE && !deflate) ||
            (predictor_kind != PREDICTOR_NONE && (!deflate || predictor_kind != PREDICTOR_HORIZONTAL)) ||
            (sample_size > 1 && TIFFIsByteSwapped(tif)) || rows == 0) {
            return false;
        }
        predictor = predictor_kind == PREDICTOR_HORIZONTAL;
        rows_per_strip = std::min<std::size_t>(rows, std::size_t(height));
        const std::size_t count = (std::size_t(height) + rows_per_strip - 1) / rows_per_strip;
        if (TIFFNumberOfStrips(tif) < count) return false;
        file = std::make_unique<FileMap>(TIFFFileno(tif));
        if (file->data == nullptr) return false;
        stored.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t at = TIFFGetStrileOffset(tif, std::uint32_t(i));
            const std::uint64_t size = TIFFGetStrileByteCount(tif, std::uint32_t(i));
            if (size == 0 || at > file->size || size > file->size - at) return false;
            stored[i] = {file->data + at, std::size_t(size)};
        }
        return true;
    }
    // Rows [y0, y0 + rows) of an image width wide, from whole strips, into
    // RGBA pixels. False when a strip does not decode.
    template <typename T>
    bool Decode(std::size_t y0, std::size_t rows, std::size_t width, const Placer<T>& placer, T* pixels) const {
        for (std::size_t y = y0; y < y0 + rows; y += rows_per_strip) {
            const std::size_t i = y / rows_per_strip, n = std::min(rows_per_strip, y0 + rows - y);
            if (!DecodeStoredStrip(stored[i], deflate, predictor, rows_per_strip, n, width, placer,
                                   pixels + (y - y0) * width * 4)) {
                return false;
            }
        }
        return true;
    }
};

// Uncompressed and deflate strips decoded side by side on the workers: each
// taken as stored from the mapped file, inflated with libdeflate, its
// predictor undone and its rows placed on a worker.
// libtiff decodes one strip after another on the calling thread. False
// (nothing reported) when the file is not of this kind or a strip does not
// decode; Decode then reads it the usual way.
template <typename T>
bool DecodeSideBySide(TIFF* tif, int width, int height, const Placer<T>& placer, T* pixels,
                      const Workers& workers) {
    StoredStrips strips;
    if (!strips.Open(tif, height, sizeof(T))) return false;
    std::atomic<bool> failed{false};
    workers.ForEach(strips.stored.size(), [&](std::size_t i) {
        const std::size_t y0 = i * strips.rows_per_strip;
        const std::size_t rows = std::min(strips.rows_per_strip, std::size_t(height) - y0);
        if (!strips.Decode(y0, rows, std::size_t(width), placer, pixels + y0 * std::size_t(width) * 4)) failed = true;
    });
    return !failed;
}

void ReadTags(TIFF* tif, ImageTags& tags) {
    const std::pair<ttag_t, std::string*> texts[] = {
        {TIFFTAG_IMAGEDESCRIPTION, &tags.description}, {TIFFTAG_DATETIME, &tags.date_time},
        {TIFFTAG_ARTIST, &tags.artist},               {TIFFTAG_COPYRIGHT, &tags.copyright},
        {TIFFTAG_SOFTWARE, &tags.software}};
    for (const auto& [tag, value] : texts) {
        const char* text = nullptr;
        if (TIFFGetField(tif, tag, &text) == 1 && text != nullptr) *value = text;
    }
    float x = 0, y = 0;
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x) == 1 && TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y) == 1) {
        tags.x_resolution = x;
        tags.y_resolution = y;
    }
    std::uint16_t value = 0;
    if (TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &value) == 1) tags.resolution_unit = value;
    if (TIFFGetField(tif, TIFFTAG_ORIENTATION, &value) == 1) tags.orientation = value;
    if (TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &value) == 1) tags.compression = value;
    if (TIFFGetField(tif, TIFFTAG_PREDICTOR, &value) == 1) tags.predictor = value;
    std::uint32_t icc_size = 0;
    const void* icc = nullptr;
    if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &icc_size, &icc) == 1 && icc != nullptr) {
        const auto* bytes = static_cast<const std::uint8_t*>(icc);
        tags.icc_profile.assign(bytes, bytes + icc_size);
    }
}

// Whether libtiff finds a camera's metadata in the current directory: make,
// model, Exif, GPS, XMP, IPTC or Photoshop resources.
bool HoldsCameraMetadata(TIFF* tif) {
    toff_t offset = 0;
    std::uint32_t count = 0;
    const void* data = nullptr;
    const char* name = nullptr;
    return TIFFGetField(tif, TIFFTAG_EXIFIFD, &offset) == 1 || TIFFGetField(tif, TIFFTAG_GPSIFD, &offset) == 1 ||
           TIFFGetField(tif, TIFFTAG_XMLPACKET, &count, &data) == 1 ||
           TIFFGetField(tif, TIFFTAG_RICHTIFFIPTC, &count, &data) == 1 ||
           TIFFGetField(tif, TIFFTAG_PHOTOSHOP, &count, &data) == 1 || TIFFGetField(tif, TIFFTAG_MAKE, &name) == 1 ||
           TIFFGetField(tif, TIFFTAG_MODEL, &name) == 1;
}

// A camera's print settings, a block unknown to libtiff.
constexpr std::uint16_t kPrintIm = 50341;

// A tag's name as libtiff knows it, else its number.
std::string TagName(TIFF* tif, std::uint32_t tag) {
    const TIFFField* info = TIFFFieldWithTag(tif, tag);
    if (info != nullptr && !TIFFFieldIsAnonymous(info) && TIFFFieldName(info) != nullptr) return TIFFFieldName(info);
    return "tag " + std::to_string(tag);
}

// The one text a field holds, with nothing stored past its closing zero:
// what libtiff writes back unchanged.
bool WholeText(const StoredTiffField& field, std::string& text) {
    const std::vector<std::uint8_t>& v = field.values;
    if (field.type != TIFF_ASCII || v.empty()) return false;
    const auto end = std::find(v.begin(), v.end(), std::uint8_t(0));
    if (std::any_of(end, v.end(), [](std::uint8_t b) { return b != 0; })) return false;
    text.assign(v.begin(), end);
    return true;
}

// The directory's fields beyond the metadata read into ImageTags and the
// layout of the stored pixels (written anew), by name; into kept, when asked
// for, those libtiff's writer carries as stored.
std::vector<std::string> OtherFields(TIFF* tif, const TiffDirectory& directory, std::vector<TiffField>* kept) {
    static constexpr std::uint16_t kCarried[] = {
        TIFFTAG_IMAGEDESCRIPTION, TIFFTAG_DATETIME, TIFFTAG_ARTIST, TIFFTAG_COPYRIGHT, TIFFTAG_SOFTWARE,
        TIFFTAG_XRESOLUTION, TIFFTAG_YRESOLUTION, TIFFTAG_RESOLUTIONUNIT, TIFFTAG_ORIENTATION, TIFFTAG_ICCPROFILE,
        TIFFTAG_MAKE, TIFFTAG_MODEL, TIFFTAG_XMLPACKET, TIFFTAG_RICHTIFFIPTC, TIFFTAG_PHOTOSHOP, TIFFTAG_EXIFIFD,
        TIFFTAG_GPSIFD};
    static constexpr std::uint16_t kLayout[] = {
        TIFFTAG_SUBFILETYPE, TIFFTAG_OSUBFILETYPE, TIFFTAG_IMAGEWIDTH, TIFFTAG_IMAGELENGTH, TIFFTAG_BITSPERSAMPLE,
        TIFFTAG_COMPRESSION, TIFFTAG_PHOTOMETRIC, TIFFTAG_FILLORDER, TIFFTAG_STRIPOFFSETS, TIFFTAG_SAMPLESPERPIXEL,
        TIFFTAG_ROWSPERSTRIP, TIFFTAG_STRIPBYTECOUNTS, TIFFTAG_MINSAMPLEVALUE, TIFFTAG_MAXSAMPLEVALUE,
        TIFFTAG_PLANARCONFIG, TIFFTAG_PREDICTOR, TIFFTAG_COLORMAP, TIFFTAG_TILEWIDTH, TIFFTAG_TILELENGTH,
        TIFFTAG_TILEOFFSETS, TIFFTAG_TILEBYTECOUNTS, TIFFTAG_INKSET, TIFFTAG_NUMBEROFINKS, TIFFTAG_EXTRASAMPLES,
        TIFFTAG_SAMPLEFORMAT, TIFFTAG_SMINSAMPLEVALUE, TIFFTAG_SMAXSAMPLEVALUE, TIFFTAG_JPEGTABLES, TIFFTAG_JPEGPROC,
        TIFFTAG_JPEGIFOFFSET, TIFFTAG_JPEGIFBYTECOUNT, TIFFTAG_JPEGRESTARTINTERVAL, TIFFTAG_JPEGLOSSLESSPREDICTORS,
        TIFFTAG_JPEGPOINTTRANSFORM, TIFFTAG_JPEGQTABLES, TIFFTAG_JPEGDCTABLES, TIFFTAG_JPEGACTABLES,
        TIFFTAG_YCBCRCOEFFICIENTS, TIFFTAG_YCBCRSUBSAMPLING, TIFFTAG_YCBCRPOSITIONING, TIFFTAG_REFERENCEBLACKWHITE};
    std::vector<std::string> names;
    for (const StoredTiffField& field : directory.fields) {
        if (std::find(std::begin(kCarried), std::end(kCarried), field.tag) != std::end(kCarried) ||
            std::find(std::begin(kLayout), std::end(kLayout), field.tag) != std::end(kLayout)) {
            continue;
        }
        std::string name = KeptTiffFieldName(field.tag);
        if (name.empty()) name = TagName(tif, field.tag);
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
        if (kept == nullptr || KeptTiffFieldName(field.tag).empty()) continue;
        std::string text;
        if (field.tag == kPrintIm) {
            // Its numbers are in the file's byte order, which a file written
            // in another would contradict.
            if (field.type == TIFF_UNDEFINED && !directory.swapped && !field.values.empty()) {
                kept->push_back({field.tag, field.values});
            }
        } else if (WholeText(field, text)) {
            kept->push_back({field.tag, {text.begin(), text.end()}});
            kept->back().values.push_back(0);
        }
    }
    return names;
}

// The metadata of the current directory beyond libtiff's fields, as Exiv2
// reads it, into tags: the camera's (make, model, the XMP, IPTC and
// Photoshop blocks as stored, the Exif block) and the other fields. What
// cannot be read or would not come through libtiff whole is left out and
// named in tags.dropped.
void TakeMetadata(TIFF* tif, const fs::path& path, ImageTags& tags) {
    TiffDirectory directory;
    std::string why;
    if (!ReadTiffDirectory(path, TIFFCurrentDirOffset(tif), directory, why)) {
        if (HoldsCameraMetadata(tif)) {
            tags.dropped.push_back("the camera's metadata (make, model, Exif, GPS, XMP, IPTC) is dropped: "
                                   "its directory cannot be read");
        }
        return;
    }
    tags.other_fields = OtherFields(tif, directory, &tags.kept_fields);
    for (const StoredTiffField& field : directory.fields) {
        switch (field.tag) {
        case TIFFTAG_MAKE:
            if (!WholeText(field, tags.make)) tags.dropped.push_back("Make is dropped: libtiff would change it");
            break;
        case TIFFTAG_MODEL:
            if (!WholeText(field, tags.model)) tags.dropped.push_back("Model is dropped: libtiff would change it");
            break;
        // Blocks of bytes, whatever type they are stored as; one that cannot
        // be read is left out whole.
        case TIFFTAG_XMLPACKET:
            tags.xmp = field.values;
            if (tags.xmp.empty()) tags.dropped.push_back("the XMP packet is dropped: it cannot be read");
            break;
        case TIFFTAG_RICHTIFFIPTC:
            tags.iptc = field.values;
            if (tags.iptc.empty()) tags.dropped.push_back("the IPTC block is dropped: it cannot be read");
            break;
        case TIFFTAG_PHOTOSHOP:
            tags.photoshop = field.values;
            if (tags.photoshop.empty()) tags.dropped.push_back("the Photoshop block is dropped: it cannot be read");
            break;
        default: break;
        }
    }
    tags.exif = std::move(directory.exif);
    tags.dropped.insert(tags.dropped.end(), directory.dropped.begin(), directory.dropped.end());
}

// How a directory's samples make pixels.
struct SampleLayout {
    std::uint32_t width = 0, height = 0;
    std::uint16_t samples = 1, bits = 1, format = SAMPLEFORMAT_UINT, photometric = 0, planar = PLANARCONFIG_CONTIG;
    std::uint16_t extra_count = 0;
    std::uint16_t* extra_kinds = nullptr;

    // False when the file does not say how its samples make colours.
    bool Read(TIFF* tif) {
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
        TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
        TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra_kinds);
        return TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) == 1;
    }
    int Colours() const { return photometric == PHOTOMETRIC_RGB ? 3 : 1; }
    // The first sample past the colour ones is alpha, whatever the file
    // calls it, as the image library takes it; -1 for none.
    int Alpha() const { return samples > Colours() ? Colours() : -1; }
    // 8- or 16-bit RGB or grey samples, placed as they are.
    bool Direct() const {
        return format == SAMPLEFORMAT_UINT && (bits == 8 || bits == 16) && samples >= Colours() &&
               (photometric == PHOTOMETRIC_RGB || photometric == PHOTOMETRIC_MINISBLACK);
    }
};

// A TIFF source's description and tags, as every reader of ours gives them.
void DescribeSource(TIFF* tif, const fs::path& path, Image& image) {
    image.source_format = "tiff";
    image.source_path = path;
    ReadTags(tif, image.tags);
    TakeMetadata(tif, path, image.tags);
}

void DescribeAlpha(const SampleLayout& layout, Image& image) {
    image.has_alpha = layout.Alpha() >= 0;
    image.tags.associated_alpha =
        image.has_alpha && layout.extra_count > 0 && layout.extra_kinds[0] == EXTRASAMPLE_ASSOCALPHA;
}

std::string Kind(std::uint16_t format, std::uint16_t bits, std::uint16_t photometric) {
    if (format == SAMPLEFORMAT_IEEEFP) return std::to_string(bits) + "-bit floating-point samples";
    if (format == SAMPLEFORMAT_INT) return "signed " + std::to_string(bits) + "-bit samples";
    if (photometric == PHOTOMETRIC_SEPARATED) return std::to_string(bits) + "-bit CMYK samples";
    if (bits == 8 || bits == 16) {
        return std::to_string(bits) + "-bit samples of photometric kind " + std::to_string(photometric);
    }
    return std::to_string(bits) + "-bit samples";
}

bool Fail(const fs::path& path, const std::string& why, const Messages& messages, std::string& error,
          const char* verb = "read") {
    return FailFile(path, verb, !messages.first.empty() ? messages.first : why, "TIFF", error);
}

// The compression written for a source's: kept where libtiff writes it.
std::uint16_t WrittenCompression(int source) {
    switch (source) {
    case COMPRESSION_NONE:
    case COMPRESSION_LZW:
    case COMPRESSION_PACKBITS:
        return std::uint16_t(source);
    default:
        return COMPRESSION_ADOBE_DEFLATE;
    }
}

std::string Attribute(const Image& image, const char* name) {
    for (const auto& [key, value] : image.attributes) {
        if (key == name) return value;
    }
    return {};
}

// The names --compression takes for TIFFs.
int CompressionCode(const std::string& name) {
    if (name == "none") return COMPRESSION_NONE;
    if (name == "lzw") return COMPRESSION_LZW;
    if (name == "deflate" || name == "zip") return COMPRESSION_ADOBE_DEFLATE;
    if (name == "packbits") return COMPRESSION_PACKBITS;
    return -1;
}

// The predictor written with compression: a kept compression keeps its
// predictor; a new deflate gets the horizontal one, which suits photographs.
// Only the horizontal one is written; any other comes out as none.
std::uint16_t WrittenPredictor(const Image& image, std::uint16_t compression) {
    if (compression != COMPRESSION_LZW && compression != COMPRESSION_ADOBE_DEFLATE) return PREDICTOR_NONE;
    const ImageTags& t = image.tags;
    const bool kept = compression == t.compression ||
                      (compression == COMPRESSION_ADOBE_DEFLATE && t.compression == COMPRESSION_DEFLATE);
    return !kept || t.predictor == PREDICTOR_HORIZONTAL ? PREDICTOR_HORIZONTAL : PREDICTOR_NONE;
}

bool WriteTags(TIFF* tif, const Image& image, int channels) {
    const ImageTags& t = image.tags;
    const std::uint16_t compression =
        image.compression.empty() ? WrittenCompression(t.compression) : std::uint16_t(CompressionCode(image.compression));
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(image.width)) &&
              TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(image.height)) &&
              TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(channels)) &&
              TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, std::uint16_t(image.depth)) &&
              TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT) &&
              TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
              TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    if (ok && WrittenPredictor(image, compression) == PREDICTOR_HORIZONTAL) {
        ok = TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    }
    if (ok && channels == 4) {
        const std::uint16_t kind = t.associated_alpha ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA;
        ok = TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &kind);
    }
    const std::string description = t.description.empty() ? Attribute(image, "ImageDescription") : t.description;
    const std::pair<ttag_t, const std::string*> texts[] = {
        {TIFFTAG_IMAGEDESCRIPTION, &description}, {TIFFTAG_DATETIME, &t.date_time},
        {TIFFTAG_ARTIST, &t.artist},             {TIFFTAG_COPYRIGHT, &t.copyright},
        {TIFFTAG_SOFTWARE, &t.software}};
    for (const auto& [tag, value] : texts) {
        if (ok && !value->empty()) ok = TIFFSetField(tif, tag, value->c_str());
    }
    if (ok && t.x_resolution > 0 && t.y_resolution > 0) {
        ok = TIFFSetField(tif, TIFFTAG_XRESOLUTION, t.x_resolution) &&
             TIFFSetField(tif, TIFFTAG_YRESOLUTION, t.y_resolution);
    }
    if (ok && t.resolution_unit >= RESUNIT_NONE && t.resolution_unit <= RESUNIT_CENTIMETER) {
        ok = TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, std::uint16_t(t.resolution_unit));
    }
    if (ok && t.orientation >= ORIENTATION_TOPLEFT && t.orientation <= ORIENTATION_LEFTBOT) {
        ok = TIFFSetField(tif, TIFFTAG_ORIENTATION, std::uint16_t(t.orientation));
    }
    if (ok && !t.icc_profile.empty()) {
        ok = TIFFSetField(tif, TIFFTAG_ICCPROFILE, std::uint32_t(t.icc_profile.size()), t.icc_profile.data());
    }
    const std::pair<ttag_t, const std::string*> camera[] = {{TIFFTAG_MAKE, &t.make}, {TIFFTAG_MODEL, &t.model}};
    for (const auto& [tag, value] : camera) {
        if (ok && !value->empty()) ok = TIFFSetField(tif, tag, value->c_str());
    }
    const std::pair<ttag_t, const std::vector<std::uint8_t>*> blocks[] = {
        {TIFFTAG_XMLPACKET, &t.xmp}, {TIFFTAG_RICHTIFFIPTC, &t.iptc}, {TIFFTAG_PHOTOSHOP, &t.photoshop}};
    for (const auto& [tag, value] : blocks) {
        if (ok && !value->empty()) ok = TIFFSetField(tif, tag, std::uint32_t(value->size()), value->data());
    }
    for (const TiffField& field : t.kept_fields) {
        if (ok && field.tag == kPrintIm) {
            // Unknown to libtiff: described for this file.
            static const TIFFFieldInfo kInfo = {kPrintIm, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_UNDEFINED,
                                                FIELD_CUSTOM, 1, 1, const_cast<char*>("PrintIM")};
            ok = TIFFMergeFieldInfo(tif, &kInfo, 1) == 0 &&
                 TIFFSetField(tif, kPrintIm, std::uint32_t(field.values.size()), field.values.data());
        } else if (ok) {
            ok = TIFFSetField(tif, field.tag, reinterpret_cast<const char*>(field.values.data()));
        }
    }
    return ok;
}

// Rows per strip: about a megabyte.
template <typename T>
std::size_t RowsPerStrip(const Image& image, int channels) {
    const std::size_t row_bytes = std::size_t(image.width) * std::size_t(channels) * sizeof(T);
    return std::clamp<std::size_t>((std::size_t(1) << 20) / row_bytes, 1, std::size_t(image.height));
}

// RGBA rows as the file holds them: RGB or RGBA samples.
template <typename T>
void PackRows(const T* rgba, std::size_t width, std::size_t rows, int channels, T* strip) {
    if (channels == 4) {
        std::memcpy(strip, rgba, rows * width * 4 * sizeof(T));
    } else {
        for (std::size_t i = 0; i < rows * width; ++i, rgba += 4, strip += 3) {
            strip[0] = rgba[0], strip[1] = rgba[1], strip[2] = rgba[2];
        }
    }
}

// Each strip filled from the RGBA rows and encoded by libtiff, which may
// change the buffer it encodes (predictor, byte order), so the image's own
// rows are never handed to it.
template <typename T>
bool WriteStrips(TIFF* tif, const Image& image, const T* pixels, int channels) {
    const std::size_t row_samples = std::size_t(image.width) * std::size_t(channels);
    const std::size_t rows_per_strip = RowsPerStrip<T>(image, channels);
    if (!TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, std::uint32_t(rows_per_strip))) return false;
    std::vector<T> strip(rows_per_strip * row_samples);
    std::uint32_t index = 0;
    for (std::size_t y = 0; y < std::size_t(image.height); y += rows_per_strip, ++index) {
        const std::size_t rows = std::min(rows_per_strip, std::size_t(image.height) - y);
        PackRows(pixels + y * std::size_t(image.width) * 4, std::size_t(image.width), rows, channels, strip.data());
        const tmsize_t bytes = tmsize_t(rows * row_samples * sizeof(T));
        if (TIFFWriteEncodedStrip(tif, index, strip.data(), bytes) != bytes) return false;
    }
    return true;
}

// Rows of RGBA pixels as a deflate strip holds them: RGB or RGBA samples,
// horizontally differenced when predictor, compressed at level into out
// (below 0: literals only).
// False when the compressor cannot be had.
template <typename T>
bool DeflateStrip(const T* rgba, std::size_t width, std::size_t rows, int channels, bool predictor, int level,
                  std::vector<std::uint8_t>& out) {
    const std::size_t row_samples = width * std::size_t(channels);
    T* strip = Scratch<T>(rows * row_samples);
    PackRows(rgba, width, rows, channels, strip);
    if (predictor) {
        // Horizontal differencing, in the samples' own width and the
        // machine's byte order, which is the file's.
        for (std::size_t r = 0; r < rows; ++r) {
            T* row = strip + r * row_samples;
            for (std::size_t k = row_samples - 1; k >= std::size_t(channels); --k) row[k] = T(row[k] - row[k - channels]);
        }
    }
    const std::size_t bytes = rows * row_samples * sizeof(T);
    if (level < 0) {
        out.resize(HuffmanZlibBound(bytes));
        out.resize(HuffmanZlibCompress(reinterpret_cast<const std::uint8_t*>(strip), bytes, out.data(), out.size()));
        return !out.empty();
    }
    libdeflate_compressor* deflater = Deflater(level);
    if (deflater == nullptr) return false;
    out.resize(libdeflate_zlib_compress_bound(deflater, bytes));
    out.resize(libdeflate_zlib_compress(deflater, strip, bytes, out.data(), out.size()));
    return !out.empty();
}

// Deflate strips compressed side by side on the workers (DeflateStrip), then
// written in order as they are; libtiff compresses one strip after another
// with zlib on the calling thread.
template <typename T>
bool WriteDeflateStrips(TIFF* tif, const Image& image, const T* pixels, int channels, bool predictor, int level,
                        const Workers& workers) {
    const std::size_t width = std::size_t(image.width);
    const std::size_t rows_per_strip = RowsPerStrip<T>(image, channels);
    if (!TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, std::uint32_t(rows_per_strip))) return false;
    const std::size_t count = (std::size_t(image.height) + rows_per_strip - 1) / rows_per_strip;
    std::vector<std::vector<std::uint8_t>> strips(count);
    std::atomic<bool> failed{false};
    workers.ForEach(count, [&](std::size_t i) {
        const std::size_t y = i * rows_per_strip, rows = std::min(rows_per_strip, std::size_t(image.height) - y);
        if (!DeflateStrip(pixels + y * width * 4, width, rows, channels, predictor, level, strips[i])) failed = true;
    });
    if (failed) return false;
    for (std::size_t i = 0; i < count; ++i) {
        if (TIFFWriteRawStrip(tif, std::uint32_t(i), strips[i].data(), tmsize_t(strips[i].size())) !=
            tmsize_t(strips[i].size())) {
            return false;
        }
        strips[i] = {};
    }
    return true;
}

template <typename T>
bool WritePixels(TIFF* tif, const Image& image, const T* pixels, int channels, const WriteSettings& settings) {
    std::uint16_t compression = COMPRESSION_NONE, predictor = PREDICTOR_NONE;
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
    if (compression == COMPRESSION_ADOBE_DEFLATE) TIFFGetField(tif, TIFFTAG_PREDICTOR, &predictor);
    // The file is in the machine's byte order, so 16-bit strips need no swapping.
    if (compression == COMPRESSION_ADOBE_DEFLATE && (predictor == PREDICTOR_NONE || predictor == PREDICTOR_HORIZONTAL)) {
        const int level = settings.compression >= 0 ? settings.compression : kTiffDefaultCompression;
        return WriteDeflateStrips(tif, image, pixels, channels, predictor == PREDICTOR_HORIZONTAL, level,
                                  settings.workers);
    }
    if (compression == COMPRESSION_ADOBE_DEFLATE && settings.compression >= 0) {
        TIFFSetField(tif, TIFFTAG_ZIPQUALITY, settings.compression);
    }
    return WriteStrips(tif, image, pixels, channels);
}

// A file's directories made before its pixels: strips of one byte stand
// for the real ones, which are written after the directories and put in
// their place (PlaceStrips).
struct StripStandIns {
    std::size_t rows_per_strip = 0;
    std::size_t count = 0;
};

// The TIFF as libtiff writes it: every tag but the camera's directories; with
// stand_ins, their strips instead of the image's pixels.
bool EncodeWithLibtiff(const fs::path& format_path, const Image& image, const WriteSettings& settings,
                       std::vector<unsigned char>& bytes, std::string& error, const StripStandIns* stand_ins = nullptr) {
    if (!image.compression.empty() && CompressionCode(image.compression) < 0) {
        error = "cannot write " + format_path.string() + ": TIFF compression \"" + image.compression +
                "\" is not one of none, lzw, deflate, packbits";
        return false;
    }
    Messages messages;
    bytes.clear();
    // Room for the whole file at once: growing a frame's worth of bytes step
    // by step copies it over and over.
    bytes.reserve(stand_ins != nullptr ? std::size_t(1) << 16
                                       : image.samples() / 4 * std::size_t(image.has_alpha ? 4 : 3) *
                                                 std::size_t(image.depth / 8) +
                                             (std::size_t(1) << 20));
    InMemory memory{bytes, 0};
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) return Fail(format_path, "out of memory", messages, error, "write");
    TIFFOpenOptionsSetErrorHandlerExtR(options, KeepError, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options, DropWarning, nullptr);
    TIFF* tif = TIFFClientOpenExt(format_path.c_str(), "w", &memory, InMemory::Read, InMemory::Write,
                                  InMemory::Seek, InMemory::Close, InMemory::Size, nullptr, nullptr, options);
    TIFFOpenOptionsFree(options);
    if (tif == nullptr) return Fail(format_path, "", messages, error, "write");
    const std::unique_ptr<TIFF, Closer> file(tif);
    const int channels = image.has_alpha ? 4 : 3;
    const auto write_stand_ins = [&] {
        const unsigned char one = 0;
        if (!TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, std::uint32_t(stand_ins->rows_per_strip))) return false;
        for (std::size_t i = 0; i < stand_ins->count; ++i) {
            if (TIFFWriteRawStrip(tif, std::uint32_t(i), const_cast<unsigned char*>(&one), 1) != 1) return false;
        }
        return true;
    };
    const bool ok = WriteTags(tif, image, channels) &&
                    (stand_ins != nullptr ? write_stand_ins()
                     : image.depth == 16  ? WritePixels(tif, image, image.pixels16.data(), channels, settings)
                                          : WritePixels(tif, image, image.pixels8.data(), channels, settings)) &&
                    TIFFWriteDirectory(tif) == 1 && TIFFFlush(tif) == 1;
    return ok || Fail(format_path, "", messages, error, "write");
}

// The whole file in bytes: libtiff's, then Exiv2's directories added.
bool EncodeWhole(const fs::path& format_path, const Image& image, const WriteSettings& settings,
                 std::vector<std::string>& notes, std::vector<unsigned char>& bytes, std::string& error,
                 const StripStandIns* stand_ins = nullptr) {
    if (!EncodeWithLibtiff(format_path, image, settings, bytes, error, stand_ins)) return false;
    if (image.tags.exif.empty() || AddCameraDirectories(bytes, image.tags.exif, notes)) return true;
    // Exiv2 may have left the file half changed: it is made again without.
    return EncodeWithLibtiff(format_path, image, settings, bytes, error, stand_ins);
}

// Where a classic TIFF made with stand-in strips holds its strips' offsets
// and byte counts, whoever wrote its directories last.
struct StripArrays {
    bool big_endian = false;
    std::size_t offsets_at = 0, counts_at = 0;
    // Where the stand-ins' bytes begin when they end the file, which is cut
    // there; the file's size otherwise (they stay, a byte each, unused).
    std::size_t data_at = 0;
};

// False when the first directory does not hold count stand-ins as LONGs.
bool FindStripArrays(const std::vector<unsigned char>& head, std::size_t count, StripArrays& arrays) {
    const std::size_t size = head.size();
    if (size < 8 || count == 0 || head[0] != head[1] || (head[0] != 'I' && head[0] != 'M')) return false;
    const bool big = head[0] == 'M';
    const auto u16 = [&](std::size_t at) {
        return big ? std::uint32_t(head[at]) << 8 | head[at + 1] : std::uint32_t(head[at + 1]) << 8 | head[at];
    };
    const auto u32 = [&](std::size_t at) {
        return big ? u16(at) << 16 | u16(at + 2) : u16(at + 2) << 16 | u16(at);
    };
    if (u16(2) != 42) return false;
    const std::size_t directory = u32(4);
    if (directory > size - 2) return false;
    const std::size_t entries = u16(directory);
    if (entries > (size - directory - 2) / 12) return false;
    for (std::size_t k = 0; k < entries; ++k) {
        const std::size_t entry = directory + 2 + 12 * k;
        const std::uint32_t tag = u16(entry);
        if (tag != TIFFTAG_STRIPOFFSETS && tag != TIFFTAG_STRIPBYTECOUNTS) continue;
        if (u16(entry + 2) != TIFF_LONG || u32(entry + 4) != count) return false;
        const std::size_t at = count == 1 ? entry + 8 : u32(entry + 8);
        if (at > size || count > (size - at) / 4) return false;
        (tag == TIFFTAG_STRIPOFFSETS ? arrays.offsets_at : arrays.counts_at) = at;
    }
    if (arrays.offsets_at == 0 || arrays.counts_at == 0) return false;
    arrays.big_endian = big;
    // Stand-ins of one byte each, back to back but for word padding, up to
    // the end of the file: nothing else lies there.
    bool at_end = true;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t at = u32(arrays.offsets_at + 4 * i);
        const std::uint32_t next = i + 1 < count ? u32(arrays.offsets_at + 4 * i + 4) : std::uint32_t(size);
        if (u32(arrays.counts_at + 4 * i) != 1) return false;
        if (next <= at || next - at > 2) at_end = false;
    }
    arrays.data_at = at_end ? u32(arrays.offsets_at) : size;
    return arrays.data_at >= 8 && arrays.data_at <= size && arrays.offsets_at < arrays.data_at &&
           arrays.counts_at < arrays.data_at;
}

// The real strips' offsets and byte counts in place of the stand-ins'.
bool PlaceStrips(const StripArrays& arrays, const std::vector<std::uint32_t>& offsets,
                 const std::vector<std::uint32_t>& counts, PendingFile& out, std::string& error) {
    std::vector<unsigned char> bytes(offsets.size() * 4);
    const auto put = [&](const std::vector<std::uint32_t>& values) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            for (int b = 0; b < 4; ++b) {
                bytes[4 * i + std::size_t(arrays.big_endian ? 3 - b : b)] = std::uint8_t(values[i] >> (8 * b));
            }
        }
        return bytes.data();
    };
    return out.WriteAt(arrays.offsets_at, put(offsets), bytes.size(), error) &&
           out.WriteAt(arrays.counts_at, put(counts), bytes.size(), error);
}

// A band of rows per thread, apart from Scratch's buffers.
template <typename T>
T* BandScratch(std::size_t n) {
    thread_local std::vector<T> buffer;
    if (buffer.size() < n) buffer.resize(n);
    return buffer.data();
}

}  // namespace

bool IsTiffName(const fs::path& path) {
    return HasExtension(path, {".tif", ".tiff"});
}

bool IsTiffFile(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return IsTiffName(path);  // let the TIFF reader say what is wrong
    unsigned char head[4] = {};
    const ssize_t n = ::pread(fd, head, sizeof head, 0);
    ::close(fd);
    if (n != 4) return IsTiffName(path);
    // Classic (42) or BigTIFF (43), either byte order.
    return (head[0] == 'I' && head[1] == 'I' && (head[2] == 42 || head[2] == 43) && head[3] == 0) ||
           (head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43));
}

bool IsTiffCompressionName(const std::string& name) { return CompressionCode(name) >= 0; }

int CountTiffPages(const fs::path& path) {
    Messages messages;
    std::unique_ptr<TIFF, Closer> tif(Open(path, -1, "r", messages));
    return tif ? int(TIFFNumberOfDirectories(tif.get())) : 0;
}

std::vector<std::string> OtherTiffFields(const fs::path& path, int page) {
    Messages messages;
    const std::unique_ptr<TIFF, Closer> tif(Open(path, -1, "r", messages));
    TiffDirectory directory;
    std::string why;
    if (!tif || TIFFSetDirectory(tif.get(), tdir_t(page)) != 1 ||
        !ReadTiffDirectory(path, TIFFCurrentDirOffset(tif.get()), directory, why)) {
        return {};
    }
    return OtherFields(tif.get(), directory, nullptr);
}

bool ReadTiff(const fs::path& path, int depth, Image& image, std::string& error, const Workers& workers) {
    Messages messages;
    const std::unique_ptr<TIFF, Closer> file(Open(path, -1, "r", messages));
    TIFF* tif = file.get();
    if (tif == nullptr) return Fail(path, std::strerror(errno), messages, error);

    SampleLayout layout;
    const auto& [width, height, samples, bits, format, photometric, planar, extra_count, extra_kinds] = layout;
    if (!layout.Read(tif)) {
        return Fail(path, "it does not say how its samples make colours", messages, error);
    }
    if (width == 0 || height == 0) return Fail(path, "it holds no pixels", messages, error);
    if (std::int64_t(width) * std::int64_t(height) > kMaxPixels) {
        return Fail(path, TooLargeMessage(width, height), messages, error);
    }
    if (samples > 64) {
        return Fail(path, std::to_string(samples) + " samples per pixel are more than velvetshade handles (64)",
                    messages, error);
    }

    Image read;
    DescribeSource(tif, path, read);
    const int colour = layout.Colours(), alpha = layout.Alpha();
    if (layout.Direct()) {
        read.Allocate(int(width), int(height), bits);
        DescribeAlpha(layout, read);
        const bool separate = planar == PLANARCONFIG_SEPARATE && samples > 1;
        std::string why;
        const Placer<std::uint8_t> placer8{samples, colour, alpha};
        const Placer<std::uint16_t> placer16{samples, colour, alpha};
        const bool ok =
            bits == 8 ? (!separate && DecodeSideBySide(tif, int(width), int(height), placer8, read.pixels8.data(), workers)) ||
                            Decode(tif, int(width), int(height), separate, placer8, read.pixels8.data(), why)
                      : (!separate && DecodeSideBySide(tif, int(width), int(height), placer16, read.pixels16.data(), workers)) ||
                            Decode(tif, int(width), int(height), separate, placer16, read.pixels16.data(), why);
        if (!ok) return Fail(path, why, messages, error);
    } else if (bits <= 8 && format != SAMPLEFORMAT_IEEEFP && format != SAMPLEFORMAT_INT) {
        // Palette, CMYK, YCbCr, min-is-white, bilevel...: libtiff's own
        // conversion to 8-bit RGBA.
        char why[1024] = {};
        if (!TIFFRGBAImageOK(tif, why)) return Fail(path, why, messages, error);
        read.Allocate(int(width), int(height), 8);
        read.has_alpha = extra_count > 0;
        read.tags.associated_alpha = true;  // the reader premultiplies
        // Requested in the file's own row order (orientations 5..8 count as
        // their unrotated kin), so that the Orientation tag still applies.
        const int orientation = read.tags.orientation >= 1 && read.tags.orientation <= 8
                                    ? (read.tags.orientation - 1) % 4 + 1
                                    : ORIENTATION_TOPLEFT;
        auto* raster = reinterpret_cast<std::uint32_t*>(read.pixels8.data());
        if (TIFFReadRGBAImageOriented(tif, width, height, raster, orientation, 1) != 1) {
            return Fail(path, "", messages, error);
        }
        for (std::size_t i = 0; i < std::size_t(width) * height; ++i) {
            const std::uint32_t p = raster[i];
            std::uint8_t* d = &read.pixels8[i * 4];
            d[0] = std::uint8_t(TIFFGetR(p)), d[1] = std::uint8_t(TIFFGetG(p)), d[2] = std::uint8_t(TIFFGetB(p));
            d[3] = std::uint8_t(TIFFGetA(p));
        }
    } else {
        return Fail(path, Kind(format, bits, photometric) + " are not supported (8- and 16-bit integers only)",
                    {}, error);
    }
    ChangeDepth(read, depth != 0 ? depth : read.depth);
    image = std::move(read);
    return true;
}

bool EncodeTiff(const fs::path& format_path, const Image& image, const WriteSettings& settings,
                std::vector<std::string>& notes, std::vector<unsigned char>& bytes, std::string& error) {
    return EncodeWhole(format_path, image, settings, notes, bytes, error);
}

BandRender RenderTiffBands(const fs::path& in, int depth, const fs::path& format_path, const WriteSettings& settings,
                           const TiffBands& bands, PendingFile& out, Image& described, std::vector<std::string>& notes,
                           std::string& error) {
    // Anything this path does not take, or a source it cannot read to the
    // end, goes the usual way, which reads the file whole and says what is
    // wrong with it.
    Messages messages;
    const std::unique_ptr<TIFF, Closer> file(Open(in, -1, "r", messages));
    TIFF* tif = file.get();
    if (tif == nullptr) return BandRender::kNotThisKind;
    SampleLayout layout;
    if (!layout.Read(tif)) return BandRender::kNotThisKind;
    // Copies, not bindings: lambdas below take them.
    const std::uint32_t width = layout.width, height = layout.height;
    const std::uint16_t samples = layout.samples, bits = layout.bits;
    if (width == 0 || height == 0 || std::int64_t(width) * std::int64_t(height) > kMaxPixels || samples > 64 ||
        !layout.Direct() || (depth != 0 && depth != bits) || (layout.planar == PLANARCONFIG_SEPARATE && samples > 1)) {
        return BandRender::kNotThisKind;
    }
    const std::size_t sample_size = bits / 8;
    StoredStrips source;
    if (!source.Open(tif, int(height), sample_size)) return BandRender::kNotThisKind;

    Image image;
    DescribeSource(tif, in, image);
    image.width = int(width);
    image.height = int(height);
    image.depth = bits;
    DescribeAlpha(layout, image);
    const int colours = layout.Colours(), alpha = layout.Alpha();
    image.compression = described.compression;
    if (image.tags.more_metadata) return BandRender::kNotThisKind;
    const int channels = image.has_alpha ? 4 : 3;
    const std::uint16_t compression = image.compression.empty() ? WrittenCompression(image.tags.compression)
                                                                : std::uint16_t(CompressionCode(image.compression));
    if (compression != COMPRESSION_NONE && compression != COMPRESSION_ADOBE_DEFLATE) return BandRender::kNotThisKind;
    // Bands of whole source strips, about a megabyte of samples each; a
    // source in strips far larger than that is read whole.
    const std::size_t row_bytes = std::size_t(width) * std::size_t(channels) * sample_size;
    const std::size_t per_band = std::max<std::size_t>(1, ((std::size_t(1) << 20) / row_bytes) / source.rows_per_strip);
    StripStandIns stand_ins;
    stand_ins.rows_per_strip = std::min<std::size_t>(per_band * source.rows_per_strip, height);
    if (stand_ins.rows_per_strip * row_bytes > (std::size_t(16) << 20)) return BandRender::kNotThisKind;
    stand_ins.count = (std::size_t(height) + stand_ins.rows_per_strip - 1) / stand_ins.rows_per_strip;

    // The directories first, with stand-ins for the strips.
    std::vector<unsigned char> head;
    std::vector<std::string> head_notes;
    StripArrays arrays;
    if (!EncodeWhole(format_path, image, settings, head_notes, head, error, &stand_ins)) return BandRender::kWriteFailed;
    if (!FindStripArrays(head, stand_ins.count, arrays)) return BandRender::kNotThisKind;
    head.resize(arrays.data_at);
    if (head.size() % 2 != 0) head.push_back(0);  // strips start on a word boundary
    const bool deflate = compression == COMPRESSION_ADOBE_DEFLATE;
    bool predictor = false;
    if (deflate) predictor = WrittenPredictor(image, compression) == PREDICTOR_HORIZONTAL;
    const int level = settings.compression >= 0 ? settings.compression : kTiffDefaultCompression;

    bands.begin(image);
    if (!out.Write(head.data(), head.size(), error)) return BandRender::kWriteFailed;
    // Strips are written in order as they are done, whichever worker did them.
    std::vector<std::uint32_t> offsets(stand_ins.count), counts(stand_ins.count);
    std::vector<std::vector<std::uint8_t>> done(stand_ins.count);
    std::vector<char> ready(stand_ins.count, 0);
    std::uint64_t end = head.size();
    std::size_t next = 0;
    std::mutex writing;
    std::atomic<bool> unreadable{false}, failed{false};
    std::string write_error;
    const auto place = [&](std::size_t i, const std::uint8_t* data, std::size_t size) {
        // Called with writing held.
        if (end + size > std::numeric_limits<std::uint32_t>::max()) {
            write_error = "cannot write " + format_path.string() + ": it would be larger than a TIFF holds (4 GiB)";
            return false;
        }
        offsets[i] = std::uint32_t(end), counts[i] = std::uint32_t(size);
        end += size;
        return out.Write(data, size, write_error);
    };
    const auto work = [&]<typename T>(T*) {
        const Placer<T> placer{samples, colours, alpha};
        settings.workers.ForEach(stand_ins.count, [&](std::size_t i) {
            if (unreadable || failed) return;
            const std::size_t y0 = i * stand_ins.rows_per_strip;
            const std::size_t rows = std::min(stand_ins.rows_per_strip, std::size_t(height) - y0);
            T* band = BandScratch<T>(rows * std::size_t(width) * 4);
            if (!source.Decode(y0, rows, width, placer, band)) {
                unreadable = true;
                return;
            }
            if constexpr (sizeof(T) == 2) bands.render(nullptr, band, int(y0), int(rows));
            else bands.render(band, nullptr, int(y0), int(rows));
            thread_local std::vector<std::uint8_t> encoded;  // kept: a fresh one is faulted in per strip
            const std::uint8_t* data = nullptr;
            std::size_t size = 0;
            if (deflate) {
                if (!DeflateStrip(band, width, rows, channels, predictor, level, encoded)) {
                    std::lock_guard lock(writing);
                    write_error = "cannot write " + format_path.string() + ": out of memory";
                    failed = true;
                    return;
                }
                data = encoded.data(), size = encoded.size();
            } else {
                T* packed = Scratch<T>(rows * std::size_t(width) * std::size_t(channels));
                PackRows(band, width, rows, channels, packed);
                data = reinterpret_cast<const std::uint8_t*>(packed);
                size = rows * row_bytes;
            }
            std::lock_guard lock(writing);
            if (failed) return;
            if (i == next) {
                if (!place(i, data, size)) failed = true;
                ++next;
                // Those done meanwhile, in order.
                while (!failed && next < stand_ins.count && ready[next]) {
                    if (!place(next, done[next].data(), done[next].size())) failed = true;
                    done[next] = {};
                    ++next;
                }
            } else {
                done[i].assign(data, data + size);
                ready[i] = 1;
            }
        });
    };
    if (bits == 16) work(static_cast<std::uint16_t*>(nullptr));
    else work(static_cast<std::uint8_t*>(nullptr));
    if (unreadable) return BandRender::kNotThisKind;
    if (failed) {
        error = write_error;
        return BandRender::kWriteFailed;
    }
    if (!PlaceStrips(arrays, offsets, counts, out, error)) return BandRender::kWriteFailed;
    notes.insert(notes.end(), head_notes.begin(), head_notes.end());
    described = std::move(image);
    return BandRender::kWritten;
}

}  // namespace velvetshade
