// The image library module: every image format through OpenImageIO.
#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>
#include <OpenImageIO/strutil.h>
#include <OpenImageIO/tiffutils.h>

#include <algorithm>
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

bool LibraryReadPage(const std::filesystem::path& path, int depth, int page, Image& image, std::string& error) {
    const QuietLibraries quiet;
    // Keep unassociated alpha as stored: the look leaves alpha alone, so the
    // colour values must not be premultiplied on the way in.
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::open(path.string(), &config);
    if (!in) {
        error = "cannot read " + path.string() + ": " + LastError("");
        return false;
    }
    if (page > 0 && !in->seek_subimage(page, 0)) {
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
    if (pixels > kMaxPixels || spec.nchannels > 64) {
        error = "cannot read " + path.string() + ": " + std::to_string(spec.width) + "x" +
                std::to_string(spec.height) + " with " + std::to_string(spec.nchannels) +
                " channels is larger than velvetshade handles";
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
    in->close();
    return true;
}

bool ReadImage(const std::filesystem::path& path, int depth, Image& image, std::string& error) {
    return LibraryReadPage(path, depth, 0, image, error);
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

bool CanWriteImage(const std::filesystem::path& path, std::string& error) {
    if (OIIO::ImageOutput::create(path.string())) return true;
    error = "cannot write " + path.string() + ": " +
            (path.extension().empty() ? std::string("no file extension to choose a format by")
                                      : "no image format for \"" + path.extension().string() + "\"");
    OIIO::geterror();  // drop the library's own copy of the message
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

// Images into memory: through the writer's own in-memory output where it
// has one, else through a file in memory. One spec per subimage.
bool EncodeSubimages(const std::filesystem::path& format_path, const std::vector<const Image*>& images,
                     const std::vector<const OIIO::ImageSpec*>& sources, std::vector<std::string>& notes,
                     std::vector<unsigned char>& bytes, std::string& error) {
    const QuietLibraries quiet;
    // Made before the writer, which may still write to them as it is destroyed.
    bytes.clear();
    OIIO::Filesystem::IOVecOutput in_memory(bytes);
    MemoryFile memory;
    auto out = OIIO::ImageOutput::create(format_path.string());
    if (!out || images.empty()) {
        CanWriteImage(format_path, error);
        return false;
    }
    const std::string format = out->format_name();
    const bool has_alpha = images.front()->has_alpha;
    const bool alpha = has_alpha && out->supports("alpha");
    if (has_alpha && !alpha) notes.push_back(format + " files hold no alpha; alpha dropped");
    std::vector<OIIO::ImageSpec> specs;
    for (std::size_t i = 0; i < images.size(); ++i) specs.push_back(OutputSpec(*images[i], sources[i], format, alpha));
    // OpenImageIO 2.4's TIFF reader takes LensSpecification's four rationals
    // for one meaningless float, and its TIFF writer crashes on that.
    bool misread_lens = false;
    for (OIIO::ImageSpec& spec : specs) {
        const OIIO::ParamValue* lens = spec.find_attribute("Exif:LensSpecification");
        if (lens == nullptr || std::size_t(lens->nvalues()) * lens->type().numelements() == 4) continue;
        spec.erase_attribute("Exif:LensSpecification");
        misread_lens = true;
    }
    if (misread_lens) notes.push_back("Exif field LensSpecification is dropped: the image library misreads it");
    // Fields of a TIFF source the library did not read are not in its
    // description, and go nowhere; one note for all pages.
    for (std::size_t i = 0; i < images.size(); ++i) {
        std::vector<std::string> unread;
        for (const std::string& name : images[i]->tags.other_fields) {
            if (sources[i] == nullptr || (sources[i]->find_attribute(name) == nullptr &&
                                          sources[i]->find_attribute("tiff:" + name) == nullptr)) {
                unread.push_back(name);
            }
        }
        if (unread.empty()) continue;
        std::string note = OtherFieldsNote(unread);
        if (std::find(notes.begin(), notes.end(), note) == notes.end()) notes.push_back(std::move(note));
    }
    const OIIO::ImageSpec* source = sources.front();
    if (format == "webp" && source != nullptr &&
        (source->get_int_attribute("Orientation", 1) != 1 || source->find_attribute("Exif:ExifVersion") != nullptr)) {
        notes.push_back("webp files are written without the source's Exif, Orientation among it");
    }

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
    bool ok = specs.size() == 1 ? out->open(open_name, specs.front())
                                : out->open(open_name, int(specs.size()), specs.data());
    for (std::size_t i = 0; ok && i < images.size(); ++i) {
        const Image& image = *images[i];
        if (i > 0) ok = out->open(open_name, specs[i], OIIO::ImageOutput::AppendSubimage);
        const OIIO::TypeDesc mem = image.depth == 16 ? OIIO::TypeDesc::UINT16 : OIIO::TypeDesc::UINT8;
        const void* data = image.depth == 16 ? static_cast<const void*>(image.pixels16.data())
                                             : static_cast<const void*>(image.pixels8.data());
        // Memory is always RGBA; with alpha dropped the fourth sample is skipped by stride.
        ok = ok && out->write_image(mem, data, OIIO::stride_t(4 * (image.depth == 16 ? 2 : 1)));
    }
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
    if (format == "png") AddPngExif(specs.front(), bytes);
    return true;
}

bool EncodeImage(const std::filesystem::path& format_path, const Image& image,
                 const LibraryDescription* description, std::vector<std::string>& notes,
                 std::vector<unsigned char>& bytes, std::string& error) {
    return EncodeSubimages(format_path, {&image}, {description != nullptr ? &description->spec : nullptr}, notes,
                           bytes, error);
}

// Several images into one file: the pages of a TIFF, the frames of a GIF.
bool LibraryEncodePages(const std::filesystem::path& format_path, const std::vector<Image>& pages,
                        std::vector<std::string>& notes, std::vector<unsigned char>& bytes, std::string& error) {
    std::vector<const Image*> images;
    std::vector<const OIIO::ImageSpec*> sources;
    for (const Image& page : pages) {
        images.push_back(&page);
        sources.push_back(page.source ? &page.source->spec : nullptr);
    }
    return EncodeSubimages(format_path, images, sources, notes, bytes, error);
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

constexpr ImageLibrary kLibrary = {ReadImage,         CanWriteImage,        EncodeImage,
                                   Describe,          LibraryReadPage,      LibraryCountPages,
                                   LibraryCanWritePages, LibraryEncodePages};

}  // namespace
}  // namespace velvetshade

extern "C" __attribute__((visibility("default"))) const velvetshade::ImageLibrary* VelvetshadeImageLibrary() {
    return &velvetshade::kLibrary;
}
