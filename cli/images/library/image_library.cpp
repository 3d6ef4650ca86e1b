// The image library module: every image format through OpenImageIO.
#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>
#include <OpenImageIO/strutil.h>
#include <OpenImageIO/tiffutils.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include "cli/images/image_io.h"
#include "cli/system/memory_file.h"

namespace velvetshade {

struct LibraryDescription {
    OIIO::ImageSpec spec;
};

namespace {

std::string LastError(const std::string& reader_error) {
    std::string text = reader_error.empty() ? OIIO::geterror() : reader_error;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (const auto nl = text.find('\n'); nl != std::string::npos) text.resize(nl);
    return text.empty() ? "unknown error" : text;
}

// Spreads nch interleaved channels into RGBA: grey fills red, green and blue;
// missing alpha becomes opaque.
template <typename T>
void ToRgba(const std::vector<T>& in, int nch, int alpha, std::size_t pixels, T opaque,
            PixelVector<T>& out) {
    const int colour = std::min(alpha >= 0 && alpha < 3 ? alpha : nch, 3);
    for (std::size_t i = 0; i < pixels; ++i) {
        const T* p = &in[i * std::size_t(nch)];
        T* q = &out[i * 4];
        if (colour >= 3) {
            q[0] = p[0];
            q[1] = p[1];
            q[2] = p[2];
        } else {
            q[0] = q[1] = q[2] = p[0];
        }
        q[3] = alpha >= 0 ? p[alpha] : opaque;
    }
}

// The format libraries below OpenImageIO print their own unprefixed lines
// ("libpng error: ...") besides the error they report; only the reported one
// reaches the user, in velvetshade's words.
class QuietLibraries {
public:
    QuietLibraries() {
        std::fflush(stderr);
        saved_ = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved_ >= 0 && null >= 0) ::dup2(null, 2);
        if (null >= 0) ::close(null);
    }
    ~QuietLibraries() {
        std::fflush(stderr);
        if (saved_ >= 0) {
            ::dup2(saved_, 2);
            ::close(saved_);
        }
    }
    QuietLibraries(const QuietLibraries&) = delete;
    QuietLibraries& operator=(const QuietLibraries&) = delete;

private:
    int saved_ = -1;
};

bool IsFloat(const OIIO::TypeDesc& t) {
    return t.basetype == OIIO::TypeDesc::HALF || t.basetype == OIIO::TypeDesc::FLOAT ||
           t.basetype == OIIO::TypeDesc::DOUBLE;
}

// The tags a TIFF written from this image carries, from the library's names.
ImageTags Tags(const OIIO::ImageSpec& spec, bool alpha) {
    ImageTags tags;
    tags.description = spec.get_string_attribute("ImageDescription");
    tags.date_time = spec.get_string_attribute("DateTime");
    tags.artist = spec.get_string_attribute("Artist");
    tags.copyright = spec.get_string_attribute("Copyright");
    tags.software = spec.get_string_attribute("Software");
    tags.x_resolution = spec.get_float_attribute("XResolution", 0.0f);
    tags.y_resolution = spec.get_float_attribute("YResolution", 0.0f);
    const std::string unit = spec.get_string_attribute("ResolutionUnit");
    tags.resolution_unit = unit == "in" || unit == "inch" ? 2 : unit == "cm" ? 3 : unit == "none" ? 1 : 0;
    tags.orientation = spec.get_int_attribute("Orientation", 0);
    if (const OIIO::ParamValue* icc = spec.find_attribute("ICCProfile"); icc != nullptr && icc->datasize() > 0) {
        const auto* bytes = static_cast<const std::uint8_t*>(icc->data());
        tags.icc_profile.assign(bytes, bytes + icc->datasize());
    }
    tags.associated_alpha = alpha && spec.get_int_attribute("oiio:UnassociatedAlpha", 0) == 0;
    // A camera's metadata, which only this library writes from its own
    // description.
    for (const auto& p : spec.extra_attribs) {
        const std::string name = p.name().string();
        for (const char* prefix : {"Exif:", "GPS:", "XMP:", "IPTC:", "photoshop:", "Make", "Model", "FNumber",
                                   "ExposureTime", "FocalLength"}) {
            tags.more_metadata = tags.more_metadata || OIIO::Strutil::starts_with(name, prefix);
        }
        tags.more_metadata = tags.more_metadata || OIIO::Strutil::istarts_with(name, "Exif:");
    }
    return tags;
}

std::unique_ptr<OIIO::ImageInput> OpenInput(const std::filesystem::path& path, std::string& error) {
    // Keep unassociated alpha as stored: the look leaves alpha alone, so the
    // colour values must not be premultiplied on the way in.
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::open(path.string(), &config);
    if (!in) error = "cannot read " + path.string() + ": " + LastError("");
    return in;
}

// A page of an open file; the reader stays open for the next.
bool ReadOpenPage(OIIO::ImageInput& input, const std::filesystem::path& path, int depth, int page, Image& image,
                  std::string& error) {
    OIIO::ImageInput* in = &input;
    if (page != in->current_subimage() && !in->seek_subimage(page, 0)) {
        error = "cannot read page " + std::to_string(page + 1) + " of " + path.string() + ": " +
                LastError(in->geterror());
        return false;
    }
    const OIIO::ImageSpec spec = in->spec();
    const std::int64_t pixels = std::int64_t(spec.width) * std::int64_t(spec.height);
    if (spec.width <= 0 || spec.height <= 0 || spec.nchannels <= 0 || spec.depth > 1) {
        error = "cannot read " + path.string() + ": not a two-dimensional image";
        return false;
    }
    if (pixels > kMaxPixels) {
        error = "cannot read " + path.string() + ": " + TooLargeMessage(spec.width, spec.height);
        return false;
    }
    if (spec.nchannels > 64) {
        error = "cannot read " + path.string() + ": " + std::to_string(spec.nchannels) +
                " channels are more than velvetshade handles (64)";
        return false;
    }
    const bool eight = spec.format.basetype == OIIO::TypeDesc::UINT8 ||
                       spec.format.basetype == OIIO::TypeDesc::INT8;
    const int bits = depth != 0 ? depth : (eight ? 8 : 16);
    const int nch = std::min(spec.nchannels, 4);
    const int alpha = spec.alpha_channel >= 0 && spec.alpha_channel < nch ? spec.alpha_channel : -1;

    image.Allocate(spec.width, spec.height, bits);
    image.has_alpha = alpha >= 0;
    image.source = std::make_shared<const LibraryDescription>(LibraryDescription{spec});
    image.attributes.clear();
    image.source_path.clear();
    image.tags = Tags(spec, image.has_alpha);
    image.jpeg = {};
    image.source_format = in->format_name();
    image.clipped = 0;
    const int subimage = in->current_subimage();
    bool ok;
    if (IsFloat(spec.format)) {
        // The look is defined on 0..1: values outside are clipped by the
        // conversion below, and counted so the user hears of it.
        std::vector<float> raw(std::size_t(pixels) * std::size_t(nch));
        ok = in->read_image(subimage, 0, 0, nch, OIIO::TypeDesc::FLOAT, raw.data());
        for (const float v : raw) image.clipped += (v < 0.0f || v > 1.0f) ? 1 : 0;
        const OIIO::TypeDesc to = bits == 8 ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::UINT16;
        if (ok && bits == 8) {
            std::vector<std::uint8_t> converted(raw.size());
            ok = OIIO::convert_pixel_values(OIIO::TypeDesc::FLOAT, raw.data(), to, converted.data(), int(raw.size()));
            if (ok) ToRgba<std::uint8_t>(converted, nch, alpha, std::size_t(pixels), 255, image.pixels8);
        } else if (ok) {
            std::vector<std::uint16_t> converted(raw.size());
            ok = OIIO::convert_pixel_values(OIIO::TypeDesc::FLOAT, raw.data(), to, converted.data(), int(raw.size()));
            if (ok) ToRgba<std::uint16_t>(converted, nch, alpha, std::size_t(pixels), 65535, image.pixels16);
        }
    } else if (bits == 8) {
        std::vector<std::uint8_t> raw(std::size_t(pixels) * std::size_t(nch));
        ok = in->read_image(subimage, 0, 0, nch, OIIO::TypeDesc::UINT8, raw.data());
        if (ok) ToRgba<std::uint8_t>(raw, nch, alpha, std::size_t(pixels), 255, image.pixels8);
    } else {
        std::vector<std::uint16_t> raw(std::size_t(pixels) * std::size_t(nch));
        ok = in->read_image(subimage, 0, 0, nch, OIIO::TypeDesc::UINT16, raw.data());
        if (ok) ToRgba<std::uint16_t>(raw, nch, alpha, std::size_t(pixels), 65535, image.pixels16);
    }
    if (!ok || in->has_error()) {
        error = "cannot read " + path.string() + ": " + LastError(in->geterror());
        return false;
    }
    return true;
}

bool ReadImage(const std::filesystem::path& path, int depth, Image& image, std::string& error) {
    const QuietLibraries quiet;
    auto in = OpenInput(path, error);
    if (!in || !ReadOpenPage(*in, path, depth, 0, image, error)) return false;
    in->close();
    return true;
}

class LibraryPages final : public PageReader {
public:
    LibraryPages(std::filesystem::path path, std::unique_ptr<OIIO::ImageInput> in)
        : path_(std::move(path)), in_(std::move(in)) {}
    bool Read(int page, int depth, Image& image, std::string& error) override {
        const QuietLibraries quiet;
        return ReadOpenPage(*in_, path_, depth, page, image, error);
    }

private:
    const std::filesystem::path path_;
    const std::unique_ptr<OIIO::ImageInput> in_;
};

PageReader* OpenPages(const std::filesystem::path& path, std::string& error) {
    const QuietLibraries quiet;
    auto in = OpenInput(path, error);
    return in ? new LibraryPages(path, std::move(in)) : nullptr;
}

int LibraryCountPages(const std::filesystem::path& path) {
    const QuietLibraries quiet;
    auto in = OIIO::ImageInput::open(path.string());
    if (!in) {
        OIIO::geterror();
        return 0;
    }
    int pages = 1;
    while (in->seek_subimage(pages, 0)) ++pages;
    return pages;
}

bool LibraryCanWritePages(const std::filesystem::path& path) {
    auto out = OIIO::ImageOutput::create(path.string());
    return out && out->supports("multiimage") && out->supports("appendsubimage");
}

// The first extension of every format the library writes, from its list
// ("tiff:tif,tiff;png:png;..."), for a message.
std::string WritableExtensions() {
    std::string list;
    std::istringstream formats(OIIO::get_string_attribute("extension_list"));
    for (std::string entry; std::getline(formats, entry, ';');) {
        const auto colon = entry.find(':');
        if (colon == std::string::npos) continue;
        const std::string extension = entry.substr(colon + 1, entry.find(',', colon) - colon - 1);
        const std::string format = entry.substr(0, colon);
        // Not files anyone asks for: a discarding writer, a terminal's, a test format.
        if (format == "null" || format == "term" || format == "zfile") continue;
        if (extension.empty() || !OIIO::ImageOutput::create(format)) continue;
        list += (list.empty() ? "." : ", .") + extension;
    }
    OIIO::geterror();
    return list;
}

bool CanWriteImage(const std::filesystem::path& path, std::string& error) {
    if (OIIO::ImageOutput::create(path.string())) return true;
    OIIO::geterror();  // drop the library's own copy of the message
    error = "cannot write " + path.string() + ": " +
            (path.extension().empty() ? std::string("no file extension to choose a format by")
                                      : "no image format for \"" + path.extension().string() + "\"") +
            "; images are written as " + WritableExtensions() + " (videos as .mp4, .mov, .mkv, ...)";
    return false;
}

OIIO::ImageSpec OutputSpec(const Image& image, const OIIO::ImageSpec* source, const std::string& format,
                           bool alpha) {
    OIIO::TypeDesc type = image.depth == 16 ? OIIO::TypeDesc::UINT16 : OIIO::TypeDesc::UINT8;
    const bool float_source = source != nullptr && IsFloat(source->format);
    if (format == "openexr") {
        type = float_source ? source->format : OIIO::TypeDesc(OIIO::TypeDesc::HALF);
    } else if (format == "tiff" && float_source) {
        type = source->format;
    }
    const int nch = alpha ? 4 : 3;
    OIIO::ImageSpec spec(image.width, image.height, nch, type);
    if (source != nullptr) spec.extra_attribs = source->extra_attribs;
    // An image turned upright (see TurnUpright) carries no orientation.
    if (image.tags.orientation == 0) spec.erase_attribute("Orientation");
    for (const auto& [name, value] : image.attributes) spec.attribute(name, value);
    // Bit layout and compression belong to the source file, not to ours.
    spec.erase_attribute("oiio:BitsPerSample");
    if (format != image.source_format) {
        spec.erase_attribute("compression");
        spec.erase_attribute("Compression");
    }
    // OpenEXR holds no ICC profile; its writer would only complain of one.
    if (format == "openexr") spec.erase_attribute("ICCProfile");
    if (!image.compression.empty()) {
        spec.attribute("compression", format == "tiff" && image.compression == "deflate" ? "zip" : image.compression);
    }
    if (image.quality > 0) {
        spec.attribute("CompressionQuality", image.quality);
        if (format == "jpeg" || format == "webp") {
            spec.attribute("compression", format + ":" + std::to_string(image.quality));
        }
    }
    spec.channelnames = {"R", "G", "B"};
    spec.alpha_channel = -1;
    if (alpha) {
        spec.channelnames.push_back("A");
        spec.alpha_channel = 3;
        // PNG alpha is unassociated: without this the writer would divide the
        // colours by alpha. A TIFF says which kind it holds: the source's.
        if (format == "png" || (format == "tiff" && !image.tags.associated_alpha)) {
            spec.attribute("oiio:UnassociatedAlpha", 1);
        }
    } else {
        spec.erase_attribute("oiio:UnassociatedAlpha");
    }
    return spec;
}

// The PNG writer keeps text but not Exif (Orientation among it); PNG's own
// place for Exif is an eXIf chunk, which the reader takes back. It goes
// right after the header chunk.
void AddPngExif(const OIIO::ImageSpec& spec, std::vector<unsigned char>& png) {
    bool any = spec.get_int_attribute("Orientation", 1) != 1;
    for (const auto& p : spec.extra_attribs) any = any || OIIO::Strutil::istarts_with(p.name().string(), "Exif:");
    constexpr std::size_t kAfterHeader = 8 + 8 + 13 + 4;  // signature, IHDR
    if (!any || png.size() < kAfterHeader || std::memcmp(&png[12], "IHDR", 4) != 0) return;
    std::vector<char> blob;
    OIIO::encode_exif(spec, blob);
    // The blob may come with the "Exif\0\0" prefix that JPEG uses.
    const std::size_t start = blob.size() >= 6 && std::memcmp(blob.data(), "Exif\0\0", 6) == 0 ? 6 : 0;
    if (blob.size() <= start + 8) return;
    std::vector<unsigned char> chunk;
    const auto be32 = [&chunk](std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) chunk.push_back(static_cast<unsigned char>(v >> shift));
    };
    be32(std::uint32_t(blob.size() - start));
    chunk.insert(chunk.end(), {'e', 'X', 'I', 'f'});
    chunk.insert(chunk.end(), blob.begin() + std::ptrdiff_t(start), blob.end());
    be32(std::uint32_t(crc32(0, chunk.data() + 4, uInt(chunk.size() - 4))));
    png.insert(png.begin() + std::ptrdiff_t(kAfterHeader), chunk.begin(), chunk.end());
}

