#include "cli/images/image_io.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "cli/system/companion_module.h"
#include "cli/system/input_file.h"
#include "cli/images/jpeg_file.h"
#include "cli/images/png_file.h"
#include "cli/images/tiff_file.h"

namespace velvetshade {
namespace fs = std::filesystem;
namespace {

// Kept for the process's life: images it filled may hold descriptions whose
// code lives in it.
const ImageLibrary* Library(std::string& error) {
    return LoadCompanionTable<ImageLibrary>("the image library", "velvetshade-images.so", "VelvetshadeImageLibrary",
                                            error);
}

bool StartsLikeJpeg(const fs::path& path) {
    unsigned char head[3] = {};
    std::FILE* f = std::fopen(path.c_str(), "rbe");
    if (f == nullptr) return false;
    const bool jpeg = std::fread(head, 1, 3, f) == 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
    std::fclose(f);
    return jpeg;
}


}  // namespace

void NoteLeftOut(const Image& image, bool png, std::vector<std::string>& notes) {
    const ImageTags& t = image.tags;
    notes.insert(notes.end(), t.dropped.begin(), t.dropped.end());
    // Fields of a TIFF source no writer carries, but those libtiff keeps.
    std::vector<std::string> others;
    for (const std::string& name : t.other_fields) {
        const auto same = [&](const TiffField& f) { return name == KeptTiffFieldName(f.tag); };
        if (png || std::none_of(t.kept_fields.begin(), t.kept_fields.end(), same)) others.push_back(name);
    }
    if (!others.empty()) notes.push_back(OtherFieldsNote(others));
    // A PNG holds the XMP packet in a text, and neither IPTC nor Photoshop's
    // resources.
    std::vector<std::string> dropped;
    if (png && !t.xmp.empty() && !PngCarriesXmp(t.xmp)) {
        dropped.push_back("the XMP packet is dropped: it holds a zero byte, which PNG text cannot");
    }
    if (png && (!t.iptc.empty() || !t.photoshop.empty())) {
        dropped.push_back(t.iptc.empty() ? "the Photoshop block is dropped: PNG files hold none"
                                         : "the IPTC block is dropped: PNG files hold none");
    }
    // A JPEG's markers beyond the Exif, the main XMP packet, the profile and
    // Photoshop's resources; a comment that is the description goes as that.
    const auto starts = [](const JpegMarker& m, const char* signature, std::size_t size) {
        return m.data.size() >= size && std::memcmp(m.data.data(), signature, size) == 0;
    };
    const auto drop = [&](std::string what) {
        if (std::find(dropped.begin(), dropped.end(), what) == dropped.end()) dropped.push_back(std::move(what));
    };
    for (const JpegMarker& m : image.jpeg.markers) {
        if (m.code == 0xE1 && starts(m, "http://ns.adobe.com/xmp/extension/", 35)) {
            drop("the extended XMP is dropped: velvetshade carries the main XMP packet only");
        } else if ((m.code == 0xE1 && (starts(m, "http://ns.adobe.com/xap/1.0/", 29) || starts(m, "Exif\0\0", 6))) ||
                   (m.code == 0xE2 && starts(m, "ICC_PROFILE", 12)) ||
                   (m.code == 0xED && starts(m, "Photoshop 3.0", 14))) {
            continue;
        } else if (m.code == 0xFE) {
            std::string text(m.data.begin(), m.data.end());
            while (!text.empty() && text.back() == '\0') text.pop_back();
            if (text == t.description) continue;
            drop("the JPEG comment is dropped: velvetshade does not carry it into other formats");
        } else {
            drop("the JPEG's APP" + std::to_string(m.code - 0xE0) + " block is dropped: velvetshade does not know it");
        }
    }
    notes.insert(notes.end(), dropped.begin(), dropped.end());
    if (!png && t.HasPngColourChunks()) {
        std::vector<std::string> chunks;
        if (t.png_gamma != 0) chunks.push_back("gAMA");
        if ((t.png_chromaticities[0] | t.png_chromaticities[1]) != 0) chunks.push_back("cHRM");
        if (t.png_srgb_intent >= 0) chunks.push_back("sRGB");
        std::string names;
        for (const std::string& c : chunks) names += (names.empty() ? "" : ", ") + c;
        notes.push_back(chunks.size() == 1
                            ? "PNG chunk " + names + " is dropped: velvetshade carries it into PNG files only"
                            : "PNG chunks " + names + " are dropped: velvetshade carries them into PNG files only");
    }
    if (!png && !t.png_texts.empty()) {
        std::string keys;
        for (const PngText& text : t.png_texts) keys += (keys.empty() ? "" : ", ") + text.key;
        notes.push_back(t.png_texts.size() == 1
                            ? "PNG text " + keys + " is dropped: velvetshade carries it into PNG files only"
                            : "PNG texts " + keys + " are dropped: velvetshade carries them into PNG files only");
    }
}

bool ReadImage(const fs::path& path, int depth, Image& image, std::string& error, const Workers& workers,
               const RowsRead& rows_read) {
    if (!CheckInputFile(path, error)) return false;
    if (IsTiffFile(path)) return ReadTiff(path, depth, image, error, workers);
    if (IsDirectPng(path)) return ReadPng(path, depth, image, error, rows_read);
    bool handled = false;
    if (const bool read = ReadJpeg(path, depth, image, handled, error, rows_read); handled) return read;
    const ImageLibrary* library = Library(error);
    if (library == nullptr) {
        error = "cannot read " + path.string() + ": " + error;
        return false;
    }
    return library->read(path, depth, image, error);
}

bool CanWriteImage(const fs::path& path, std::string& error, bool* by_name) {
    if (by_name != nullptr) *by_name = false;
    if (IsTiffName(path) || IsPngName(path) || IsJpegName(path)) return true;
    const ImageLibrary* library = Library(error);
    if (library == nullptr) {
        error = "cannot write " + path.string() + ": " + error;
        return false;
    }
    if (library->can_write(path, error)) return true;
    if (by_name != nullptr) *by_name = true;
    return false;
}

bool EncodeImage(const fs::path& format_path, const Image& image, std::vector<std::string>& notes,
                 std::vector<unsigned char>& bytes, std::string& error, const WriteSettings& settings) {
    // The direct JPEG writer keeps the source's quantisation; a quality asked
    // for goes through the library.
    if (IsJpegName(format_path) && CanWriteJpegDirectly(image) && image.quality == 0) {
        return EncodeJpeg(format_path, image, bytes, error);
    }
    // Our own writers carry the metadata of every file read without the
    // image library; one the library read, in which it found a camera's
    // metadata, goes back through it. Our PNG writer knows no compression
    // but zip.
    if (IsPngName(format_path) && !image.tags.more_metadata &&
        (image.compression.empty() || image.compression == "zip")) {
        if (!EncodePng(format_path, image, settings.compression, settings.workers, bytes, error, settings.png_ahead,
                       settings.sink)) {
            return false;
        }
        NoteLeftOut(image, true, notes);
        return true;
    }
    if (IsTiffName(format_path) && !image.tags.more_metadata) {
        if (!EncodeTiff(format_path, image, settings, notes, bytes, error)) return false;
        NoteLeftOut(image, false, notes);
        return true;
    }
    const ImageLibrary* library = Library(error);
    if (library == nullptr) {
        error = "cannot write " + format_path.string() + ": " + error;
        return false;
    }
    // A file read without the library goes elsewhere: the library's own
    // description of the source goes with it, as if the library had read it.
    std::shared_ptr<const LibraryDescription> described;
    if (!image.source && !image.source_path.empty()) {
        if (!library->describe(image.source_path, described, error)) return false;
    }
    return library->encode(format_path, image, described ? described.get() : image.source.get(), notes, bytes,
                           error);
}

int CountPages(const fs::path& path) {
    std::string error;
    // A FIFO or device would block the first reader; reading reports it.
    if (!CheckInputFile(path, error)) return 0;
    if (IsTiffFile(path)) return CountTiffPages(path);
    // PNGs read without the library and JPEGs hold one image: asking the
    // library would load it for nothing.
    if (IsDirectPng(path) || StartsLikeJpeg(path)) return 1;
    const ImageLibrary* library = Library(error);
    return library == nullptr ? 0 : library->count_pages(path);
}

namespace {

// A TIFF's first page through libtiff, as ReadImage reads it, the rest
// through the library, which reads any page; every other file's pages
// through the library.
class Pages final : public PageReader {
public:
    Pages(fs::path path, const ImageLibrary* library) : path_(std::move(path)), library_(library) {}
    bool Read(int page, int depth, Image& image, std::string& error) override {
        if (page == 0 && IsTiffFile(path_)) return ReadImage(path_, depth, image, error);
        if (!reader_) {
            reader_.reset(library_->open_pages(path_, error));
            if (!reader_) return false;
        }
        if (!reader_->Read(page, depth, image, error)) return false;
        // The library does not say which of a page's fields it left unread.
        if (IsTiffFile(path_)) image.tags.other_fields = OtherTiffFields(path_, page);
        return true;
    }

private:
    const fs::path path_;
    const ImageLibrary* library_;
    std::unique_ptr<PageReader> reader_;
};

// Pages read by libtiff carry no library description: each is given one.
class DescribedPages final : public PageWriter {
public:
    DescribedPages(const ImageLibrary* library, std::unique_ptr<PageWriter> writer)
        : library_(library), writer_(std::move(writer)) {}
    bool Add(const Image& page, const LibraryDescription* source, std::vector<std::string>& notes,
             std::string& error) override {
        std::shared_ptr<const LibraryDescription> described;
        if (source == nullptr && !page.source && !page.source_path.empty()) {
            if (!library_->describe(page.source_path, described, error)) return false;
            source = described.get();
        }
        return writer_->Add(page, source != nullptr ? source : page.source.get(), notes, error);
    }
    bool Finish(const ByteSink& sink, std::string& error) override { return writer_->Finish(sink, error); }

private:
    const ImageLibrary* library_;
    std::unique_ptr<PageWriter> writer_;
};

}  // namespace

std::unique_ptr<PageReader> OpenPages(const fs::path& path, std::string& error) {
    const ImageLibrary* library = Library(error);
    if (library == nullptr) {
        error = "cannot read " + path.string() + ": " + error;
        return nullptr;
    }
    return std::make_unique<Pages>(path, library);
}

bool CanWritePages(const fs::path& path) {
    std::string error;
    const ImageLibrary* library = Library(error);
    return library != nullptr && library->can_write_pages(path);
}

std::unique_ptr<PageWriter> WritePages(const fs::path& format_path, std::string& error) {
    const ImageLibrary* library = Library(error);
    if (library == nullptr) {
        error = "cannot write " + format_path.string() + ": " + error;
        return nullptr;
    }
    std::unique_ptr<PageWriter> writer(library->write_pages(format_path, error));
    if (!writer) return nullptr;
    return std::make_unique<DescribedPages>(library, std::move(writer));
}

}  // namespace velvetshade