void NoteOnce(std::vector<std::string>& notes, std::string note) {
    if (std::find(notes.begin(), notes.end(), note) == notes.end()) notes.push_back(std::move(note));
}

// The writer's description of one image, and what of it the format or the
// library cannot keep (each note once, however many pages bring it).
OIIO::ImageSpec WriterSpec(const Image& image, const OIIO::ImageSpec* source, const std::string& format, bool alpha,
                           std::vector<std::string>& notes) {
    OIIO::ImageSpec spec = OutputSpec(image, source, format, alpha);
    // OpenImageIO 2.4's TIFF reader takes LensSpecification's four rationals
    // for one meaningless float, and its TIFF writer crashes on that.
    const OIIO::ParamValue* lens = spec.find_attribute("Exif:LensSpecification");
    if (lens != nullptr && std::size_t(lens->nvalues()) * lens->type().numelements() != 4) {
        spec.erase_attribute("Exif:LensSpecification");
        NoteOnce(notes, "Exif field LensSpecification is dropped: the image library misreads it");
    }
    // Fields of a TIFF source the library did not read are not in its
    // description, and go nowhere.
    std::vector<std::string> unread;
    for (const std::string& name : image.tags.other_fields) {
        if (source == nullptr ||
            (source->find_attribute(name) == nullptr && source->find_attribute("tiff:" + name) == nullptr)) {
            unread.push_back(name);
        }
    }
    if (!unread.empty()) NoteOnce(notes, OtherFieldsNote(unread));
    if (format == "webp" && source != nullptr &&
        (source->get_int_attribute("Orientation", 1) != 1 || source->find_attribute("Exif:ExifVersion") != nullptr)) {
        NoteOnce(notes, "webp files are written without the source's Exif, Orientation among it");
    }
    return spec;
}

bool WritePixels(OIIO::ImageOutput& out, const Image& image) {
    const OIIO::TypeDesc mem = image.depth == 16 ? OIIO::TypeDesc::UINT16 : OIIO::TypeDesc::UINT8;
    const void* data = image.depth == 16 ? static_cast<const void*>(image.pixels16.data())
                                         : static_cast<const void*>(image.pixels8.data());
    // Memory is always RGBA; with alpha dropped the fourth sample is skipped by stride.
    return out.write_image(mem, data, OIIO::stride_t(4 * (image.depth == 16 ? 2 : 1)));
}

// One image into memory: through the writer's own in-memory output where it
// has one, else through a file in memory.
bool EncodeImage(const std::filesystem::path& format_path, const Image& image,
                 const LibraryDescription* description, std::vector<std::string>& notes,
                 std::vector<unsigned char>& bytes, std::string& error) {
    const QuietLibraries quiet;
    // Made before the writer, which may still write to them as it is destroyed.
    bytes.clear();
    OIIO::Filesystem::IOVecOutput in_memory(bytes);
    MemoryFile memory;
    auto out = OIIO::ImageOutput::create(format_path.string());
    if (!out) {
        CanWriteImage(format_path, error);
        return false;
    }
    const std::string format = out->format_name();
    const bool alpha = image.has_alpha && out->supports("alpha");
    if (image.has_alpha && !alpha) notes.push_back(format + " files hold no alpha; alpha dropped");
    const OIIO::ImageSpec spec =
        WriterSpec(image, description != nullptr ? &description->spec : nullptr, format, alpha, notes);

    std::string open_name = format_path.string();
    // The TIFF writer's in-memory output (OpenImageIO 2.4) makes files that
    // cannot be read back: a TIFF goes through a file in memory.
    if (out->supports("ioproxy") && format != "tiff") {
        out->set_ioproxy(&in_memory);
    } else if (memory.Create(error)) {
        open_name = memory.path();
    } else {
        error = "cannot write " + format_path.string() + ": " + error;
        return false;
    }
    bool ok = out->open(open_name, spec) && WritePixels(*out, image);
    ok = out->close() && ok;
    // Only the results count: the TIFF writer records an error about an Exif
    // directory it was never asked to write, and still writes a good file.
    if (!ok) {
        error = "cannot write " + format_path.string() + ": " + LastError(out->geterror());
        return false;
    }
    if (open_name != format_path.string() && !memory.ReadAll(bytes, error)) {
        error = "cannot write " + format_path.string() + ": " + error;
        return false;
    }
    if (format == "png") AddPngExif(spec, bytes);
    return true;
}

// A GIF frame's delay in hundredths of a second, as the reader gives it
// (frames per second, 100 over the delay), or -1 for none.
int GifDelay(const OIIO::ImageSpec* source) {
    const OIIO::ParamValue* fps = source != nullptr ? source->find_attribute("FramesPerSecond") : nullptr;
    if (fps == nullptr) return -1;
    double rate = 0;
    if (fps->type() == OIIO::TypeRational) {
        const int* r = static_cast<const int*>(fps->data());
        rate = r[1] != 0 ? double(r[0]) / r[1] : 0;
    } else {
        rate = source->get_float_attribute("FramesPerSecond", 0.0f);
    }
    return rate > 0 && 100 / rate < 65535.5 ? int(std::lround(100 / rate)) : -1;
}

// Sets the delay of each frame of the GIF in fd that has one: the library's
// writer gives every frame the first one's. Walks the blocks in order,
// reading ahead a piece at a time.
bool SetGifDelays(int fd, const std::vector<int>& delays, std::string& error) {
    std::vector<unsigned char> piece(1 << 16);
    off_t piece_at = 0;
    std::size_t piece_size = 0;
    bool failed = false;
    const auto byte = [&](off_t at) -> int {
        if (at < piece_at || at >= piece_at + off_t(piece_size)) {
            const ssize_t n = ::pread(fd, piece.data(), piece.size(), at);
            failed = failed || n < 0;
            piece_at = at;
            piece_size = n > 0 ? std::size_t(n) : 0;
            if (piece_size == 0) return -1;
        }
        return piece[std::size_t(at - piece_at)];
    };
    const auto skip_sub_blocks = [&](off_t at) {
        for (int size; (size = byte(at)) > 0;) at += 1 + size;
        return at + 1;
    };
    const auto colour_table = [](int flags) { return (flags & 0x80) != 0 ? off_t(3) << ((flags & 7) + 1) : 0; };
    off_t at = 13 + colour_table(byte(10));
    std::size_t frame = 0;
    for (int kind; !failed && (kind = byte(at)) != 0x3B && kind >= 0;) {
        if (kind == 0x21) {
            if (byte(at + 1) == 0xF9 && frame < delays.size()) {
                if (delays[frame] >= 0) {
                    const unsigned char delay[2] = {static_cast<unsigned char>(delays[frame] & 0xFF),
                                                    static_cast<unsigned char>(delays[frame] >> 8)};
                    failed = ::pwrite(fd, delay, 2, at + 4) != 2;
                    piece_size = 0;
                }
                ++frame;
            }
            at = skip_sub_blocks(at + 2);
        } else if (kind == 0x2C) {
            at = skip_sub_blocks(at + 10 + colour_table(byte(at + 9)) + 1);
        } else {
            break;
        }
    }
    if (failed) error = std::strerror(errno);
    return !failed;
}

// The pages of a TIFF, the frames of a GIF, written one at a time into a
// file in memory, which holds the file's bytes only.
class LibraryPageWriter final : public PageWriter {
public:
    LibraryPageWriter(std::filesystem::path format_path, std::unique_ptr<OIIO::ImageOutput> out)
        : format_path_(std::move(format_path)), out_(std::move(out)) {}
    ~LibraryPageWriter() override {
        if (open_) {
            const QuietLibraries quiet;
            out_->close();
        }
    }
    bool Create(std::string& error) {
        if (memory_.Create(error)) return true;
        error = "cannot write " + format_path_.string() + ": " + error;
        return false;
    }
    bool Add(const Image& page, const LibraryDescription* source, std::vector<std::string>& notes,
             std::string& error) override {
        const QuietLibraries quiet;
        const std::string format = out_->format_name();
        if (!open_) {
            alpha_ = page.has_alpha && out_->supports("alpha");
            if (page.has_alpha && !alpha_) NoteOnce(notes, format + " files hold no alpha; alpha dropped");
        }
        // Each page keeps its own description: a GIF frame's delay among it.
        const OIIO::ImageSpec spec =
            WriterSpec(page, source != nullptr ? &source->spec : nullptr, format, alpha_, notes);
        const bool opened = open_ ? out_->open(memory_.path(), spec, OIIO::ImageOutput::AppendSubimage)
                                  : out_->open(memory_.path(), spec);
        open_ = open_ || opened;
        if (format == "gif") delays_.push_back(GifDelay(source != nullptr ? &source->spec : nullptr));
        if (!opened || !WritePixels(*out_, page)) {
            error = "cannot write " + format_path_.string() + ": " + LastError(out_->geterror());
            return false;
        }
        return true;
    }
    bool Finish(const ByteSink& sink, std::string& error) override {
        const QuietLibraries quiet;
        const bool closed = out_->close();
        open_ = false;
        if (!closed) {
            error = "cannot write " + format_path_.string() + ": " + LastError(out_->geterror());
            return false;
        }
        std::string why;
        if (!delays_.empty() && !SetGifDelays(memory_.fd(), delays_, why)) {
            error = "cannot write " + format_path_.string() + ": " + why;
            return false;
        }
        if (!memory_.ReadPieces(sink, why)) {
            error = why;
            return false;
        }
        return true;
    }

private:
    const std::filesystem::path format_path_;
    // The file in memory outlives the writer, which may write as it closes.
    MemoryFile memory_;
    std::unique_ptr<OIIO::ImageOutput> out_;
    bool open_ = false;
    bool alpha_ = false;
    std::vector<int> delays_;  // of the GIF's frames in hundredths of a second; -1: the writer's
};

PageWriter* WritePages(const std::filesystem::path& format_path, std::string& error) {
    auto out = OIIO::ImageOutput::create(format_path.string());
    if (!out) {
        CanWriteImage(format_path, error);
        return nullptr;
    }
    auto writer = std::make_unique<LibraryPageWriter>(format_path, std::move(out));
    return writer->Create(error) ? writer.release() : nullptr;
}

bool Describe(const std::filesystem::path& path, std::shared_ptr<const LibraryDescription>& description,
              std::string& error) {
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    const QuietLibraries quiet;
    auto in = OIIO::ImageInput::open(path.string(), &config);
    if (!in) {
        error = "cannot read " + path.string() + ": " + LastError("");
        return false;
    }
    description = std::make_shared<const LibraryDescription>(LibraryDescription{in->spec()});
    return true;
}

constexpr ImageLibrary kLibrary = {ReadImage, CanWriteImage,     EncodeImage,          Describe,
                                   OpenPages, LibraryCountPages, LibraryCanWritePages, WritePages};

}  // namespace
}  // namespace velvetshade

extern "C" __attribute__((visibility("default"))) const velvetshade::ImageLibrary* VelvetshadeImageLibrary() {
    return &velvetshade::kLibrary;
}
